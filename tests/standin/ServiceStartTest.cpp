// Starting and stopping the stand-in service, its information file and certificate,
// the library folder mode, the command line, and the control endpoints.

#include "ClientHelpers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>
#include <httplib.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

using sondrel::test::StandInService;
using namespace standin_test;

namespace {

QJsonObject readInfo(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                          : QJsonObject();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(ServiceStart, InformationFileNamesBothListenersAndTheCertificate) {
    StandInService service({QStringLiteral("--client-id"), QStringLiteral("777")});
    ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    const QJsonObject info = readInfo(service.infoPath());
    QStringList keys = info.keys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"api_http_origin", "api_origin", "certificate", "client_id",
                                 "login_origin", "main_origin"}));
    for (const QString& key : keys) {
        EXPECT_TRUE(info.value(key).isString()) << key.toStdString();
    }
    const QRegularExpression https(QStringLiteral("^https://127\\.0\\.0\\.1:[0-9]+$"));
    const QRegularExpression http(QStringLiteral("^http://127\\.0\\.0\\.1:[0-9]+$"));
    EXPECT_TRUE(https.match(service.apiOrigin()).hasMatch()) << service.apiOrigin().toStdString();
    EXPECT_TRUE(http.match(service.httpOrigin()).hasMatch()) << service.httpOrigin().toStdString();
    EXPECT_EQ(service.loginOrigin(), service.apiOrigin());
    EXPECT_EQ(service.mainOrigin(), service.apiOrigin());
    EXPECT_EQ(service.clientId(), QStringLiteral("777"));
    EXPECT_TRUE(QDir::isAbsolutePath(service.certificatePath()));

    const QList<QSslCertificate> certs = QSslCertificate::fromPath(service.certificatePath());
    ASSERT_EQ(certs.size(), 1);
    const auto names = certs.first().subjectAlternativeNames();
    EXPECT_TRUE(names.values(QSsl::IpAddressEntry).contains(QStringLiteral("127.0.0.1")));
    EXPECT_TRUE(names.values(QSsl::DnsEntry).contains(QStringLiteral("localhost")));
    EXPECT_FALSE(readFile(service.certificatePath()).contains("PRIVATE KEY"));
}

TEST(ServiceStart, CertificateIsMadeOnceAndReused) {
    QTemporaryDir certDir;
    QByteArray first;
    for (int run = 0; run < 2; ++run) {
        StandInService service({QStringLiteral("--cert-dir"), certDir.path()});
        ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
        EXPECT_EQ(service.certificatePath(), certDir.filePath(QStringLiteral("cert.pem")));
        const QByteArray pem = readFile(service.certificatePath());
        ASSERT_TRUE(pem.startsWith("-----BEGIN CERTIFICATE-----"));
        if (run == 0) {
            first = pem;
        } else {
            EXPECT_EQ(pem, first);
        }
    }
    EXPECT_EQ(QFile::permissions(certDir.filePath(QStringLiteral("key.pem"))) &
                  (QFile::ReadGroup | QFile::ReadOther),
              QFile::Permissions());
}

TEST(ServiceStart, TlsIsVerifiedAgainstTheServiceCertificateOnly) {
    StandInService service;
    ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    const QUrl origin(service.apiOrigin());

    // Without the certificate the handshake fails; with it (and only it) it succeeds.
    httplib::SSLClient untrusting(origin.host().toStdString(), origin.port());
    untrusting.enable_server_certificate_verification(true);
    const auto refused = untrusting.Get("/method/audio.get?access_token=demo-token&");
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.error(), httplib::Error::SSLServerVerification);

    httplib::SSLClient trusting(origin.host().toStdString(), origin.port());
    trusting.enable_server_certificate_verification(true);
    trusting.set_ca_cert_path(service.certificatePath().toStdString().c_str());
    const auto result = trusting.Get("/method/audio.get?access_token=demo-token&");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);

    // The Qt network stack accepts it once trusted, with verification on.
    ASSERT_TRUE(service.trustCertificate());
    const Reply reply =
        fetch(service.apiOrigin() + QStringLiteral("/method/audio.get?access_token=demo-token&"));
    EXPECT_EQ(reply.error, QNetworkReply::NoError) << reply.errorText.toStdString();
}

TEST(ServiceStart, TermSignalStopsCleanlyAndRemovesTheInformationFile) {
    QTemporaryDir dir;
    const QString info = dir.filePath(QStringLiteral("info.json"));
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(StandInService::binaryPath(),
                  {"--https-port", "0", "--http-port", "0", "--info", info, "--cert-dir",
                   dir.filePath(QStringLiteral("cert")), "--cache-dir",
                   StandInService::sharedCacheDir()});
    ASSERT_TRUE(process.waitForStarted());
    QByteArray out;
    ASSERT_TRUE(waitFor(
        [&] {
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
            return out.contains("sondrel-service ready\n") || process.state() != QProcess::Running;
        },
        120000));
    ASSERT_EQ(out, "sondrel-service ready\n");
    EXPECT_TRUE(QFile::exists(info));
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(info));
}

