// The player's entry point: reads the command line, configures the service connection,
// creates the application delegate and the main window's controller, and runs the main
// loop.

#include "app/SingleInstance.h"
#include "mediakeys/MediaKeyExampleApp.h"
#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "platform/QuitOnSignals.h"
#include "platform/ServiceConfig.h"
#include "platform/TokenFile.h"
#include "shell/AppDelegate.h"
#include "window/AppController.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QMainWindow>

namespace {

// Qt's own messages (and the web engine's page messages) may quote an address with an
// access token: they pass through the same hiding as the player's log lines.
QtMessageHandler qtMessageHandler = nullptr;

void hideTokensInQtMessages(QtMsgType type, const QMessageLogContext& context,
                            const QString& message) {
    const QString hidden = sondrel::hideAccessTokens(message);
    if (qtMessageHandler != nullptr) {
        qtMessageHandler(type, context, hidden);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(hidden));
    }
}

// The command line. The service options are read by loadServiceConfig; they are
// declared here so that --help documents them and the parser accepts them.
struct CommandLine {
    QString token;
    QString userId;
};

std::optional<CommandLine> parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sondrel, a music player for the songs you keep on the service.\n"
        "Without options it uses the stored sign-in and the service configured in the\n"
        "environment or in the stand-in service's information file."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption token(
        QStringLiteral("token"),
        QStringLiteral("Store <token> as the access token (dated now) before starting, as a "
                       "sign-in would. Every local user can read it in the process list: "
                       "prefer --token-file. The stand-in service's demo token is "
                       "\"demo-token\"."),
        QStringLiteral("token"));
    const QCommandLineOption tokenFile(
        QStringLiteral("token-file"),
        QStringLiteral("As --token, with the token read from the first line of <file> (\"-\": "
                       "standard input), out of sight of other users."),
        QStringLiteral("file"));
    const QCommandLineOption userId(
        QStringLiteral("user-id"),
        QStringLiteral("Store <id> as the signed-in user's id (with --token)."),
        QStringLiteral("id"));
    parser.addOption(token);
    parser.addOption(tokenFile);
    parser.addOption(userId);
    const struct {
        const char* name;
        const char* help;
    } serviceOptions[] = {
        {"api-origin", "HTTPS origin of the service API (SONDREL_API_ORIGIN)."},
        {"api-http-origin", "Plain HTTP origin of the service API; it never carries the "
                            "access token (SONDREL_API_HTTP_ORIGIN)."},
        {"login-origin", "HTTPS origin of the sign-in pages (SONDREL_LOGIN_ORIGIN)."},
        {"main-origin", "HTTPS origin of the service's main site (SONDREL_MAIN_ORIGIN)."},
        {"client-id", "The player's client id at the service (SONDREL_CLIENT_ID)."},
        {"ca-cert", "An extra certificate (PEM) to trust for the service (SONDREL_CA_CERT)."},
        {"service-info", "The stand-in service's information file (SONDREL_SERVICE_INFO)."},
    };
    for (const auto& option : serviceOptions) {
        parser.addOption(QCommandLineOption(QString::fromLatin1(option.name),
                                            QString::fromLatin1(option.help),
                                            QStringLiteral("value")));
    }
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "sondrel: %s\n\n%s", qPrintable(parser.errorText()),
                     qPrintable(parser.helpText()));
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp(0); // exits
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion(); // exits
    }
    if (parser.isSet(token) && parser.isSet(tokenFile)) {
        std::fprintf(stderr, "sondrel: give either --token or --token-file\n");
        return std::nullopt;
    }
    CommandLine result{parser.value(token), parser.value(userId)};
    if (parser.isSet(tokenFile)) {
        QString error;
        const std::optional<QString> read = sondrel::readTokenFile(parser.value(tokenFile), &error);
        if (!read) {
            std::fprintf(stderr, "sondrel: %s\n", qPrintable(error));
            return std::nullopt;
        }
        result.token = *read;
    }
    return result;
}

// A token given on the command line counts as a fresh sign-in.
void storeSignIn(const CommandLine& commandLine) {
    if (commandLine.token.isEmpty()) {
        return;
    }
    sondrel::AppDelegate::saveObjectWithKey(commandLine.token, QStringLiteral("accessToken"));
    sondrel::AppDelegate::saveObjectWithKey(QDateTime::currentDateTimeUtc(),
                                            QStringLiteral("accessTokenDate"));
    if (!commandLine.userId.isEmpty()) {
        sondrel::AppDelegate::saveObjectWithKey(commandLine.userId, QStringLiteral("lastUserId"));
    }
}

} // namespace

int main(int argc, char* argv[]) {
    // --help and --version need no display: answer them before the window system opens.
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--help") == 0 || qstrcmp(argv[i], "-h") == 0 ||
            qstrcmp(argv[i], "--version") == 0 || qstrcmp(argv[i], "-v") == 0) {
            QCoreApplication helpOnly(argc, argv);
            QCoreApplication::setApplicationVersion(QStringLiteral(SONDREL_VERSION));
            return parseCommandLine(QCoreApplication::arguments()) ? 0 : 2;
        }
    }

    qtMessageHandler = qInstallMessageHandler(hideTokensInQtMessages);

    sondrel::MediaKeyExampleApp app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(sondrel::kApplicationName));
    QApplication::setApplicationVersion(QStringLiteral(SONDREL_VERSION));
    QApplication::setDesktopFileName(QString::fromLatin1(sondrel::kApplicationId));

    const std::optional<CommandLine> commandLine = parseCommandLine(QApplication::arguments());
    if (!commandLine) {
        return 2;
    }
    // Logging out or a terminal's Ctrl+C quits as the menu does: the place is kept.
    sondrel::quitOnTerminationSignals();

    // The service's own certificate is trusted by the first request that needs it
    // (trustServiceCertificateOnce): loading the TLS library has no place on the way to
    // the window.
    sondrel::setServiceConfig(sondrel::loadServiceConfig(QApplication::arguments()));

    sondrel::AppDelegate delegate;
    storeSignIn(*commandLine);
    // A second start shows the running player's window instead of opening another.
    sondrel::SingleInstance instance;
    if (instance.claim() == sondrel::SingleInstance::Start::HandedOver) {
        return 0;
    }
    delegate.watchApplicationQuit(&app);
    delegate.applicationDidFinishLaunching();
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, &delegate,
                     [&delegate](Qt::ApplicationState state) {
                         if (state == Qt::ApplicationActive) {
                             delegate.applicationDidBecomeActive();
                         }
                     });
    delegate.applicationDidBecomeActive();

    sondrel::AppController controller;
    instance.setActivate([&controller] { controller.raise(); });
    app.setMediaKeyDelegate(&controller);
    controller.window()->show();
    // Become the active window even where no window manager hands out the focus (a bare
    // X server): the controller sets itself up when its window first becomes active.
    controller.window()->activateWindow();
    const int status = QApplication::exec();
    app.setMediaKeyDelegate(nullptr);
    return status;
}
