// Runs the screenshot test on a real X server: starts Xvfb on a free display (it names
// the display through -displayfd), points Qt's X11 platform at it and stops it at the end.

#include <QApplication>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Starts Xvfb; returns its pid and sets `display` (":N"), or -1.
pid_t startXvfb(std::string& display) {
    int fds[2];
    if (pipe(fds) != 0) {
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "2560x1600x24",
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char ch = 0;
    while (read(fds[0], &ch, 1) == 1 && ch != '\n') {
        number += ch;
    }
    close(fds[0]);
    if (pid < 0 || number.empty()) {
        return -1;
    }
    display = ":" + number;
    return pid;
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS(); // test discovery needs no X server
    }
    std::string display;
    const pid_t xvfb = startXvfb(display);
    if (xvfb < 0) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        return 1;
    }
    setenv("DISPLAY", display.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
#ifdef SONDREL_SCREENSHOT_SCALE
    setenv("QT_SCALE_FACTOR", QT_STRINGIFY(SONDREL_SCREENSHOT_SCALE), 1);
#endif
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/cache")).toUtf8());
    qputenv("SONDREL_AUDIO_OUTPUT", "null");
    int result = 1;
    {
        QApplication app(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Sondrel"));
        result = RUN_ALL_TESTS();
    }
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    return result;
}
