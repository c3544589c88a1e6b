// AppController: the status broadcast. While the switch is on, every report that
// playback runs publishes the current song as the profile status (status.set with the
// song's audio id) and every report that it stopped clears the status. When the service
// wants a captcha solved first, its picture goes into the captcha view and the typed
// answer goes with every following update until playback stops.
//
// The values of a request are taken on the main thread when it is made; the request and
// the reading of its answer run on the background pool, one request after another in
// the order they were made.

#include "platform/Dispatch.h"
#include "platform/Network.h"
#include "platform/ServiceConfig.h"
#include "playback/SongPlayer.h"
#include "service/AuthAddresses.h"
#include "service/ServiceProblems.h"
#include "service/ServiceTrust.h"
#include "service/StatusBroadcast.h"
#include "shell/AppDelegate.h"
#include "support/ImagesCache.h"
#include "window/AppController.h"
#include "window/Images.h"

#include <QLayout>
#include <QMainWindow>
#include <deque>
#include <functional>
#include <mutex>

namespace sondrel {
namespace {

// The status.set requests leave one after another, in the order they were made. Every
// song change clears the status and then sets it; sent side by side, the clear could
// arrive last and leave the profile empty while the song plays.
class StatusRequestQueue {
public:
    void add(std::function<void()> request) {
        std::lock_guard lock(mutex);
        requests.push_back(std::move(request));
        if (!sending) {
            sending = true;
            dispatchBackground([this] { sendAll(); });
        }
    }

private:
    void sendAll() {
        for (;;) {
            std::function<void()> request;
            {
                std::lock_guard lock(mutex);
                if (requests.empty()) {
                    sending = false;
                    return;
                }
                request = std::move(requests.front());
                requests.pop_front();
            }
            request();
        }
    }

    std::mutex mutex;
    std::deque<std::function<void()>> requests; // guarded by mutex
    bool sending = false;                       // guarded by mutex: a job is sending
};

StatusRequestQueue& statusRequests() {
    // Never destroyed: a background job may still be sending while the process ends.
    static auto* queue = new StatusRequestQueue;
    return *queue;
}

} // namespace

void AppController::translateSelector(QObject* sender) {
    translateToProfile = !translateToProfile;
    AppDelegate::saveObjectWithKey(translateToProfile, kTranslateSettingKey);
    setButtonImage(qobject_cast<QAbstractButton*>(sender), translateToProfile
                                                               ? QStringLiteral("translate")
                                                               : QStringLiteral("translate_off"));
}

void AppController::setCurrentPlayingInProfileStatus(bool playing) {
    if (!translateToProfile) {
        return;
    }
    if (!playing) {
        captchaSid.reset();
        if (translateCaptchaView() != nullptr) {
            translateCaptchaView()->hide();
        }
    }
    StatusRequestValues values;
    values.token = AppDelegate::getObjectWithKey(kAccessTokenKey).toString();
    values.userId = AppDelegate::getObjectWithKey(kLastUserIdKey).toString();
    if (SongPlayer* songPlayer = player()) {
        values.songId = idText(songPlayer->getCurrentSongID());
    }
    values.captchaSid = captchaSid;
    if (translateCaptchaTextfield() != nullptr) {
        values.captchaKey = translateCaptchaTextfield()->text();
    }
    const std::optional<QUrl> url = statusSetURL(serviceConfig().apiOrigin, playing, values);
    if (!url) {
        return; // no address can be made of these values: nothing is sent
    }
    statusRequests().add([self = QPointer<AppController>(this), url = *url, playing] {
        trustServiceCertificateOnce();
        const HttpResult answer = blockingGet(url, kRequestTimeout);
        dispatchMain([self, problem = transferProblem(answer)] {
            if (self) {
                self->showStatusOutcome(problem);
            }
        });
        if (!playing || !answer.ok) {
            return; // the answer to a clear is not read
        }
        const std::optional<CaptchaDemand> demand = captchaDemandFromAnswer(answer.body);
        if (!demand) {
            return;
        }
        dispatchMain([self, demand = *demand] {
            if (self) {
                self->captchaDemanded(demand);
            }
        });
    });
}

void AppController::captchaDemanded(const CaptchaDemand& demand) {
    captchaSid = demand.sid;
    // The captcha controls come into view while a captcha is held.
    if (translateCaptchaView() != nullptr && translateCaptchaView()->isHidden()) {
        translateCaptchaView()->show();
        if (QLayout* layout = mainWindow->centralWidget()->layout()) {
            layout->activate();
        }
    }
    if (QLabel* view = translateCaptchaImageView(); view != nullptr && imagesCache() != nullptr) {
        imagesCache()->getImageWithURL(demand.imageAddress, demand.sid, QSizeF(view->rect().size()),
                                       view);
    }
    if (translateCaptchaTextfield() != nullptr) {
        translateCaptchaTextfield()->setText(QString());
    }
}

void AppController::translateCaptchaConfirm(QObject* /*sender*/) {
    if (translateCaptchaTextfield() != nullptr && !translateCaptchaTextfield()->text().isEmpty()) {
        setCurrentPlayingInProfileStatus(true);
    }
}

} // namespace sondrel
