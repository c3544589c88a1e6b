#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>

namespace sondrel::test {
namespace {

bool busMissing = false;

const char* const kSongs[][4] = {
    {"101", "First Song", "Artist One", "http://127.0.0.1:1/first.mp3"},
    {"202", "Second Song", "Artist Two", "http://127.0.0.1:1/second.mp3"},
    {"303", "Third Song", "Artist Three", "http://127.0.0.1:1/third.mp3"},
};
constexpr int kSongCount = 3;

} // namespace

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return condition();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

bool haveProgram(const QString& program) {
    return !QStandardPaths::findExecutable(program).isEmpty();
}

ChildProgram::~ChildProgram() {
    stop();
}

bool ChildProgram::start(const QString& program, const QStringList& arguments) {
    // The child is ended with the test process even when the test crashes.
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    return process.waitForStarted(30000);
}

void ChildProgram::stop() {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
}

QString ChildProgram::readLine(int timeoutMs) {
    waitUntil([this] { return process.canReadLine() || process.state() == QProcess::NotRunning; },
              timeoutMs);
    return QString::fromUtf8(process.readLine()).trimmed();
}

QString runProgram(const QString& program, const QStringList& arguments, int* exitCode,
                   int timeoutMs) {
    QProcess process;
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(program, arguments);
    bool finished = process.waitForStarted(30000) &&
                    waitUntil([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished(10000);
    }
    if (exitCode) {
        *exitCode =
            finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

void reexecUnderPrivateBus(int argc, char** argv) {
    if (qEnvironmentVariableIsSet("SONDREL_TEST_PRIVATE_BUS")) {
        return;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0) {
            return;
        }
    }
    const QString runner = QStandardPaths::findExecutable(QStringLiteral("dbus-run-session"));
    if (runner.isEmpty()) {
        busMissing = true;
        return;
    }
    const QByteArray config = "--config-file=" SONDREL_MEDIAKEYS_TEST_DIR "/session-bus.conf";
    const QByteArray runnerPath = runner.toLocal8Bit();
    std::vector<char*> args;
    args.push_back(const_cast<char*>(runnerPath.constData()));
    args.push_back(const_cast<char*>(config.constData()));
    args.push_back(const_cast<char*>("--"));
    for (int i = 0; i < argc; ++i) {
        args.push_back(argv[i]);
    }
    args.push_back(nullptr);
    setenv("SONDREL_TEST_PRIVATE_BUS", "1", 1);
    execv(runnerPath.constData(), args.data());
    unsetenv("SONDREL_TEST_PRIVATE_BUS");
    busMissing = true; // exec failed: go on without a bus
}

bool privateBusMissing() {
    return busMissing;
}

void usePrivateSettingsFolder() {
    static QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME",
            QDir(folder.path()).filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", QDir(folder.path()).filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", QDir(folder.path()).filePath(QStringLiteral("cache")).toLocal8Bit());
}

FakePlayer::FakePlayer() {
    state.volume = 0.8;
    state.canGoNext = true;
    state.canGoPrevious = true;
    state.canPlay = true;
    state.canPause = true;
    state.canSeek = true;
    selectSong(0);
}

void FakePlayer::selectSong(int index) {
    songIndex = ((index % kSongCount) + kSongCount) % kSongCount;
    const auto& song = kSongs[songIndex];
    state.song = NowPlaying{QString::fromLatin1(song[0]), QString::fromLatin1(song[1]),
                            QString::fromLatin1(song[2]), 180'000'000LL * (songIndex + 1),
                            QString::fromLatin1(song[3])};
    state.positionUs = 0;
}

void FakePlayer::mediaKeyTapReceivedMediaKeyEvent(SPMediaKeyTap* tap, const MediaKeyEvent& event) {
    keyEvents.push_back(event);
    keyEventsHadTap.push_back(tap != nullptr);
    switch (mediaKeyActionForEvent(event)) {
    case MediaKeyAction::PlayPause:
        playPause();
        break;
    case MediaKeyAction::NextSong:
        next();
        break;
    case MediaKeyAction::PreviousSong:
        previous();
        break;
    case MediaKeyAction::None:
        break;
    }
}

void FakePlayer::playPause() {
    calls << QStringLiteral("playPause");
    state.status =
        state.status == PlaybackStatus::Playing ? PlaybackStatus::Paused : PlaybackStatus::Playing;
}

void FakePlayer::play() {
    calls << QStringLiteral("play");
    state.status = PlaybackStatus::Playing;
}

void FakePlayer::pause() {
    calls << QStringLiteral("pause");
    if (state.status == PlaybackStatus::Playing) {
        state.status = PlaybackStatus::Paused;
    }
}

void FakePlayer::stop() {
    calls << QStringLiteral("stop");
    state.status = PlaybackStatus::Stopped;
    state.positionUs = 0;
}

void FakePlayer::next() {
    calls << QStringLiteral("next");
    selectSong(songIndex + 1);
}

void FakePlayer::previous() {
    calls << QStringLiteral("previous");
    selectSong(songIndex - 1);
}

void FakePlayer::setPosition(qint64 positionUs) {
    calls << QStringLiteral("setPosition %1").arg(positionUs);
    state.positionUs = positionUs;
}

void FakePlayer::setShuffle(bool on) {
    calls << QStringLiteral("setShuffle %1").arg(on);
    state.shuffle = on;
}

void FakePlayer::setRepeatOneSong(bool on) {
    calls << QStringLiteral("setRepeatOneSong %1").arg(on);
    state.repeatOneSong = on;
}

void FakePlayer::setVolume(double volume) {
    calls << QStringLiteral("setVolume %1").arg(volume);
    state.volume = volume;
}

} // namespace sondrel::test
