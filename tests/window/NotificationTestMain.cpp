// Runs the notification tests on a private session bus: the program starts itself again
// under dbus-run-session (with the bus configuration beside this file) unless it already
// runs there. Everything else is as for the other window tests.

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kOnPrivateBus = "SONDREL_WINDOW_TEST_PRIVATE_BUS";

void runOnPrivateBus(int argc, char** argv) {
    if (std::getenv(kOnPrivateBus) != nullptr) {
        return;
    }
    setenv(kOnPrivateBus, "1", 1);
    const std::string config = std::string(SONDREL_WINDOW_TEST_DIR) + "/session-bus.conf";
    std::vector<std::string> words = {"dbus-run-session", "--config-file", config, "--"};
    for (int i = 0; i < argc; ++i) {
        words.emplace_back(argv[i]);
    }
    std::vector<char*> args;
    for (std::string& word : words) {
        args.push_back(word.data());
    }
    args.push_back(nullptr);
    execvp(args[0], args.data());
    std::perror("dbus-run-session");
    std::exit(127);
}

} // namespace

int main(int argc, char** argv) {
    runOnPrivateBus(argc, argv);
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/cache")).toUtf8());
    qputenv("SONDREL_AUDIO_OUTPUT", "null");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sondrel"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
