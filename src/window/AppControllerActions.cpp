// AppController: the actions of the window's buttons, sliders, search field and share
// buttons, and the keyboard shortcuts.

#include "mediakeys/MprisService.h"
#include "playback/PlaybackResume.h"
#include "playback/SongPlayer.h"
#include "support/CommonHelper.h"
#include "ui_MainWindow.h"
#include "window/AppController.h"
#include "window/AuthorLinks.h"
#include "window/FloatSlider.h"
#include "window/Images.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QShortcut>

namespace sondrel {

void AppController::connectControls() {
    connect(ui->playButton, &QAbstractButton::clicked, this,
            [this] { playSelector(ui->playButton); });
    connect(ui->backwardButton, &QAbstractButton::clicked, this,
            [this] { backwardSelector(ui->backwardButton); });
    connect(ui->forwardButton, &QAbstractButton::clicked, this,
            [this] { forwardSelector(ui->forwardButton); });
    connect(ui->repeatButton, &QAbstractButton::clicked, this,
            [this] { repeatSelector(ui->repeatButton); });
    connect(ui->shuffleButton, &QAbstractButton::clicked, this,
            [this] { shuffleSelector(ui->shuffleButton); });
    connect(ui->volumeSlider, &FloatSlider::action, this,
            [this] { volumeSelector(ui->volumeSlider); });
    connect(ui->progressSlider, &FloatSlider::action, this,
            [this] { progressSelector(ui->progressSlider); });
    connect(ui->searchFieldCell, &QLineEdit::returnPressed, this,
            [this] { searchSelector(ui->searchFieldCell); });
    // The field's clear button (our own picture: the desktop's icon theme is slow to
    // search at start), shown while there is text.
    QAction* clear = ui->searchFieldCell->addAction(imageNamed(QStringLiteral("clear")),
                                                    QLineEdit::TrailingPosition);
    clear->setObjectName(QStringLiteral("searchClearAction"));
    clear->setToolTip(tr("Clear the search and show my songs"));
    clear->setVisible(false);
    connect(ui->searchFieldCell, &QLineEdit::textChanged, clear,
            [clear](const QString& text) { clear->setVisible(!text.isEmpty()); });
    connect(clear, &QAction::triggered, this, [this] {
        ui->searchFieldCell->clear();
        searchSelector(ui->searchFieldCell);
    });
    // Emptying the field (the clear button, or deleting the text) shows the own list again.
    connect(ui->searchFieldCell, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (text.isEmpty()) {
            searchSelector(ui->searchFieldCell);
        }
    });
    connect(ui->twitterButton, &QAbstractButton::clicked, this,
            [this] { didOpenTwitter(ui->twitterButton); });
    connect(ui->facebookButton, &QAbstractButton::clicked, this,
            [this] { didOpenFacebook(ui->facebookButton); });
    connect(ui->linkedinButton, &QAbstractButton::clicked, this,
            [this] { didOpenLinkedin(ui->linkedinButton); });
    connect(ui->actionQuit, &QAction::triggered, this, [] { QCoreApplication::quit(); });
}

void AppController::setUpShortcuts() {
    // Space plays or pauses; Ctrl+Right and Ctrl+Left skip. A text field that has the
    // keyboard keeps these keys for itself (Space types a space there).
    connect(ui->actionPlayPause, &QAction::triggered, this, [this] { playSelector(nullptr); });
    connect(ui->actionNext, &QAction::triggered, this, [this] { forwardSelector(nullptr); });
    connect(ui->actionPrevious, &QAction::triggered, this, [this] { backwardSelector(nullptr); });
    connect(ui->actionSearch, &QAction::triggered, this, [this] {
        ui->searchFieldCell->setFocus(Qt::ShortcutFocusReason);
        ui->searchFieldCell->selectAll();
    });
    // The actions also work with the menu bar hidden (a desktop-wide menu bar, say).
    mainWindow->addActions({ui->actionPlayPause, ui->actionNext, ui->actionPrevious,
                            ui->actionSearch, ui->actionQuit});
    // Escape in the search field hands the keyboard back to the song list.
    auto* leaveSearch = new QShortcut(QKeySequence(Qt::Key_Escape), ui->searchFieldCell);
    leaveSearch->setContext(Qt::WidgetShortcut);
    connect(leaveSearch, &QShortcut::activated, this,
            [this] { ui->songsTableView->setFocus(Qt::ShortcutFocusReason); });
}

