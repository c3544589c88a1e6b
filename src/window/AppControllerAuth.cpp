// AppController: sign-in and logout.
//
// The user signs in on the service's own pages in the sign-in popover's web view. Every
// load the web view finishes is tested on its initial address: the logout page ends the
// session, the authorization, login form and grant addresses are loaded again from
// where their redirects ended, and an address with an access token gives the token and
// the user id, which are stored with the time. At start-up the stored token is used
// while it is younger than 86,100 seconds.
//
// The logout fetches the service's feed page in the background (with the web view's
// cookies, mirrored into the shared jar), finds the "logout_mobile" link in it and opens
// that link in the web view; the finished logout page clears the token.
//
// Every operation but checkAuth and the web view callbacks queues its steps on the main
// loop, in call order, so it may be called from any thread.

#include "platform/Dispatch.h"
#include "platform/Network.h"
#include "platform/ServiceConfig.h"
#include "platform/webview/WebView.h"
#include "playback/PlaybackResume.h"
#include "playback/SongPlayer.h"
#include "service/AuthAddresses.h"
#include "service/TokenLifetime.h"
#include "shell/AppDelegate.h"
#include "support/CommonHelper.h"
#include "ui_MainWindow.h"
#include "window/AppController.h"

#include <QDesktopServices>
#include <QScreen>
#include <QThread>
#include <algorithm>

