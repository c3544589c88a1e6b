#include "mediakeys/MediaKeyExampleApp.h"

#include "mediakeys/SPMediaKeyTap.h"

#include <QKeyEvent>

namespace sondrel {

MediaKeyExampleApp::MediaKeyExampleApp(int& argc, char** argv) : QApplication(argc, argv) {}

MediaKeyExampleApp::~MediaKeyExampleApp() = default;

std::optional<MediaKeyEvent> MediaKeyExampleApp::mediaKeyEventFromKeyEvent(const QKeyEvent& event) {
    int code = 0;
    switch (event.key()) {
    case Qt::Key_MediaPlay:
    case Qt::Key_MediaTogglePlayPause:
        code = NX_KEYTYPE_PLAY;
        break;
    case Qt::Key_AudioForward:
        code = NX_KEYTYPE_NEXT;
        break;
    case Qt::Key_AudioRewind:
        code = NX_KEYTYPE_PREVIOUS;
        break;
    case Qt::Key_MediaNext:
        code = NX_KEYTYPE_FAST;
        break;
    case Qt::Key_MediaPrevious:
        code = NX_KEYTYPE_REWIND;
        break;
    default:
        return std::nullopt;
    }
    return MediaKeyEvent::make(code, event.type() == QEvent::KeyPress, event.isAutoRepeat());
}

bool MediaKeyExampleApp::notify(QObject* receiver, QEvent* event) {
    // A key event is sent to the window first and then on to its focus widget; taking it
    // at the window counts each key once.
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) && receiver &&
        receiver->isWindowType() && mediaKeyDelegate) {
        const std::optional<MediaKeyEvent> mediaKey =
            mediaKeyEventFromKeyEvent(*static_cast<QKeyEvent*>(event));
        if (mediaKey && !SPMediaKeyTap::usesGlobalMediaKeyTap()) {
            mediaKeyDelegate->mediaKeyTapReceivedMediaKeyEvent(nullptr, *mediaKey);
        }
    }
    return QApplication::notify(receiver, event);
}

} // namespace sondrel
