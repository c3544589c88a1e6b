#include "platform/ServiceConfig.h"

#include "platform/DurableFile.h"
#include "platform/Log.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class ServiceConfigTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const char* name : {"SONDREL_API_ORIGIN", "SONDREL_CLIENT_ID", "SONDREL_SERVICE_INFO",
                                 "SONDREL_CA_CERT"}) {
            qunsetenv(name);
        }
        if (runtimeDir) {
            qputenv("XDG_RUNTIME_DIR", *runtimeDir);
        } else {
            qunsetenv("XDG_RUNTIME_DIR");
        }
    }
    const std::optional<QByteArray> runtimeDir =
        qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")
            ? std::optional<QByteArray>(qgetenv("XDG_RUNTIME_DIR"))
            : std::nullopt;
    QTemporaryDir dir;
};

TEST_F(ServiceConfigTest, DefaultsPointAtTheLocalStandIn) {
    qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8()); // holds no information file
    const sondrel::ServiceConfig config = sondrel::loadServiceConfig({});
    EXPECT_EQ(config.apiOrigin, QStringLiteral("https://127.0.0.1:47443"));
    EXPECT_EQ(config.apiHttpOrigin, QStringLiteral("http://127.0.0.1:47080"));
    EXPECT_EQ(config.mainOrigin, QStringLiteral("https://127.0.0.1:47443"));
    EXPECT_TRUE(config.infoFileProblem.isEmpty());
    EXPECT_EQ(config.apiBase(), QStringLiteral("https://127.0.0.1:47443/method"));
    EXPECT_FALSE(config.clientId.isEmpty());
    EXPECT_TRUE(config.caCertificate.isEmpty());
}

TEST_F(ServiceConfigTest, CommandLineBeatsEnvironmentBeatsInfoFile) {
    const QString info = dir.filePath(QStringLiteral("service.json"));
    ASSERT_TRUE(sondrel::writeFileDurably(info, R"({"api_origin": "https://127.0.0.1:1/",
        "client_id": "111", "certificate": "/tmp/cert.pem", "main_origin": "http://127.0.0.1:2"})")
                    .ok);
    qputenv("SONDREL_SERVICE_INFO", info.toUtf8());
    sondrel::ServiceConfig config = sondrel::loadServiceConfig({});
    EXPECT_EQ(config.apiOrigin, QStringLiteral("https://127.0.0.1:1")) << "trailing slash dropped";
    EXPECT_EQ(config.clientId, QStringLiteral("111"));
    EXPECT_EQ(config.caCertificate, QStringLiteral("/tmp/cert.pem"));
    EXPECT_EQ(config.mainOrigin, QStringLiteral("http://127.0.0.1:2"));

    qputenv("SONDREL_CLIENT_ID", "222");
    config = sondrel::loadServiceConfig({});
    EXPECT_EQ(config.clientId, QStringLiteral("222"));

    config = sondrel::loadServiceConfig({QStringLiteral("sondrel"), QStringLiteral("--client-id"),
                                         QStringLiteral("333"),
                                         QStringLiteral("--api-origin=https://127.0.0.1:3")});
    EXPECT_EQ(config.clientId, QStringLiteral("333"));
    EXPECT_EQ(config.apiOrigin, QStringLiteral("https://127.0.0.1:3"));
}

TEST_F(ServiceConfigTest, BrokenInfoFileAndMissingCertificateAreHarmless) {
    const QString info = dir.filePath(QStringLiteral("service.json"));
    ASSERT_TRUE(sondrel::writeFileDurably(info, "{ broken").ok);
    const sondrel::ServiceConfig config =
        sondrel::loadServiceConfig({QStringLiteral("--service-info"), info});
    EXPECT_EQ(config.apiOrigin, QStringLiteral("https://127.0.0.1:47443"));
    EXPECT_FALSE(sondrel::trustExtraCertificate(dir.filePath(QStringLiteral("none.pem"))));
}

