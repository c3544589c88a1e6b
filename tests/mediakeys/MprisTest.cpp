// MPRIS 2 on a private session bus, driven by playerctl as a desktop would drive it.

#include "TestSupport.h"
#include "mediakeys/MprisService.h"
#include "platform/Log.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace sondrel;
using test::FakePlayer;

namespace {

class Mpris : public testing::Test {
protected:
    void SetUp() override {
        if (test::privateBusMissing()) {
            GTEST_SKIP() << "dbus-run-session is not installed";
        }
        if (!test::haveProgram(QStringLiteral("playerctl"))) {
            GTEST_SKIP() << "playerctl is not installed";
        }
        service = std::make_unique<MprisService>(&player);
        ASSERT_TRUE(service->registerOnBus());
        ASSERT_EQ(service->serviceName(), QStringLiteral("org.mpris.MediaPlayer2.sondrel"));
    }

    // playerctl aimed at this player; its output.
    QString playerctl(const QStringList& arguments, int* exitCode = nullptr) {
        return test::runProgram(QStringLiteral("playerctl"),
                                QStringList{QStringLiteral("--player=sondrel")} + arguments,
                                exitCode);
    }

    FakePlayer player;
    std::unique_ptr<MprisService> service;
};

} // namespace

TEST_F(Mpris, PlayPauseNextPreviousDriveTheSameActionsAsTheButtons) {
    EXPECT_EQ(test::runProgram(QStringLiteral("playerctl"), {QStringLiteral("--list-all")}),
              QStringLiteral("sondrel"));
    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));

    playerctl({QStringLiteral("play-pause")});
    EXPECT_EQ(player.calls, QStringList{QStringLiteral("playPause")});
    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Playing"));

    playerctl({QStringLiteral("next")});
    playerctl({QStringLiteral("next")});
    playerctl({QStringLiteral("previous")});
    playerctl({QStringLiteral("pause")});
    playerctl({QStringLiteral("stop")});
    playerctl({QStringLiteral("play")});
    EXPECT_EQ(player.calls,
              (QStringList{"playPause", "next", "next", "previous", "pause", "stop", "play"}));
    EXPECT_EQ(player.songIndex, 1);
}

TEST_F(Mpris, LoopAndShuffleFollowRepeatAndShuffle) {
    EXPECT_EQ(playerctl({QStringLiteral("loop")}), QStringLiteral("Playlist"));
    playerctl({QStringLiteral("loop"), QStringLiteral("Track")});
    EXPECT_TRUE(player.state.repeatOneSong);
    EXPECT_EQ(playerctl({QStringLiteral("loop")}), QStringLiteral("Track"));
    playerctl({QStringLiteral("loop"), QStringLiteral("None")});
    EXPECT_FALSE(player.state.repeatOneSong);

    EXPECT_EQ(playerctl({QStringLiteral("shuffle")}), QStringLiteral("Off"));
    playerctl({QStringLiteral("shuffle"), QStringLiteral("On")});
    EXPECT_TRUE(player.state.shuffle);
    playerctl({QStringLiteral("shuffle"), QStringLiteral("Toggle")});
    EXPECT_FALSE(player.state.shuffle);
    EXPECT_EQ(playerctl({QStringLiteral("shuffle")}), QStringLiteral("Off"));
}

TEST_F(Mpris, MetadataOfTheCurrentSong) {
    const QStringList format = {QStringLiteral("metadata"), QStringLiteral("--format"),
                                QStringLiteral("{{mpris:trackid}}|{{xesam:title}}|{{xesam:artist}}|"
                                               "{{mpris:length}}|{{xesam:url}}")};
    // playerctl quotes object paths (strings it prints bare): the track id is a path.
    EXPECT_EQ(playerctl(format),
              QStringLiteral("'/org/sondrel/Sondrel/Track/101'|First Song|Artist "
                             "One|180000000|http://127.0.0.1:1/first.mp3"));
    player.state.song->songId = QStringLiteral("-5_x");
    EXPECT_TRUE(
        playerctl(format).startsWith(QStringLiteral("'/org/sondrel/Sondrel/Track/_2D5_5Fx'|")));

    player.state.song.reset();
    int exitCode = 0;
    EXPECT_EQ(playerctl({QStringLiteral("metadata"), QStringLiteral("mpris:trackid")}, &exitCode),
              QStringLiteral("'/org/mpris/MediaPlayer2/TrackList/NoTrack'"));
}

TEST_F(Mpris, StatusAndMetadataChangesAreFollowed) {
    test::ChildProgram status;
    ASSERT_TRUE(status.start(QStringLiteral("playerctl"),
                             {QStringLiteral("--player=sondrel"), QStringLiteral("status"),
                              QStringLiteral("--follow")}));
    EXPECT_EQ(status.readLine(), QStringLiteral("Stopped"));

    // A change made in the window is announced by the player side.
    player.play();
    service->playerStateChanged();
    EXPECT_EQ(status.readLine(), QStringLiteral("Playing"));

    // A change made through the bus is announced by the service itself.
    playerctl({QStringLiteral("play-pause")});
    EXPECT_EQ(status.readLine(), QStringLiteral("Paused"));

    test::ChildProgram title;
    ASSERT_TRUE(title.start(QStringLiteral("playerctl"),
                            {QStringLiteral("--player=sondrel"), QStringLiteral("metadata"),
                             QStringLiteral("--format"), QStringLiteral("{{xesam:title}}"),
                             QStringLiteral("--follow")}));
    EXPECT_EQ(title.readLine(), QStringLiteral("First Song"));
    playerctl({QStringLiteral("next")});
    EXPECT_EQ(title.readLine(), QStringLiteral("Second Song"));
}

