#include "mediakeys/MediaKeyEvent.h"

#include "platform/Log.h"

namespace sondrel {

MediaKeyAction mediaKeyActionForEvent(const MediaKeyEvent& event) {
    if (!event.isMediaKeyEvent()) {
        logLine(QStringLiteral("Unexpected NSEvent in mediaKeyTap:receivedMediaKeyEvent:"));
        return MediaKeyAction::None;
    }
    if (!event.isPressed()) {
        return MediaKeyAction::None;
    }
    switch (event.keyCode()) {
    case NX_KEYTYPE_PLAY:
        return MediaKeyAction::PlayPause;
    case NX_KEYTYPE_FAST:
        return MediaKeyAction::NextSong;
    case NX_KEYTYPE_REWIND:
        return MediaKeyAction::PreviousSong;
    default:
        return MediaKeyAction::None;
    }
}

} // namespace sondrel
