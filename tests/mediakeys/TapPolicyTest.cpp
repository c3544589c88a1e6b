// The decisions of the media key tap without any desktop: who owns the keys after each
// front switch and termination, how applications are named, the media key event layout,
// the main controller's actions, and the settings.

#include "TestSupport.h"
#include "mediakeys/MediaKeyTapPolicy.h"
#include "mediakeys/SPMediaKeyTap.h"
#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "shell/AppDelegate.h"

#include <gtest/gtest.h>

using namespace sondrel;

namespace {

const ProcessSerialNumber kSelf = ProcessSerialNumber::forPid(100);
const ProcessSerialNumber kVlc = ProcessSerialNumber::forPid(200);
const ProcessSerialNumber kSpotify = ProcessSerialNumber::forPid(300);
const ProcessSerialNumber kEditor = ProcessSerialNumber::forPid(400);
const QString kOwnId = QStringLiteral("org.sondrel.Sondrel");

struct Step {
    enum Kind { Front, Quit } kind;
    ProcessSerialNumber process;
    QString bundleId;                // Front only
    QList<ProcessSerialNumber> list; // the list afterwards
    bool intercept;                  // the switch afterwards
    int scheduled;                   // tap thread messages so far
};

struct Scenario {
    const char* name;
    QStringList mediaApplications;
    std::vector<Step> steps;
};

} // namespace

TEST(TapPolicy, EventTable) {
    const QStringList defaults = {kOwnId, QStringLiteral("org.videolan.vlc"),
                                  QStringLiteral("com.spotify.client")};
    const QString vlc = QStringLiteral("org.videolan.vlc");
    const QString spotify = QStringLiteral("com.spotify.client");
    const QString editor = QStringLiteral("org.gnu.emacs");
    // Every scenario starts as after startWatchingMediaKeys: switch on, list empty, tap
    // thread running.
    const std::vector<Scenario> scenarios = {
        {"listed app to the front takes the keys",
         defaults,
         {{Step::Front, kVlc, vlc, {kVlc}, false, 1}}},
        {"ourselves to the front keeps them, no message",
         defaults,
         {{Step::Front, kSelf, kOwnId, {kSelf}, true, 0}}},
        {"unlisted app to the front changes nothing",
         defaults,
         {{Step::Front, kSelf, kOwnId, {kSelf}, true, 0},
          {Step::Front, kEditor, editor, {kSelf}, true, 0}}},
        {"app without a name changes nothing",
         defaults,
         {{Step::Front, kVlc, QString(), {}, true, 0}}},
        {"back to ourselves takes the keys back",
         defaults,
         {{Step::Front, kSelf, kOwnId, {kSelf}, true, 0},
          {Step::Front, kVlc, vlc, {kVlc, kSelf}, false, 1},
          {Step::Front, kSelf, kOwnId, {kSelf, kVlc}, true, 2}}},
        {"the media app quits and the keys come back",
         defaults,
         {{Step::Front, kSelf, kOwnId, {kSelf}, true, 0},
          {Step::Front, kVlc, vlc, {kVlc, kSelf}, false, 1},
          {Step::Quit, kVlc, {}, {kSelf}, true, 2}}},
        {"a more recent media app keeps the keys when an older one quits",
         defaults,
         {{Step::Front, kSelf, kOwnId, {kSelf}, true, 0},
          {Step::Front, kVlc, vlc, {kVlc, kSelf}, false, 1},
          {Step::Front, kSpotify, spotify, {kSpotify, kVlc, kSelf}, false, 1},
          {Step::Quit, kVlc, {}, {kSpotify, kSelf}, false, 1}}},
        {"termination of a process not in the list schedules nothing",
         defaults,
         {{Step::Front, kSelf, kOwnId, {kSelf}, true, 0},
          {Step::Quit, kEditor, {}, {kSelf}, true, 0}}},
        {"the list running empty leaves the switch as it was",
         defaults,
         {{Step::Front, kVlc, vlc, {kVlc}, false, 1}, {Step::Quit, kVlc, {}, {}, false, 1}}},
        {"same app to the front again schedules nothing",
         defaults,
         {{Step::Front, kVlc, vlc, {kVlc}, false, 1}, {Step::Front, kVlc, vlc, {kVlc}, false, 1}}},
        {"empty media application list: nothing is ever listed",
         {},
         {{Step::Front, kVlc, vlc, {}, true, 0},
          {Step::Front, kSelf, kOwnId, {}, true, 0},
          {Step::Quit, kVlc, {}, {}, true, 0}}},
    };

    for (const Scenario& scenario : scenarios) {
        MediaKeyTapPolicy policy(kSelf);
        bool intercept = true;
        int scheduled = 0;
        int stepNumber = 0;
        for (const Step& step : scenario.steps) {
            ++stepNumber;
            const std::optional<bool> value =
                step.kind == Step::Front ? policy.appIsNowFrontmost(step.process, step.bundleId,
                                                                    scenario.mediaApplications)
                                         : policy.appTerminated(step.process);
            if (value) {
                scheduled += MediaKeyTapPolicy::schedulesTapChange(intercept, *value, true) ? 1 : 0;
                intercept = *value;
            }
            SCOPED_TRACE(testing::Message() << scenario.name << ", step " << stepNumber);
            EXPECT_EQ(policy.mediaKeyAppList(), step.list);
            EXPECT_EQ(intercept, step.intercept);
            EXPECT_EQ(scheduled, step.scheduled);
        }
    }
}

