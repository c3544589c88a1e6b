// AppController: the list addresses, the list requests and the shared error check.
//
// A list request runs its network wait and its JSON work on the background pool; the
// main loop only receives the finished song records, hands them to the player and
// redraws the visible rows. Requests are neither cancelled nor ordered: when two
// overlap, the one that answers last stays on screen.

#include "platform/Dispatch.h"
#include "platform/Network.h"
#include "platform/ServiceConfig.h"
#include "playback/PlaybackResume.h"
#include "playback/SongPlayer.h"
#include "service/AudioListURLs.h"
#include "service/ServiceAnswer.h"
#include "service/ServiceProblems.h"
#include "service/ServiceTrust.h"
#include "shell/AppDelegate.h"
#include "window/AppController.h"
#include "window/BusySpinner.h"

namespace sondrel {
namespace {

QString storedToken() {
    return AppDelegate::getObjectWithKey(QStringLiteral("accessToken")).toString();
}

} // namespace

QUrl AppController::URLAllMyAudio() const {
    return sondrel::URLAllMyAudio(serviceConfig().apiBase(), storedToken());
}

QUrl AppController::URLSearch(const QString& text) const {
    return sondrel::URLSearch(serviceConfig().apiBase(), storedToken(), text);
}

void AppController::downloadPlaylistWithURL(const QUrl& url, const QString& search) {
    listRequestStarted();
    const QPointer<AppController> self(this);
    // A reference, not a copy: the records are shared until someone changes them.
    SongList playing = player() != nullptr ? player()->playList() : SongList();
    dispatchBackground([self, url, search, playing = std::move(playing)]() mutable {
        trustServiceCertificateOnce();
        const HttpResult result = blockingGet(url, kRequestTimeout);
        // The check logs the service's error lines; the list is read in the same pass.
        SongListAnswer answer = readSongListAnswer(result.ok ? result.body : QByteArray());
        if (answer.songs) {
            shareRecordsWithPlayList(*answer.songs, playing);
        }
        playing = SongList();
        std::optional<QString> problem = listProblem(result, answer);
        dispatchMain([self, search, ok = result.ok, answer = std::move(answer),
                      problem = std::move(problem)] {
            if (!self) {
                return;
            }
            self->showListOutcome(problem);
            if (answer.action == ServiceErrorAction::ReAuthorize) {
                self->didAuthorize();
            }
            self->listRequestEnded();
            if (ok && answer.songs) {
                self->replaceListOnScreen(*answer.songs);
                if (self->resume) {
                    self->resume->showListArrived(search);
                }
                if (SongTableView* table = self->songsTableView()) {
                    table->reloadData();
                }
                if (self->resume && self->resume->showsStoredPoint()) {
                    self->showResumedSong();
                }
                self->announcePlayerState();
            }
            emit self->listRequestFinished();
        });
    });
}

void AppController::shareRecordsWithPlayList(SongList& songs, const SongList& playing) {
    if (songs == playing) {
        songs = playing;
    }
}

void AppController::replaceListOnScreen(const SongList& songs) {
    SongPlayer* songPlayer = player();
    if (songPlayer == nullptr) {
        return;
    }
    SongList replaced = songPlayer->showList();
    songPlayer->setListOnScreenWithArray(songs);
    dispatchBackground([replaced = std::move(replaced)]() mutable { replaced = SongList(); });
}

void AppController::checkResponseOnErrors(const QByteArray& bytes) {
    if (sondrel::checkResponseOnErrors(bytes) == ServiceErrorAction::ReAuthorize) {
        const QPointer<AppController> self(this);
        dispatchMain([self] {
            if (self) {
                self->didAuthorize();
            }
        });
    }
}

void AppController::listRequestStarted() {
    ++runningListRequests;
    if (progressIndicator() != nullptr) {
        progressIndicator()->startAnimation();
    }
}

void AppController::listRequestEnded() {
    runningListRequests = std::max(0, runningListRequests - 1);
    if (runningListRequests == 0 && progressIndicator() != nullptr) {
        progressIndicator()->stopAnimation();
    }
}

} // namespace sondrel
