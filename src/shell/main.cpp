// The player's entry point: configures the service connection, creates the
// application delegate and runs the main loop.

#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "platform/ServiceConfig.h"
#include "shell/AppDelegate.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(sondrel::kApplicationName));
    QApplication::setDesktopFileName(QString::fromLatin1(sondrel::kApplicationId));

    const sondrel::ServiceConfig config = sondrel::loadServiceConfig(QApplication::arguments());
    sondrel::setServiceConfig(config);
    if (!config.caCertificate.isEmpty()) {
        sondrel::trustExtraCertificate(config.caCertificate);
    }

    sondrel::AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, &delegate,
                     [&delegate](Qt::ApplicationState state) {
                         if (state == Qt::ApplicationActive) {
                             delegate.applicationDidBecomeActive();
                         }
                     });
    delegate.applicationDidBecomeActive();

    // The main window is not part of this build yet: say so and stop.
    sondrel::logLine(QStringLiteral("Sondrel: the main window is not built yet; use sondrel-play "
                                    "to play songs from %1")
                         .arg(config.apiOrigin));
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return QApplication::exec();
}