namespace sondrel {
namespace {

// The logout waits this long after reading the feed page before opening the link.
constexpr unsigned long kLogoutPauseMs = 1000;
// Redirects in a row whose access token is empty after which the authorization page is
// no longer asked again (a service that keeps answering so would be asked forever).
constexpr int kEmptyTokenRetries = 3;

// Runs `step` on the main loop later, unless the controller is gone by then.
template <typename Step> void later(AppController* controller, Step step) {
    dispatchMain([self = QPointer<AppController>(controller), step = std::move(step)]() mutable {
        if (self) {
            step(self.data());
        }
    });
}

AuthAddresses addresses() {
    return AuthAddresses::from(serviceConfig());
}

bool tokenStored() {
    return isTokenPresent(AppDelegate::getObjectWithKey(kAccessTokenKey));
}

} // namespace

void AppController::connectSignInControls() {
    connect(ui->menuLogoutItem, &QAction::triggered, this,
            [this] { didLogout(ui->menuLogoutItem); });
    connect(ui->translateButton, &QAbstractButton::clicked, this,
            [this] { translateSelector(ui->translateButton); });
    // The popover closes on a click outside it; its anchor brings it back with the page
    // it holds (the sign-in is not lost to a stray click).
    connect(ui->loginPopoverDot, &QAbstractButton::clicked, this, [this] { showPopover(); });
    // The captcha field's Return sends the answer.
    connect(ui->translateCaptchaTextfield, &QLineEdit::returnPressed, this,
            [this] { translateCaptchaConfirm(ui->translateCaptchaTextfield); });
}

WebView* AppController::ensureWebView() {
    if (webViewObject == nullptr) {
        webViewObject = new WebView(loginWebView(), this);
        connect(webViewObject, &WebView::didCommitLoad, this, &AppController::webViewDidCommitLoad);
        connect(webViewObject, &WebView::didFinishLoad, this, &AppController::webViewDidFinishLoad);
        // The sign-in view stays on the service's own pages; a link elsewhere opens in the
        // desktop's browser (web addresses only), and the popover stays as it was.
        webViewObject->setNavigationFilter(
            [](const QUrl& url) { return addresses().signInViewMayShow(url); });
        connect(webViewObject, &WebView::navigationRefused, this, [](const QUrl& url) {
            if (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http")) {
                QDesktopServices::openUrl(url);
            }
        });
    }
    return webViewObject;
}

bool AppController::isPopoverShown() const {
    return popover() != nullptr && popover()->isVisible();
}

void AppController::showPopover() {
    QFrame* frame = popover();
    if (frame == nullptr) {
        return;
    }
    if (QWidget* anchor = loginPopoverDot()) {
        // Hung from the anchor's lower edge (the larger y on screen), centred on it and
        // kept on the anchor's screen.
        const QRect bounds = anchor->rect();
        QPoint topLeft = anchor->mapToGlobal(
            QPoint(bounds.center().x() - frame->width() / 2, bounds.bottom() + 1));
        if (const QScreen* screen = anchor->screen()) {
            const QRect area = screen->availableGeometry();
            topLeft.setX(std::clamp(topLeft.x(), area.left(),
                                    std::max(area.left(), area.right() - frame->width() + 1)));
            topLeft.setY(std::clamp(topLeft.y(), area.top(),
                                    std::max(area.top(), area.bottom() - frame->height() + 1)));
        }
        frame->move(topLeft);
    }
    frame->show();
    frame->raise();
}

void AppController::checkAuth() {
    showPopover();
    ensureWebView()->setVisible(false);
    if (loginSpinner() != nullptr) {
        loginSpinner()->startAnimation();
    }
    dispatchBackground([self = QPointer<AppController>(this)] {
        const bool present = tokenStored();
        dispatchMain([self, present] {
            if (self) {
                self->startupTokenChecked(present);
            }
        });
    });
    authComplete();
}

void AppController::startupTokenChecked(bool tokenPresent) {
    if (loginSpinner() != nullptr) {
        loginSpinner()->stopAnimation();
    }
    switch (decideStartupToken(tokenPresent, AppDelegate::getObjectWithKey(kAccessTokenDateKey),
                               authNow())) {
    case StartupTokenDecision::LoadAuthPage:
        loadAuthPage();
        break;
    case StartupTokenDecision::AuthComplete:
        authComplete();
        break;
    case StartupTokenDecision::Nothing:
        break;
    }
}

void AppController::didAuthorize() {
    later(this, [](AppController* self) {
        self->showPopover();
        self->loadAuthPage();
    });
}

void AppController::loadAuthPage() {
    later(this, [](AppController* self) {
        const QUrl request(addresses().authorization);
        WebView* web = self->ensureWebView();
        web->setVisible(true);
        if (self->loginSpinner() != nullptr) {
            self->loginSpinner()->stopAnimation();
        }
        web->loadRequest(request);
    });
}

void AppController::authComplete() {
    later(this, [](AppController* self) {
        if (self->isPopoverShown()) {
            self->popover()->hide();
        }
        // The own list, or the search the user left off in.
        const std::optional<QString> search =
            self->resume ? self->resume->storedSearch() : std::nullopt;
        self->downloadPlaylistWithURL(search ? self->URLSearch(*search) : self->URLAllMyAudio(),
                                      search.value_or(QString()));
        if (self->menuLogoutItem() != nullptr) {
            self->menuLogoutItem()->setVisible(true);
        }
    });
}

void AppController::startSmallSpinners(QObject* /*sender*/) {
    later(this, [](AppController* self) {
        for (BusySpinner* spinner : {self->loginSmallSpinner1(), self->loginSmallSpinner2()}) {
            if (spinner != nullptr) {
                spinner->startAnimation();
            }
        }
    });
}

void AppController::stopSmallSpinners(QObject* /*sender*/) {
    later(this, [](AppController* self) {
        for (BusySpinner* spinner : {self->loginSmallSpinner1(), self->loginSmallSpinner2()}) {
            if (spinner != nullptr) {
                spinner->stopAnimation();
            }
        }
    });
}

void AppController::webViewDidCommitLoad(const QUrl& /*initialUrl*/) {
    startSmallSpinners(loginView());
}

void AppController::webViewDidFinishLoad(const QUrl& initialUrl) {
    // The page's scroll view has no rubber-band scrolling to switch off on this desktop.
    stopSmallSpinners(loginView());
    const QString address = addressText(initialUrl);
    const FinishedLoadTests tests = testFinishedLoad(address, addresses());
    if (tests.logoutCompleted) {
        completeLogout();
    }
    // A load that ended where it began would only be repeated (endlessly, for an error
    // page the service answers at the authorization address); only redirected loads
    // are loaded again, from where they ended.
    if (tests.reload && webViewObject != nullptr && webViewObject->currentUrl() != initialUrl) {
        webViewObject->reload();
    }
    checkToken(address);
}

void AppController::completeLogout() {
    if (menuLogoutItem() != nullptr) {
        menuLogoutItem()->setVisible(false);
    }
    if (SongPlayer* songPlayer = player()) {
        const bool songsOnScreen = songPlayer->getQuantityFromListOnScreen() > 0;
        songPlayer->clearPlaylists();
        if (songsOnScreen && songsTableView() != nullptr) {
            songsTableView()->reloadData();
        }
    }
    AppDelegate::saveObjectWithKey(QStringLiteral(""), kAccessTokenKey);
    loadAuthPage();
}

void AppController::checkToken(const QString& address) {
    later(this, [address](AppController* self) {
        const TokenAddress read = readTokenAddress(address);
        if (read.loadAuthPage) {
            self->loadAuthPage();
            return;
        }
        if (read.userId) {
            AppDelegate::saveObjectWithKey(*read.userId, kLastUserIdKey);
        }
        if (read.token) {
            self->emptyTokenRedirects = 0;
            AppDelegate::saveObjectWithKey(*read.token, kAccessTokenKey);
            AppDelegate::saveObjectWithKey(authNow(), kAccessTokenDateKey);
            self->authComplete();
        } else if (CommonHelper::containsStringInString(QStringLiteral("access_token"), address) &&
                   self->emptyTokenRedirects < kEmptyTokenRetries) {
            // The redirect carried no token: its page is blank and the user would be
            // neither signed in nor asked again. The service is asked once more.
            ++self->emptyTokenRedirects;
            self->loadAuthPage();
        }
    });
}

void AppController::didLogout(QObject* /*sender*/) {
    later(this, [](AppController* self) {
        if (!tokenStored()) {
            return;
        }
        self->ensureWebView()->setVisible(false);
        if (self->loginSpinner() != nullptr) {
            self->loginSpinner()->startAnimation();
        }
        self->showPopover();
        dispatchBackground([self = QPointer<AppController>(self), feed = addresses().feed] {
            const HttpResult page = blockingGet(QUrl(feed), kRequestTimeout);
            // Any answer that arrived is read, whatever its HTTP status.
            const std::optional<QString> link =
                page.ok ? logoutLinkFromFeedPage(page.body) : std::nullopt;
            QThread::msleep(kLogoutPauseMs);
            dispatchMain([self, link] {
                if (self) {
                    self->logoutLinkFound(link);
                }
            });
        });
    });
}

void AppController::logoutLinkFound(const std::optional<QString>& link) {
    if (loginSpinner() != nullptr) {
        loginSpinner()->stopAnimation();
    }
    if (SongPlayer* songPlayer = player()) {
        songPlayer->stop();
    }
    WebView* web = ensureWebView();
    web->setVisible(true);
    // Without a link nothing new is loaded: the user stays signed in.
    if (link) {
        const QUrl request(*link);
        if (request.isValid() && !request.isEmpty()) {
            web->loadRequest(request);
        }
    }
}

} // namespace sondrel
