#pragma once
// Helpers of the media key tests: waiting on the main loop, child programs that die with
// the test, a private session bus, a private settings folder, and a fake player that
// stands in for the main controller.

#include "mediakeys/MediaKeyEvent.h"
#include "mediakeys/PlayerControl.h"
#include "mediakeys/SPMediaKeyTap.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

namespace sondrel::test {

// Records the positions of MPRIS Seeked signals.
class SeekedRecorder : public QObject {
    Q_OBJECT

public:
    QList<qlonglong> positions;

public slots:
    void record(qlonglong position) { positions << position; }
};

// Runs the main loop until `condition` holds or `timeoutMs` passed; the final answer.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 30000);

// True when `program` is found in PATH.
bool haveProgram(const QString& program);

// A child program that is killed when the test ends (or the test process dies).
class ChildProgram {
public:
    ChildProgram() = default;
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    bool start(const QString& program, const QStringList& arguments);
    void stop(); // terminate, then kill; waits for it
    qint64 pid() const { return process.processId(); }
    QProcess& get() { return process; }
    // Waits (on the main loop) for one line on its standard output.
    QString readLine(int timeoutMs = 30000);

private:
    QProcess process;
};

// Runs `program` to its end while the main loop goes on; its standard output (trimmed).
// `exitCode` is -1 when it could not run or took longer than `timeoutMs`.
QString runProgram(const QString& program, const QStringList& arguments, int* exitCode = nullptr,
                   int timeoutMs = 30000);

// Called first in main(): unless already inside, runs this test binary again inside a
// private session bus (dbus-run-session with tests/mediakeys/session-bus.conf) and does
// not return. Returns when already inside, when only listing tests, or when
// dbus-run-session is missing (then privateBusMissing() is true).
void reexecUnderPrivateBus(int argc, char** argv);
bool privateBusMissing();

// Points the settings store at a fresh folder for this process (call before any use).
void usePrivateSettingsFolder();

// The main controller as far as media keys and MPRIS see it: a play list of three songs,
// play/pause, next, previous, shuffle, repeat, volume and position. Acts on media keys as
// the main controller does (mediaKeyActionForEvent) and records what it was given.
class FakePlayer : public PlayerControl, public SPMediaKeyTapDelegate {
public:
    FakePlayer();

    // SPMediaKeyTapDelegate
    void mediaKeyTapReceivedMediaKeyEvent(SPMediaKeyTap* tap, const MediaKeyEvent& event) override;

    // PlayerControl
    PlayerState playerState() const override { return state; }
    void playPause() override;
    void play() override;
    void pause() override;
    void stop() override;
    void next() override;
    void previous() override;
    void setPosition(qint64 positionUs) override;
    void setShuffle(bool on) override;
    void setRepeatOneSong(bool on) override;
    void setVolume(double volume) override;
    void raise() override { calls << QStringLiteral("raise"); }
    void quit() override { calls << QStringLiteral("quit"); }

    void selectSong(int index);

    PlayerState state;
    int songIndex = 0;
    QStringList calls;                    // the actions, in order
    std::vector<MediaKeyEvent> keyEvents; // every media key event received
    std::vector<bool> keyEventsHadTap;    // whether each came with a tap
};

} // namespace sondrel::test

// Readable QStrings in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out) {
    *out << '[' << list.join(QStringLiteral(", ")).toStdString() << ']';
}
