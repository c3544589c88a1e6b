// AppController: the song notification. Each song start (and each resume) replaces the
// notification on the desktop with one titled "Sondrel" whose text is the title line.

#include "playback/SongPlayer.h"
#include "window/AppController.h"
#include "window/DesktopNotifier.h"

namespace sondrel {

DesktopNotifier* AppController::notifier() {
    // Made with the first song, so a start without playing never touches the bus.
    if (notifierObject == nullptr) {
        notifierObject = new DesktopNotifier(QDBusConnection::sessionBus(), this);
    }
    return notifierObject;
}

void AppController::deliverSongNotification() {
    SongPlayer* songPlayer = player();
    if (songPlayer == nullptr) {
        return;
    }
    lastNotification = UserNotification{QStringLiteral("Sondrel"),
                                        songPlayer->getCurrentPlayingAttributedTitle().text};
    notifier()->deliver(lastNotification->title, lastNotification->informativeText);
}

} // namespace sondrel
