// AppController: creation, the one-time set-up when the window first becomes main, and
// restoring the volume slider and the status broadcast switch.

#include "mediakeys/MprisService.h"
#include "platform/Log.h"
#include "platform/ServiceConfig.h"
#include "playback/PlaybackResume.h"
#include "playback/SongDownloader.h"
#include "playback/SongPlayer.h"
#include "shell/AppDelegate.h"
#include "support/ImagesCache.h"
#include "ui_MainWindow.h"
#include "window/Accessibility.h"
#include "window/AppController.h"
#include "window/FloatSlider.h"
#include "window/Images.h"
#include "window/LyricsPanel.h"
#include "window/NSAnimationForSlider.h"
#include "window/StatusMessage.h"
#include "window/StoreEditActions.h"
#include "window/WindowStyle.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeySequence>
#include <QMainWindow>
#include <QRegularExpression>
#include <QShortcut>
#include <QTimer>

namespace sondrel {
namespace {

constexpr double kVolumeAnimationSeconds = 0.8;

// A stored volume as a number: numbers as they are, texts by their leading number the
// way "%f" wrote them ("40.000000"); a text without one reads as 0.
float storedFloat(const QVariant& value) {
    if (value.typeId() != QMetaType::QString) {
        return value.toFloat();
    }
    static const QRegularExpression leadingNumber(
        QStringLiteral(R"(^\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?)"));
    const QRegularExpressionMatch match = leadingNumber.match(value.toString());
    return match.hasMatch() ? match.captured(0).trimmed().toFloat() : 0.0f;
}

} // namespace

AppController::AppController(QObject* parent)
    : QObject(parent), ui(std::make_unique<Ui::MainWindow>()),
      mainWindow(std::make_unique<QMainWindow>()) {
    ensureWindowResources();
    WindowStyle::install();
    // The menu bar stays in the window: asking the desktop for a global menu bar is a
    // synchronous bus call that costs start-up time (about 10 ms) for little gain.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
    ui->setupUi(mainWindow.get());

    setSongsTableView(ui->songsTableView);
    setFriendsTableView(ui->friendsTableView);
    setPlayButton(ui->playButton);
    setTranslateButton(ui->translateButton);
    setLoginPopoverDot(ui->loginPopoverDot);
    setVolumeSlider(ui->volumeSlider);
    setProgressSlider(ui->progressSlider);
    setSearchBar(ui->searchBar);
    setSearchFieldCell(ui->searchFieldCell);
    setCurrentSongTitle(ui->currentSongTitle);
    setCurrentSongTimeLeft(ui->currentSongTimeLeft);
    setTranslateCaptchaTextfield(ui->translateCaptchaTextfield);
    setTranslateCaptchaImageView(ui->translateCaptchaImageView);
    setTranslateCaptchaView(ui->translateCaptchaView);
    setLoginView(ui->loginView);
    setLoginWebView(ui->loginWebView);
    setPopover(ui->popover);
    setMenuLogoutItem(ui->menuLogoutItem);
    setProgressIndicator(ui->progressIndicator);
    setLoadingBar(ui->loadingBar);
    setLoginSpinner(ui->loginSpinner);
    setLoginSmallSpinner1(ui->loginSmallSpinner1);
    setLoginSmallSpinner2(ui->loginSmallSpinner2);
    statusMessageObject = new StatusMessage(ui->mainLayout, this);

    // The sign-in popover is a popup window of its own, anchored to loginPopoverDot when
    // it is shown.
    ui->popover->setParent(mainWindow.get(), Qt::Popup);
    ui->popover->hide();

    ui->songsTableView->setDataSource(this);
    ui->songsTableView->registerViewFactory(kSongCellIdentifier, [this] { return makeSongCell(); });

    setButtonImage(ui->backwardButton, QStringLiteral("backward"));
    setButtonImage(ui->playButton, QStringLiteral("playBig"));
    setButtonImage(ui->forwardButton, QStringLiteral("forward"));
    setButtonImage(ui->repeatButton, QStringLiteral("repeat_off"));
    setButtonImage(ui->shuffleButton, QStringLiteral("shuffle_off"));
    setButtonImage(ui->translateButton, QStringLiteral("translate_off"));
    setStoppedTitle();
    ui->volumeSlider->setDoubleValue(0.0);
    ui->progressSlider->setDoubleValue(0.0);
    // Released drags, clicks and keys seek; a drag in progress does not.
    ui->progressSlider->setTracking(false);

    lyricsPanelObject = new LyricsPanel(
        mainWindow.get(), ui->menuControls, [] { return serviceConfig().apiBase(); },
        [] { return AppDelegate::getObjectWithKey(QStringLiteral("accessToken")).toString(); });

    connectControls();
    connectSignInControls();
    setUpShortcuts();
    new StoreEditActions(mainWindow.get(), ui->menuSondrel, ui->menuLogoutItem, ui->menubar,
                         ui->menuControls->menuAction(), this);
    setUpAccessibility(*ui);
    // The song list has the keyboard at start, so Space plays instead of typing.
    ui->songsTableView->setFocus();
    mainWindow->installEventFilter(this);

    if (AppDelegate* delegate = AppDelegate::sharedInstance()) {
        delegate->setWindow(mainWindow.get());
    }
}

AppController::~AppController() {
    disconnectMessages();
    // The tap thread and the bus must not call into a controller that is going away.
    if (keyTap) {
        keyTap->setDelegate(nullptr);
        keyTap->stopWatchingMediaKeys();
        keyTap.reset();
    }
    mpris.reset();
    if (resume) {
        resume->save(); // where the user leaves off, with the time reached
        resume.reset();
    }
    // The player reports to this controller while it stops; detach it first.
    if (playerObject) {
        playerObject->setDelegate(nullptr);
    }
    playerObject.reset();
    downloaderObject.reset();
    mainWindow->removeEventFilter(this);
}

bool AppController::eventFilter(QObject* watched, QEvent* event) {
    if (watched != mainWindow.get()) {
        return QObject::eventFilter(watched, event);
    }
    // The window shows itself first: the set-up (the media key tap, the bus, the player,
    // the list request) runs after the window's first paint and after the events queued
    // with it.
    if (event->type() == QEvent::WindowActivate) {
        if (windowPainted) {
            becomeMainSoon();
        } else {
            activationBeforePaint = true;
        }
    } else if (event->type() == QEvent::Paint && !windowPainted) {
        windowPainted = true;
        if (activationBeforePaint) {
            activationBeforePaint = false;
            becomeMainSoon();
        }
    }
    return QObject::eventFilter(watched, event);
}

void AppController::becomeMainSoon() {
    QTimer::singleShot(0, this, [this] {
        if (mainWindow->isActiveWindow()) {
            windowDidBecomeMain();
        }
    });
}

void AppController::windowDidBecomeMain() {
    if (launched) {
        entitySongsObject = std::make_unique<EntitySongs>();
        imagesCacheObject = std::make_unique<ImagesCache>();
        enableMediakeyListener();
        downloaderObject = std::make_unique<SongDownloader>();
        playerObject = std::make_unique<SongPlayer>();
        downloaderObject->setDelegate(this);
        // The slider's downloaded fill follows the bytes as they arrive, paused or not.
        connect(downloaderObject.get(), &SongDownloader::downloadedShareChanged, this,
                [this] { showDownloadedShare(); });
        playerObject->setDelegate(this);
        repairControls();
        // Back where the user left off: the stored point's list is requested at sign-in.
        resume = std::make_unique<PlaybackResume>(
            *playerObject,
            [] { return AppDelegate::getObjectWithKey(PlaybackResume::kSettingsKey).toString(); },
            [](const QString& text) {
                AppDelegate::saveObjectWithKey(text, PlaybackResume::kSettingsKey);
            });
        if (const std::optional<QString> search = resume->storedSearch();
            search && searchFieldCell() != nullptr) {
            searchFieldCell()->setText(*search);
        }
        // The desktop's media controls reach the player through MPRIS (the media keys
        // too, where no tap can be made).
        mpris = std::make_unique<MprisService>(this);
        mpris->registerOnBus();
        connectMessages();
        launched = false;
    }
    if (needAuthCheck) {
        checkAuth();
        if (QAction* logout = menuLogoutItem()) {
            logout->setVisible(false);
        }
        needAuthCheck = false;
    }
    // On every call, after the set-up: at first launch the tap exists before its
    // default application list is registered.
    SPMediaKeyTap::registerDefaultMediaKeyUserBundleIdentifiers();
}

void AppController::enableMediakeyListener() {
    // Without a global tap the media keys reach the controller through the application
    // object (MediaKeyExampleApp) and MPRIS.
    if (!SPMediaKeyTap::usesGlobalMediaKeyTap()) {
        return;
    }
    keyTap = SPMediaKeyTap::create(this);
    keyTap->startWatchingMediaKeys();
}

void AppController::repairControls() {
    auto* animation =
        new NSAnimationForSlider(kVolumeAnimationSeconds, Animation::NSAnimationEaseIn, this);
    animation->setAnimationBlockingMode(Animation::NSAnimationNonblocking);
    animation->setDelegateSlider(volumeSlider());
    const QVariant stored = AppDelegate::getObjectWithKey(QStringLiteral("lastVolume"));
    float target = 100.0f;
    if (stored.isValid()) {
        target = storedFloat(stored);
    } else if (volumeSlider() != nullptr) {
        target = static_cast<float>(volumeSlider()->maxValue());
    }
    animation->setAnimateToValue(target);
    connect(animation, &Animation::animationDidEnd, animation, &QObject::deleteLater);
    animation->startAnimation();

    translateToProfile =
        AppDelegate::getObjectWithKey(QStringLiteral("lastTranslateCurrentSongToProfile")).toBool();
    setButtonImage(translateButton(), translateToProfile ? QStringLiteral("translate")
                                                         : QStringLiteral("translate_off"));
}

void AppController::resetProcessWideState() {
    entitySongsObject.reset();
    launched = true;
    needAuthCheck = true;
    translateToProfile = false;
    captchaSid.reset();
}

SongPlayer* AppController::player() {
    return SongPlayer::sharedInstance();
}

} // namespace sondrel