// A second service on a port that is taken must refuse to start: sharing the port would
// hand each connection to either service, certificates and libraries mixed.
TEST(ServiceStart, APortInUseIsRefused) {
    StandInService first;
    ASSERT_TRUE(first.isReady()) << first.errorString().toStdString();
    const QString takenPort = QUrl(first.apiOrigin()).port() > 0
                                  ? QString::number(QUrl(first.apiOrigin()).port())
                                  : QString();
    ASSERT_FALSE(takenPort.isEmpty());
    QTemporaryDir dir;
    QProcess second;
    second.start(StandInService::binaryPath(), {"--https-port", takenPort, "--http-port", "0",
                                                "--info", dir.filePath(QStringLiteral("info.json")),
                                                "--cert-dir", dir.filePath(QStringLiteral("cert")),
                                                "--cache-dir", StandInService::sharedCacheDir()});
    ASSERT_TRUE(second.waitForFinished(120000)) << "the second service keeps running";
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains("cannot listen on 127.0.0.1 port " +
                                                       takenPort.toUtf8()));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("info.json"))));
}

TEST(ServiceStart, HelpDocumentsEveryOptionAndBadOptionsAreRefused) {
    QProcess help;
    help.start(StandInService::binaryPath(), {QStringLiteral("--help")});
    ASSERT_TRUE(help.waitForFinished(30000));
    EXPECT_EQ(help.exitCode(), 0);
    const QByteArray text = help.readAllStandardOutput();
    for (const char* option : {"--https-port",    "--http-port",
                               "--cert-dir",      "--info",
                               "--cache-dir",     "--client-id",
                               "--library",       "--demo",
                               "--demo-count",    "--demo-seconds",
                               "--song-fault",    "--token",
                               "--no-demo-token", "--token-lifetime",
                               "--force-error",   "--user-id",
                               "--login",         "--password",
                               "--captcha-every", "--feed-without-logout",
                               "--verbose",       "--help",
                               "fault=drop",      "fault=stall",
                               "fault=garbage",   "rate=",
                               "status=",         "chunked=1",
                               "id3pad=",         "/control/requests",
                               "/control/reset",  "/control/next-api-error",
                               "/control/library"}) {
        EXPECT_TRUE(text.contains(option)) << option;
    }
    for (const QStringList& bad : {QStringList{"--no-such-option"}, QStringList{"--http-port", "x"},
                                   QStringList{"--demo-count"}}) {
        QProcess process;
        process.start(StandInService::binaryPath(), bad);
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), 2) << bad.join(' ').toStdString();
    }
}

TEST(ServiceStart, LibraryFolderSongsUseTheirTagsOrFileNames) {
    QTemporaryDir library;
    QByteArray tone;
    {
        StandInService demo;
        ASSERT_TRUE(demo.isReady()) << demo.errorString().toStdString();
        tone = songFileBytes(demo, 2);
    }
    ASSERT_FALSE(tone.isEmpty());
    const QString tagged = library.filePath(QStringLiteral("b/tagged.mp3"));
    const QString named = library.filePath(QStringLiteral("a/Named Artist - Named Title.mp3"));
    QDir().mkpath(library.filePath(QStringLiteral("a")));
    QDir().mkpath(library.filePath(QStringLiteral("b")));
    for (const QString& path : {tagged, named}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(tone);
    }
    QFile(library.filePath(QStringLiteral("notes.txt"))).open(QIODevice::WriteOnly);
    {
        // Lyrics beside the named song; the tagged one has none.
        QFile lyrics(library.filePath(QStringLiteral("a/Named Artist - Named Title.txt")));
        ASSERT_TRUE(lyrics.open(QIODevice::WriteOnly));
        lyrics.write("Rock & <roll>\r\nline \"two\"\n");
    }
    {
        TagLib::FileRef ref(tagged.toUtf8().constData());
        ASSERT_FALSE(ref.isNull());
        ref.tag()->setArtist(TagLib::String("Сплин", TagLib::String::UTF8));
        ref.tag()->setTitle(TagLib::String("Линия жизни", TagLib::String::UTF8));
        ASSERT_TRUE(ref.save());
    }

    StandInService service({QStringLiteral("--library"), library.path()});
    ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    ASSERT_TRUE(service.trustCertificate());
    const QJsonArray songs =
        callApi(service, QStringLiteral("audio.get"), QStringLiteral("access_token=demo-token&"))
            .value(QStringLiteral("response"))
            .toArray();
    ASSERT_EQ(songs.size(), 2);
    const QJsonObject first = songs.at(0).toObject();
    const QJsonObject second = songs.at(1).toObject();
    EXPECT_EQ(first.value(QStringLiteral("artist")).toString(), QStringLiteral("Named Artist"));
    EXPECT_EQ(first.value(QStringLiteral("title")).toString(), QStringLiteral("Named Title"));
    EXPECT_EQ(second.value(QStringLiteral("artist")).toString(), QStringLiteral("Сплин"));
    EXPECT_EQ(second.value(QStringLiteral("title")).toString(), QStringLiteral("Линия жизни"));
    for (const QJsonObject& song : {first, second}) {
        EXPECT_EQ(song.value(QStringLiteral("duration")).toInt(), 20);
        EXPECT_FALSE(song.contains(QStringLiteral("tone_hz")));
    }
    EXPECT_EQ(fetch(first.value(QStringLiteral("url")).toString()).body, tone);
    const Decoded decoded = decodeMp3(fetch(second.value(QStringLiteral("url")).toString()).body);
    ASSERT_TRUE(decoded.ok);
    EXPECT_NEAR(decoded.toneHz, 500.0, 3.0);

    const auto lyricsOf = [&](const QJsonObject& song) {
        const QString id = QString::number(song.value(QStringLiteral("lyrics_id")).toInteger());
        return callApi(service, QStringLiteral("audio.getLyrics"),
                       QStringLiteral("access_token=demo-token&lyrics_id=") + id)
            .value(QStringLiteral("response"))
            .toObject()
            .value(QStringLiteral("text"))
            .toString();
    };
    EXPECT_EQ(lyricsOf(first), QStringLiteral("Rock &amp; &lt;roll&gt;\nline &quot;two&quot;\n"));
    EXPECT_EQ(lyricsOf(second), QString());
}