void AppController::backwardSelector(QObject* /*sender*/) {
    if (SongPlayer* songPlayer = player()) {
        songPlayer->prev();
    }
}

void AppController::forwardSelector(QObject* /*sender*/) {
    if (SongPlayer* songPlayer = player()) {
        songPlayer->next();
    }
}

void AppController::playSelector(QObject* /*sender*/) {
    if (SongPlayer* songPlayer = player()) {
        songPlayer->playPause();
    }
}

void AppController::repeatSelector(QObject* sender) {
    SongPlayer* songPlayer = player();
    if (songPlayer == nullptr) {
        return;
    }
    songPlayer->invertRepeating();
    setButtonImage(qobject_cast<QAbstractButton*>(sender), songPlayer->getRepeating()
                                                               ? QStringLiteral("repeat")
                                                               : QStringLiteral("repeat_off"));
    announcePlayerState();
}

void AppController::shuffleSelector(QObject* sender) {
    SongPlayer* songPlayer = player();
    if (songPlayer == nullptr) {
        return;
    }
    songPlayer->invertShuffle();
    setButtonImage(qobject_cast<QAbstractButton*>(sender), songPlayer->getShuffle()
                                                               ? QStringLiteral("shuffle")
                                                               : QStringLiteral("shuffle_off"));
    announcePlayerState();
}

void AppController::searchSelector(QObject* /*sender*/) {
    const QString text = searchFieldCell() != nullptr ? searchFieldCell()->text() : QString();
    if (resume) {
        resume->forgetStoredSearch();
    }
    downloadPlaylistWithURL(text.isEmpty() ? URLAllMyAudio() : URLSearch(text), text);
}

void AppController::volumeSelector(QObject* /*sender*/) {
    if (SongPlayer* songPlayer = player()) {
        songPlayer->setVolume();
    }
    announcePlayerState();
}

void AppController::progressSelector(QObject* /*sender*/) {
    SongPlayer* songPlayer = player();
    if (songPlayer == nullptr || progressSlider() == nullptr) {
        return;
    }
    songPlayer->seekToWithMax(static_cast<float>(progressSlider()->doubleValue()),
                              static_cast<float>(progressSlider()->maxValue()));
    if (songPlayer->theAudio() == nullptr && resume && resume->showsStoredPoint()) {
        songPlayerPlaybackTimerTick(nullptr); // the place Play starts from moved: times follow
    }
    if (mpris) {
        mpris->seeked(static_cast<qint64>(
            static_cast<double>(songPlayer->getCurrentPlayingCurrentTime()) * 1e6));
    }
}

void AppController::didOpenTwitter(QObject* /*sender*/) {
    const QString addresses =
        kAuthorTwitterAppAddress + QLatin1Char('|') + kAuthorTwitterWebAddress;
    CommonHelper::tryToOpenURLsArray(addresses.split(QLatin1Char('|')));
}

void AppController::didOpenFacebook(QObject* /*sender*/) {
    const QString addresses =
        kAuthorFacebookAppAddress + QLatin1Char('|') + kAuthorFacebookWebAddress;
    CommonHelper::tryToOpenURLsArray(addresses.split(QLatin1Char('|')));
}

void AppController::didOpenLinkedin(QObject* /*sender*/) {
    CommonHelper::tryToOpenURLsArray(kAuthorLinkedinWebAddress.split(QLatin1Char('|')));
}

} // namespace sondrel