// A planted information file names a server and a certificate of someone else's: only
// the user's own file, writable by no one else, counts; the shared temp folder is never
// looked at.
TEST_F(ServiceConfigTest, InformationFileMustBeTheUsersOwn) {
    const QByteArray kPlanted = R"({"api_origin": "https://evil.example:1"})";
    const uid_t other = 65534; // nobody
    struct Row {
        const char* what;
        int mode;
        uid_t owner;
        gid_t group;
        bool used;
    } rows[] = {
        {"own file, 0600", 0600, ::geteuid(), ::getegid(), true},
        {"own file, 0644", 0644, ::geteuid(), ::getegid(), true},
        {"own group may write", 0660, ::geteuid(), ::getegid(), true},
        {"another group may write", 0660, ::geteuid(), other, false},
        {"anyone may write", 0606, ::geteuid(), ::getegid(), false},
        {"owned by another user", 0600, other, ::getegid(), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const QString info = dir.filePath(QStringLiteral("service.json"));
        QFile::remove(info);
        ASSERT_TRUE(sondrel::writeFileDurably(info, kPlanted, 0600).ok);
        if (::chown(QFile::encodeName(info).constData(), row.owner, row.group) != 0 &&
            (row.owner != ::geteuid() || row.group != ::getegid())) {
            GTEST_SKIP() << "cannot give a file away here (not root)";
        }
        ASSERT_EQ(::chmod(QFile::encodeName(info).constData(), mode_t(row.mode)), 0);
        sondrel::LogCapture log;
        const sondrel::ServiceConfig config =
            sondrel::loadServiceConfig({QStringLiteral("--service-info"), info});
        EXPECT_EQ(config.apiOrigin == QStringLiteral("https://evil.example:1"), row.used);
        EXPECT_EQ(config.infoFileProblem.isEmpty(), row.used)
            << config.infoFileProblem.toStdString();
        EXPECT_EQ(log.lines().size(), row.used ? 0 : 1);
    }

    // Without a private runtime folder no file is read at all, not even the temp folder's.
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_TRUE(sondrel::defaultServiceInfoPath().isEmpty());
    qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
    EXPECT_EQ(sondrel::defaultServiceInfoPath(),
              dir.filePath(QStringLiteral("sondrel-service.json")));
}

TEST_F(ServiceConfigTest, UnusableInformationFileIsSaidOnlyWhenAskedFor) {
    qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
    EXPECT_TRUE(sondrel::loadServiceConfig({}).infoFileProblem.isEmpty()) << "none there";
    const QString missing = dir.filePath(QStringLiteral("missing.json"));
    EXPECT_FALSE(sondrel::loadServiceConfig({QStringLiteral("--service-info"), missing})
                     .infoFileProblem.isEmpty());
    ASSERT_TRUE(sondrel::writeFileDurably(dir.filePath(QStringLiteral("sondrel-service.json")),
                                          "[1, 2]", 0600)
                    .ok);
    EXPECT_FALSE(sondrel::loadServiceConfig({}).infoFileProblem.isEmpty()) << "not an object";
}

TEST(AccessTokenTransport, HttpsAnywhereHttpOnlyToThisMachine) {
    const struct {
        const char* url;
        bool allowed;
    } rows[] = {
        {"https://api.example.org/method/audio.get", true},
        {"https://127.0.0.1:47443/method/audio.get", true},
        {"http://127.0.0.1:47080/method/audio.get", true},
        {"http://127.8.9.10/x", true},
        {"http://localhost:8080/x", true},
        {"http://[::1]:8080/x", true},
        {"http://api.example.org/method/audio.get", false},
        {"http://192.168.1.2/x", false},
        {"http://localhost.example.org/x", false},
        {"http://127.0.0.1.example.org/x", false},
        {"ftp://127.0.0.1/x", false},
        {"file:///tmp/x", false},
        {"https:///x", false},
        {"", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        EXPECT_EQ(sondrel::mayCarryAccessToken(QUrl(QString::fromLatin1(row.url))), row.allowed);
    }
}

} // namespace