TEST_F(Mpris, VolumeAndPositionAreCheckedBeforeTheyReachThePlayer) {
    playerctl({QStringLiteral("volume"), QStringLiteral("0.25")});
    EXPECT_DOUBLE_EQ(player.state.volume, 0.25);
    playerctl({QStringLiteral("volume"), QStringLiteral("1.5")});
    EXPECT_DOUBLE_EQ(player.state.volume, 1.0);
    EXPECT_EQ(playerctl({QStringLiteral("volume")}), QStringLiteral("1.000000"));

    test::SeekedRecorder seeked;
    ASSERT_TRUE(QDBusConnection::sessionBus().connect(
        service->serviceName(), MprisService::kObjectPath, MprisService::kPlayerInterface,
        QStringLiteral("Seeked"), &seeked, SLOT(record(qlonglong))));

    playerctl({QStringLiteral("position"), QStringLiteral("30")}); // SetPosition
    EXPECT_EQ(player.state.positionUs, 30'000'000);
    playerctl({QStringLiteral("position"), QStringLiteral("10-")}); // Seek -10 s
    EXPECT_EQ(player.state.positionUs, 20'000'000);
    playerctl({QStringLiteral("position"), QStringLiteral("100-")}); // before the start
    EXPECT_EQ(player.state.positionUs, 0);
    playerctl({QStringLiteral("position"), QStringLiteral("500")}); // past the end: refused
    EXPECT_EQ(player.state.positionUs, 0);
    playerctl({QStringLiteral("position"), QStringLiteral("500+")}); // past the end: next song
    EXPECT_EQ(player.songIndex, 1);
    EXPECT_EQ(player.calls.filter(QStringLiteral("setPosition")),
              (QStringList{"setPosition 30000000", "setPosition 20000000", "setPosition 0"}));
    // Each jump is announced with the new position.
    EXPECT_TRUE(test::waitUntil([&] { return seeked.positions.size() >= 3; }));
    EXPECT_EQ(seeked.positions, (QList<qlonglong>{30'000'000, 20'000'000, 0}));
}

TEST_F(Mpris, RootInterfaceAndASecondInstance) {
    QDBusInterface properties(service->serviceName(), MprisService::kObjectPath,
                              QStringLiteral("org.freedesktop.DBus.Properties"));
    auto get = [&](const QString& name) {
        QDBusReply<QVariant> reply =
            properties.call(QStringLiteral("Get"), MprisService::kRootInterface, name);
        return reply.isValid() ? reply.value() : QVariant();
    };
    EXPECT_EQ(get(QStringLiteral("DesktopEntry")).toString(),
              QStringLiteral("org.sondrel.Sondrel"));
    EXPECT_EQ(get(QStringLiteral("Identity")).toString(), QStringLiteral("Sondrel"));
    EXPECT_TRUE(get(QStringLiteral("CanRaise")).toBool());
    EXPECT_TRUE(get(QStringLiteral("CanQuit")).toBool());

    QDBusInterface root(service->serviceName(), MprisService::kObjectPath,
                        MprisService::kRootInterface);
    root.call(QStringLiteral("Raise"));
    root.call(QStringLiteral("Quit"));
    EXPECT_EQ(player.calls, (QStringList{"raise", "quit"}));

    // A second player on the same bus takes the name with an instance suffix.
    QDBusConnection other =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("second-player"));
    FakePlayer secondPlayer;
    MprisService second(&secondPlayer);
    ASSERT_TRUE(second.registerOnBus(other));
    EXPECT_EQ(second.serviceName(),
              QStringLiteral("org.mpris.MediaPlayer2.sondrel.instance%1").arg(getpid()));
    const QString players =
        test::runProgram(QStringLiteral("playerctl"), {QStringLiteral("--list-all")});
    EXPECT_TRUE(players.contains(QStringLiteral("sondrel.instance"))) << players.toStdString();
}

TEST(MprisWithoutBus, RegistrationFailsCleanlyAndSaysWhy) {
    FakePlayer player;
    MprisService service(&player);
    LogCapture log;
    const QDBusConnection nowhere = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/sondrel-bus"), QStringLiteral("nowhere"));
    EXPECT_FALSE(service.registerOnBus(nowhere));
    EXPECT_TRUE(service.serviceName().isEmpty());
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(
        log.lines().first().startsWith(QStringLiteral("MPRIS unavailable: no session bus")));
    service.playerStateChanged(); // nothing to announce to, and no crash
    service.seeked(5);
}