TEST(ServiceStart, EmptyLibraryFolderIsAnError) {
    QTemporaryDir library;
    StandInService service({QStringLiteral("--library"), library.path()});
    EXPECT_FALSE(service.isReady());
}

TEST(ServiceControl, RequestLogShowsEveryServedRequestOnce) {
    StandInService service;
    ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    ASSERT_TRUE(service.trustCertificate());
    callApi(service, QStringLiteral("audio.get"), QStringLiteral("access_token=demo-token&"));
    fetch(service.songUrl(1, QStringLiteral("rate=0")),
          {{"Range", "bytes=0-9"}, {"Accept-Encoding", "identity"}});

    const QJsonArray log = service.requests();
    ASSERT_EQ(log.size(), 2);
    const QJsonObject api = log.at(0).toObject();
    EXPECT_EQ(api.value(QStringLiteral("scheme")).toString(), QStringLiteral("https"));
    EXPECT_EQ(api.value(QStringLiteral("method")).toString(), QStringLiteral("GET"));
    EXPECT_EQ(api.value(QStringLiteral("path")).toString(), QStringLiteral("/method/audio.get"));
    // The query exactly as sent, trailing "&" included.
    EXPECT_EQ(api.value(QStringLiteral("query")).toString(),
              QStringLiteral("access_token=demo-token&"));
    const QJsonObject song = log.at(1).toObject();
    EXPECT_EQ(song.value(QStringLiteral("scheme")).toString(), QStringLiteral("http"));
    EXPECT_EQ(song.value(QStringLiteral("target")).toString(),
              QStringLiteral("/audio/100002.mp3?rate=0"));
    EXPECT_EQ(song.value(QStringLiteral("range")).toString(), QStringLiteral("bytes=0-9"));
    EXPECT_EQ(song.value(QStringLiteral("accept_encoding")).toString(), QStringLiteral("identity"));
    EXPECT_EQ(service.requestTargets(QStringLiteral("/audio/")).size(), 1);

    ASSERT_TRUE(service.reset());
    EXPECT_TRUE(service.requests().isEmpty());
}

TEST(ServiceControl, ControlEndpointsExistOnlyOnThePlainListener) {
    StandInService service;
    ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    ASSERT_TRUE(service.trustCertificate());
    EXPECT_EQ(fetch(service.apiOrigin() + QStringLiteral("/control/requests")).status, 404);
    EXPECT_EQ(service.library().size(), 12);
    EXPECT_EQ(service.library().at(0).toObject().value(QStringLiteral("tone_hz")).toInt(), 300);
}

// The --verbose log of requests shows no token, in any of the forms an address carries it.
TEST(ServiceStart, VerboseLogHidesAccessTokens) {
    QTemporaryDir logDir;
    const QString logPath = logDir.filePath(QStringLiteral("service.log"));
    StandInService service(
        {QStringLiteral("--verbose"), QStringLiteral("--token"), QStringLiteral("s3cret-tok")},
        logPath);
    ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    ASSERT_TRUE(service.trustCertificate());
    const QString targets[] = {
        QStringLiteral("/method/audio.get?access_token=s3cret-tok&"),
        QStringLiteral("/method/status.set?ACCESS_TOKEN=s3cret-tok&text="),
        QStringLiteral("/feed?next=%2Fx%3Faccess_token%3Ds3cret-tok%26a%3D1"),
    };
    for (const QString& target : targets) {
        fetch(service.apiOrigin() + target);
    }
    QByteArray log;
    const QDeadlineTimer deadline(30000);
    while (log.count("<hidden>") < 3 && !deadline.hasExpired()) {
        QThread::msleep(20);
        log = readFile(logPath);
    }
    EXPECT_EQ(log.count("<hidden>"), 3) << log.toStdString();
    EXPECT_FALSE(log.contains("s3cret-tok")) << log.toStdString();
    EXPECT_TRUE(log.contains("/method/audio.get?access_token=<hidden>&")) << log.toStdString();
}
