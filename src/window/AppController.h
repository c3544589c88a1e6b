#pragma once
// The controller of the main window. It loads the window from its interface description
// (MainWindow.ui, rows from SongCell.ui), sets the player up the first time the window
// becomes main, drives the song player from every control, follows the player through
// its delegate callbacks, feeds the song table, requests the song lists from the
// service and raises the song notification.
//
// The implementation is split by concern:
//   AppControllerSetup.cpp           creation, window set-up, restoring the controls
//   AppControllerPlayerCallbacks.cpp the song player's delegate and the play button states
//   AppControllerActions.cpp         button, slider, search and share actions, keyboard
//   AppControllerSongTable.cpp       the song table's data source, marking, row buttons
//   AppControllerLists.cpp           list addresses, list requests, the error check
//   AppControllerNotifications.cpp   the song notification
//   AppControllerAuth.cpp            sign-in and logout: the popover, the web view, the token
//   AppControllerStatus.cpp          status broadcast: the switch, status.set, the captcha
//   AppControllerMediaKeys.cpp       media keys (tap and window) and MPRIS's controls
//   AppControllerMessages.cpp        the message line: what failed, until it works again
//
// Threading: main thread only. The list requests, the start-up token read, the logout's
// feed page fetch and the status.set requests run on the background pool and come back
// through dispatchMain(); nothing else leaves the main thread.

#include "mediakeys/PlayerControl.h"
#include "mediakeys/SPMediaKeyTap.h"
#include "playback/SongPlayerDelegate.h"
#include "shell/EntitySongs.h"
#include "support/SongList.h"
#include "window/BusySpinner.h"
#include "window/FloatSlider.h"
#include "window/SongTableView.h"

#include <QAction>
#include <QByteArray>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <QString>
#include <QToolButton>
#include <QUrl>
#include <cstdint>
#include <memory>
#include <optional>

class QAbstractButton;
class QMainWindow;

namespace Ui {
class MainWindow;
}

