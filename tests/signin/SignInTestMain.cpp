// Runs the sign-in tests inside a QApplication whose config, data, cache and runtime
// homes are a fresh temporary folder, with sound going to the null output.

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir home;
    for (const char* folder : {"config", "data", "cache"}) {
        const QByteArray name = QByteArray("XDG_") + QByteArray(folder).toUpper() + "_HOME";
        qputenv(name.constData(),
                (home.path() + QLatin1Char('/') + QLatin1String(folder)).toUtf8());
    }
    if (qEnvironmentVariableIsEmpty("SONDREL_AUDIO_OUTPUT")) {
        qputenv("SONDREL_AUDIO_OUTPUT", "null");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sondrel"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