TEST(TapPolicy, NoTapThreadMeansNoMessage) {
    EXPECT_FALSE(MediaKeyTapPolicy::schedulesTapChange(true, false, false));
    EXPECT_TRUE(MediaKeyTapPolicy::schedulesTapChange(true, false, true));
    EXPECT_FALSE(MediaKeyTapPolicy::schedulesTapChange(false, false, true));
}

TEST(TapPolicy, ApplicationNames) {
    struct Row {
        bool self;
        const char* desktopId;
        const char* windowClass;
        const char* expected;
    };
    const Row rows[] = {
        {true, "", "xterm", "org.sondrel.Sondrel"},
        {false, "", "vlc", "org.videolan.vlc"},
        {false, "org.videolan.VLC.desktop", "", "org.videolan.vlc"},
        {false, "", "Spotify", "com.spotify.client"},
        {false, "com.spotify.Client", "Spotify", "com.spotify.client"},
        {false, "", "clementine", "org.clementine-player.clementine"},
        {false, "org.gnome.Rhythmbox3", "Rhythmbox", "org.gnome.Rhythmbox3"},
        {false, "", "XTerm", "XTerm"},
        {false, "", "", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(bundleIdentifierForApplication(row.self, kOwnId,
                                                 QString::fromLatin1(row.desktopId),
                                                 QString::fromLatin1(row.windowClass)),
                  QString::fromLatin1(row.expected))
            << row.desktopId << " / " << row.windowClass;
    }
}

TEST(MediaKeyEvents, LayoutOfData1) {
    const MediaKeyEvent down = MediaKeyEvent::make(NX_KEYTYPE_PLAY, true);
    EXPECT_EQ(down.type, 14);
    EXPECT_EQ(down.subtype, 8);
    EXPECT_EQ(down.data1, 0x00100A00);
    EXPECT_TRUE(down.isPressed());
    EXPECT_FALSE(down.isRepeat());

    const MediaKeyEvent up = MediaKeyEvent::make(NX_KEYTYPE_FAST, false);
    EXPECT_EQ(up.data1, 0x00130B00);
    EXPECT_EQ(up.keyCode(), 19);
    EXPECT_EQ(up.keyState(), 0x0B);
    EXPECT_FALSE(up.isPressed());

    const MediaKeyEvent repeat = MediaKeyEvent::make(NX_KEYTYPE_REWIND, true, true);
    EXPECT_EQ(repeat.data1, 0x00140A01);
    EXPECT_EQ(repeat.keyFlags(), 0x0A01);
    EXPECT_TRUE(repeat.isRepeat());
    EXPECT_TRUE(repeat.isPressed());
}

TEST(MediaKeyEvents, ActionsOfTheMainController) {
    struct Row {
        MediaKeyEvent event;
        MediaKeyAction expected;
    };
    MediaKeyEvent otherSubtype = MediaKeyEvent::make(NX_KEYTYPE_PLAY, true);
    otherSubtype.subtype = 7;
    const Row rows[] = {
        {MediaKeyEvent::make(16, true), MediaKeyAction::PlayPause},
        {MediaKeyEvent::make(16, false), MediaKeyAction::None},
        {MediaKeyEvent::make(19, true), MediaKeyAction::NextSong},
        {MediaKeyEvent::make(19, true, true), MediaKeyAction::NextSong}, // each repeat acts
        {MediaKeyEvent::make(19, false), MediaKeyAction::None},
        {MediaKeyEvent::make(20, true), MediaKeyAction::PreviousSong},
        {MediaKeyEvent::make(17, true), MediaKeyAction::None},
        {MediaKeyEvent::make(18, true), MediaKeyAction::None},
        {MediaKeyEvent::make(5, true), MediaKeyAction::None},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(mediaKeyActionForEvent(row.event), row.expected) << std::hex << row.event.data1;
    }

    LogCapture log;
    EXPECT_EQ(mediaKeyActionForEvent(otherSubtype), MediaKeyAction::None);
    EXPECT_TRUE(
        log.contains(QStringLiteral("Unexpected NSEvent in mediaKeyTap:receivedMediaKeyEvent:")));
}

TEST(MediaKeySettings, DefaultListIsRegisteredAndASavedListWins) {
    const QStringList defaults = SPMediaKeyTap::defaultMediaKeyUserBundleIdentifiers();
    ASSERT_EQ(defaults.size(), 20);
    EXPECT_EQ(defaults.first(), QString::fromLatin1(kApplicationId));
    EXPECT_EQ(defaults.at(1), QStringLiteral("com.spotify.client"));
    EXPECT_EQ(defaults.last(), QStringLiteral("com.macromedia.fireworks"));

    const QString key = QStringLiteral("SPApplicationsNeedingMediaKeys");
    EXPECT_EQ(SPMediaKeyTap::kMediaKeyUsingBundleIdentifiersDefaultsKey, key);
    SPMediaKeyTap::registerDefaultMediaKeyUserBundleIdentifiers();
    EXPECT_EQ(AppDelegate::getObjectWithKey(key).toStringList(), defaults);

    const QStringList mine = {QStringLiteral("org.videolan.vlc")};
    AppDelegate::saveObjectWithKey(mine, key);
    EXPECT_EQ(AppDelegate::getObjectWithKey(key).toStringList(), mine);
    SPMediaKeyTap::registerDefaultMediaKeyUserBundleIdentifiers();
    EXPECT_EQ(AppDelegate::getObjectWithKey(key).toStringList(), mine);
}

TEST(MediaKeySettings, GlobalTapNeedsTheSettingAndAnX11Display) {
    const QByteArray display = qgetenv("DISPLAY");
    const QByteArray session = qgetenv("XDG_SESSION_TYPE");

    qunsetenv("DISPLAY");
    AppDelegate::saveObjectWithKey(false, QStringLiteral("SPIgnoreMediaKeys"));
    EXPECT_FALSE(SPMediaKeyTap::usesGlobalMediaKeyTap()) << "no X11 display";

    qputenv("DISPLAY", ":65000"); // nothing listens there
    EXPECT_FALSE(SPMediaKeyTap::usesGlobalMediaKeyTap()) << "display cannot be reached";

    qputenv("XDG_SESSION_TYPE", "wayland");
    EXPECT_FALSE(SPMediaKeyTap::usesGlobalMediaKeyTap()) << "Wayland session";

    // Starting a tap where none can be made leaves no thread and says why, once.
    test::FakePlayer player;
    LogCapture log;
    auto tap = SPMediaKeyTap::create(&player);
    tap->startWatchingMediaKeys();
    tap->startWatchingMediaKeys();
    EXPECT_FALSE(tap->isWatchingMediaKeys());
    EXPECT_TRUE(tap->shouldInterceptMediaKeyEvents());
    EXPECT_EQ(
        log.count(QStringLiteral("Media key tap unavailable: this is a Wayland session; media "
                                 "keys reach the player through MPRIS")),
        1);
    tap.reset();

    auto restore = [](const char* name, const QByteArray& value) {
        if (value.isNull()) {
            qunsetenv(name);
        } else {
            qputenv(name, value);
        }
    };
    restore("DISPLAY", display);
    restore("XDG_SESSION_TYPE", session);
}
