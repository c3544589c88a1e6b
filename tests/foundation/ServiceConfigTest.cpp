#include "platform/ServiceConfig.h"

#include "platform/DurableFile.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class ServiceConfigTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const char* name : {"SONDREL_API_ORIGIN", "SONDREL_CLIENT_ID", "SONDREL_SERVICE_INFO",
                                 "SONDREL_CA_CERT"}) {
            qunsetenv(name);
        }
    }
    QTemporaryDir dir;
};

TEST_F(ServiceConfigTest, DefaultsPointAtTheLocalStandIn) {
    qputenv("SONDREL_SERVICE_INFO", dir.filePath(QStringLiteral("absent.json")).toUtf8());
    const sondrel::ServiceConfig config = sondrel::loadServiceConfig({});
    EXPECT_EQ(config.apiOrigin, QStringLiteral("https://127.0.0.1:47443"));
    EXPECT_EQ(config.apiHttpOrigin, QStringLiteral("http://127.0.0.1:47080"));
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

} // namespace
