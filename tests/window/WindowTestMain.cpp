// Runs the window and sign-in tests inside a QApplication whose config, data, cache and
// runtime homes are a fresh temporary folder (no test touches the user's files or
// settings), with sound going to the null output unless the test run chose another.

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/cache")).toUtf8());
    if (qEnvironmentVariableIsEmpty("SONDREL_AUDIO_OUTPUT")) {
        qputenv("SONDREL_AUDIO_OUTPUT", "null");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sondrel"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