namespace sondrel {

class DesktopNotifier;
class LyricsPanel;
class PlaybackResume;
class ImagesCache;
class MprisService;
class SongDownloader;
class SongPlayer;
class StatusMessage;
class WebView;
struct CaptchaDemand;

// An outlet: a weak reference to a control of the window (empty once the control is
// gone) with its plain getter and setter.
#define SONDREL_OUTLET(Type, name, setter)                                                         \
public:                                                                                            \
    Type* name() const {                                                                           \
        return name##Outlet.data();                                                                \
    }                                                                                              \
    void setter(Type* value) {                                                                     \
        name##Outlet = value;                                                                      \
    }                                                                                              \
                                                                                                   \
private:                                                                                           \
    QPointer<Type> name##Outlet;

class AppController : public QObject,
                      public SongPlayerDelegate,
                      public TableViewDataSource,
                      public SPMediaKeyTapDelegate,
                      public PlayerControl {
    Q_OBJECT

    SONDREL_OUTLET(SongTableView, songsTableView, setSongsTableView)
    SONDREL_OUTLET(SongTableView, friendsTableView, setFriendsTableView) // interface only
    SONDREL_OUTLET(QToolButton, playButton, setPlayButton)
    SONDREL_OUTLET(QToolButton, translateButton, setTranslateButton)
    SONDREL_OUTLET(QToolButton, loginPopoverDot, setLoginPopoverDot)
    SONDREL_OUTLET(FloatSlider, volumeSlider, setVolumeSlider)
    SONDREL_OUTLET(FloatSlider, progressSlider, setProgressSlider)
    SONDREL_OUTLET(QFrame, searchBar, setSearchBar) // interface only
    SONDREL_OUTLET(QLineEdit, searchFieldCell, setSearchFieldCell)
    SONDREL_OUTLET(QLabel, currentSongTitle, setCurrentSongTitle)
    SONDREL_OUTLET(QLabel, currentSongTimeLeft, setCurrentSongTimeLeft)
    SONDREL_OUTLET(QLineEdit, translateCaptchaTextfield, setTranslateCaptchaTextfield)
    SONDREL_OUTLET(QLabel, translateCaptchaImageView, setTranslateCaptchaImageView)
    SONDREL_OUTLET(QFrame, translateCaptchaView, setTranslateCaptchaView) // interface only
    SONDREL_OUTLET(QWidget, loginView, setLoginView)
    SONDREL_OUTLET(QWidget, loginWebView, setLoginWebView)
    SONDREL_OUTLET(QFrame, popover, setPopover)
    SONDREL_OUTLET(QAction, menuLogoutItem, setMenuLogoutItem)
    SONDREL_OUTLET(BusySpinner, progressIndicator, setProgressIndicator)
    SONDREL_OUTLET(QProgressBar, loadingBar, setLoadingBar) // interface only
    SONDREL_OUTLET(BusySpinner, loginSpinner, setLoginSpinner)
    SONDREL_OUTLET(BusySpinner, loginSmallSpinner1, setLoginSmallSpinner1)
    SONDREL_OUTLET(BusySpinner, loginSmallSpinner2, setLoginSmallSpinner2)

public:
    // Play button states (playButtonState).
    static constexpr int kStatePlaying = 0;
    static constexpr int kStatePaused = 1;
    static constexpr int kStateStopped = 2;
    // Every row of the song table is this high (points).
    static constexpr int kRowHeight = 39;
    static inline const QString kSongCellIdentifier = QStringLiteral("SongCell");
    static inline const QString kRowTextColour = QStringLiteral("5f7fa2");
    static inline const QString kPausedTitle = QStringLiteral("На паузе");
    static inline const QString kBufferingTitle = QStringLiteral("Загрузка…");

    // Loads the window (not shown yet) and makes itself its delegate.
    explicit AppController(QObject* parent = nullptr);
    ~AppController() override;

    // The main window (a plain reference; the controller owns it).
    QMainWindow* window() const { return mainWindow.get(); }
    // The lyrics toggle and side panel.
    LyricsPanel* lyricsPanel() const { return lyricsPanelObject; }

    // ---- Set-up (AppControllerSetup.cpp)
    // Every time the window becomes main; the set-up and the start-up sign-in check run
    // once per process.
    void windowDidBecomeMain();
    // Glides the volume slider to the stored volume, restores the status broadcast switch.
    void repairControls();
    // Starts the media key tap when the desktop allows one.
    void enableMediakeyListener();

    // ---- Player callbacks (AppControllerPlayerCallbacks.cpp)
    // 0 playing, 1 paused, 2 stopped; other values change nothing.
    void playButtonState(int state);
    void songPlayerStopped() override;
    void songPlayerPaused() override;
    void songPlayerPlaying() override;
    void songPlayerUpdateCurrentPlaying() override;
    void songPlayerPlaybackTimerTick(QTimer* timer) override;
    void songPlayerHighlightSongInListWithNumber(std::uint64_t number) override;
    float songPlayerGetVolumeLevel() override;
    void songPlayerBuffering() override;
    void songPlayerSongFailed(std::uint64_t number, const QString& reason) override;

    // ---- Actions (AppControllerActions.cpp); `sender` may be null (media keys).
    void backwardSelector(QObject* sender = nullptr);
    void forwardSelector(QObject* sender = nullptr);
    void playSelector(QObject* sender = nullptr);
    void repeatSelector(QObject* sender = nullptr);
    void shuffleSelector(QObject* sender = nullptr);
    void searchSelector(QObject* sender = nullptr);
    void volumeSelector(QObject* sender = nullptr);
    void progressSelector(QObject* sender = nullptr);
    void didOpenTwitter(QObject* sender = nullptr);
    void didOpenFacebook(QObject* sender = nullptr);
    void didOpenLinkedin(QObject* sender = nullptr);

    // ---- Song table (AppControllerSongTable.cpp)
    std::int64_t numberOfRowsInTableView(SongTableView* table) override;
    double tableViewHeightOfRow(SongTableView* table, std::int64_t row) override;
    bool tableViewShouldSelectRow(SongTableView* table, std::int64_t row) override;
    QWidget* tableViewViewForTableColumn(SongTableView* table, int column,
                                         std::int64_t row) override;
    // Marks row `row` as the current song's (when the play list is the list on screen).
    void selectSongRow(std::uint64_t row, SongTableView* table);
    // Unmarks every row on screen.
    void unselectAllRows();
    // A row's button was clicked: play, switch to or pause that row's song.
    void switchSongWith(QAbstractButton* sender);
    // What a screen reader reads for a row: its title line and length (Name), and
    // "playing" or "paused" on the current song's row (Description).
    QString tableViewAccessibleText(SongTableView* table, std::int64_t row,
                                    QAccessible::Text kind) override;
    // Enter on a row (or a screen reader's press) does what its button does.
    void tableViewActivateRow(SongTableView* table, std::int64_t row) override;

    // ---- Lists (AppControllerLists.cpp)
    QUrl URLAllMyAudio() const;
    QUrl URLSearch(const QString& text) const;
    // Fetches a list in the background; its songs become the list on screen. `search` is
    // the search text the address asks for ("" for the own list).
    void downloadPlaylistWithURL(const QUrl& url, const QString& search = {});
    // The background part's last step (any thread): a new list equal to the one being
    // played (the same list fetched again) shares the played list's records, so the
    // player's equality checks at every row and tick take no time and the copy's memory
    // is freed here rather than on the main loop.
    static void shareRecordsWithPlayList(SongList& songs, const SongList& playing);
    // The main loop's part: `songs` become the player's list on screen (the caller
    // reloads the table). The list they replace is released on the background pool,
    // which gives its memory back to the system.
    void replaceListOnScreen(const SongList& songs);
    // The shared error check (any thread): logs codes 14 and 5, and for 5 starts a new
    // sign-in on the main thread.
    void checkResponseOnErrors(const QByteArray& bytes);
    // Requests started and not yet answered.
    int listRequestsRunning() const { return runningListRequests; }

    // ---- Sign-in and logout (AppControllerAuth.cpp)
    // The start-up check (called once): opens the popover, reads the token in the
    // background and decides by its age; the own list is requested at once.
    void checkAuth();
    // The operations below queue their work on the main loop and return at once, so any
    // thread may call them.
    // Opens the popover on the authorization page (the service said the token expired).
    void didAuthorize();
    // Loads the authorization page into the web view (does not open the popover).
    void loadAuthPage();
    // A sign-in is complete: closes the popover, requests the own list, shows "Log out".
    void authComplete();
    // Stores the token and user id an address carries; an OAuth error address, or (a few
    // times in a row) a redirect whose token is empty, brings the authorization page back.
    void checkToken(const QString& address);
    // The logout item's action: finds the service's logout link on the feed page and
    // opens it in the web view.
    void didLogout(QObject* sender = nullptr);
    void startSmallSpinners(QObject* sender = nullptr);
    void stopSmallSpinners(QObject* sender = nullptr);
    // The web view's load callbacks (main thread), with the load's initial address.
    void webViewDidCommitLoad(const QUrl& initialUrl);
    void webViewDidFinishLoad(const QUrl& initialUrl);
    // The sign-in web view (null until the sign-in first needs it; its engine starts
    // only when a page is loaded into it).
    WebView* loginWebViewAdapter() const { return webViewObject; }
    bool isPopoverShown() const;

    // ---- Status broadcast (AppControllerStatus.cpp)
    // Flips the switch, stores it and shows it on `sender` (a button).
    void translateSelector(QObject* sender = nullptr);
    // Publishes the current song as the profile status (true) or clears it (false),
    // when the switch is on.
    void setCurrentPlayingInProfileStatus(bool playing);
    // Sends the typed captcha answer (nothing when the field is empty).
    void translateCaptchaConfirm(QObject* sender = nullptr);

    // ---- Media keys and desktop media controls (AppControllerMediaKeys.cpp)
    // 16 play/pause, 19 next song, 20 previous song; key presses (and their repeats) only.
    void mediaKeyTapReceivedMediaKeyEvent(SPMediaKeyTap* tap, const MediaKeyEvent& event) override;
    // The tap made at set-up (null when the desktop allows none).
    SPMediaKeyTap* mediaKeyTap() const { return keyTap.get(); }
    // The MPRIS service made at set-up (null before; not on the bus when there is none).
    MprisService* mprisService() const { return mpris.get(); }
    PlayerState playerState() const override;
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
    void raise() override;
    void quit() override;

    // ---- Stores made at set-up
    ImagesCache* imagesCache() const { return imagesCacheObject.get(); }
    static EntitySongs* entitySongs() { return entitySongsObject.get(); }

    // ---- Process-wide values
    static bool launchedAtThisMoment() { return launched; }
    static bool needToCheckAuthAfterWindowDidBecomeMain() { return needAuthCheck; }
    static bool translateNowPlayingToProfile() { return translateToProfile; }
    static void setTranslateNowPlayingToProfile(bool on) { translateToProfile = on; }
    // The id of the captcha the service last asked for, while one is held.
    static const std::optional<QString>& errorCaptchaSID() { return captchaSid; }
    // As at launch (tests that make several controllers in one process).
    static void resetProcessWideState();

    // The title and text of the song notification last delivered (none before the first).
    struct UserNotification {
        QString title;
        QString informativeText;
    };
    const std::optional<UserNotification>& notification() const { return lastNotification; }
    // The notification sender (created with the first notification).
    DesktopNotifier* notifier();

    // The window's message line (AppControllerMessages.cpp wires it to what can fail).
    StatusMessage* statusMessage() const { return statusMessageObject; }

signals:
    // A list answer has been put on screen (or found unusable); tests wait for it.
    void listRequestFinished();

private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void connectControls();
    void setUpShortcuts();
    void setRowButtonImageOfCurrentSong(const QString& name);
    void setStoppedTitle();
    void showAttributedTitle();
    void deliverSongNotification();
    void markRowView(QWidget* rowView, bool current);
    bool isCurrentSongRow(std::int64_t row) const;
    void switchSongAtRow(std::int64_t row);
    QWidget* makeSongCell();
    void becomeMainSoon();
    void announcePlayerState();
    void listRequestStarted();
    void listRequestEnded();
    static SongPlayer* player();
    void showCurrentSongLyrics();
    // The progress slider's lighter fill: the downloaded share of the current song.
    void showDownloadedShare();
    // The song where the user left off, not playing: its row marked, its title, and the
    // slider and times at the point it goes on from.
    void showResumedSong();
    // Sign-in and status broadcast helpers (AppControllerAuth.cpp, AppControllerStatus.cpp).
    void connectSignInControls();
    WebView* ensureWebView();
    void showPopover();
    void startupTokenChecked(bool tokenPresent);
    void completeLogout();
    void logoutLinkFound(const std::optional<QString>& link);
    void captchaDemanded(const CaptchaDemand& demand);
    // The message line's sources (AppControllerMessages.cpp).
    void connectMessages();
    void disconnectMessages();
    void showListOutcome(const std::optional<QString>& problem);
    void showStatusOutcome(const std::optional<QString>& problem);

    std::unique_ptr<Ui::MainWindow> ui;
    std::unique_ptr<QMainWindow> mainWindow;
    std::unique_ptr<SongDownloader> downloaderObject;
    std::unique_ptr<SongPlayer> playerObject;
    std::unique_ptr<ImagesCache> imagesCacheObject;
    std::shared_ptr<SPMediaKeyTap> keyTap;
    std::unique_ptr<MprisService> mpris;
    std::unique_ptr<PlaybackResume> resume;       // made with the player
    DesktopNotifier* notifierObject = nullptr;    // child of this controller
    LyricsPanel* lyricsPanelObject = nullptr;     // child of the window
    StatusMessage* statusMessageObject = nullptr; // child of this controller
    std::optional<UserNotification> lastNotification;
    int runningListRequests = 0;
    // The image the current song's row button shows ("pause" or "play"), also for the
    // row when it is built again (scrolled back into view, the list reloaded).
    QString currentRowImage = QStringLiteral("pause");
    WebView* webViewObject = nullptr;   // child of this controller, made on first need
    int emptyTokenRedirects = 0;        // in a row, since the last token stored
    bool windowPainted = false;         // the window has painted itself once
    bool activationBeforePaint = false; // it became active before that

    // Process-wide (main thread).
    static inline bool launched = true;
    static inline bool needAuthCheck = true;
    static inline bool translateToProfile = false;
    static inline std::optional<QString> captchaSid;
    static inline std::unique_ptr<EntitySongs> entitySongsObject;
};

#undef SONDREL_OUTLET

} // namespace sondrel
