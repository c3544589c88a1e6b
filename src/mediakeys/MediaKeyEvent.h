#pragma once
// A media key event as the player passes it around: the system-defined event of the
// desktop (type 14, subtype 8) whose data1 carries the key code in bits 16..31 and the key
// flags in bits 0..15. In the flags, bits 8..15 are the key state (0x0A pressed, 0x0B
// released) and bit 0 is the auto-repeat bit.
//
// A plain value: copy it freely between threads.

#include <cstdint>
#include <optional>

namespace sondrel {

inline constexpr int kSystemDefinedEventType = 14; // NSSystemDefined
inline constexpr std::int16_t kMediaKeyEventSubtype = 8;

// Key codes of the media keys (the names are the desktop key map's).
inline constexpr int NX_KEYTYPE_PLAY = 16;
inline constexpr int NX_KEYTYPE_NEXT = 17;     // the keyboard's fast-forward key
inline constexpr int NX_KEYTYPE_PREVIOUS = 18; // the keyboard's rewind key
inline constexpr int NX_KEYTYPE_FAST = 19;     // the keyboard's next-track key
inline constexpr int NX_KEYTYPE_REWIND = 20;   // the keyboard's previous-track key

inline constexpr int kMediaKeyStatePressed = 0x0A;
inline constexpr int kMediaKeyStateReleased = 0x0B;

struct MediaKeyEvent {
    int type = kSystemDefinedEventType;
    std::int16_t subtype = kMediaKeyEventSubtype;
    std::int32_t data1 = 0;

    // A media key event for `keyCode` going down (or up), with the repeat bit when it is
    // an automatic repeat of a held key.
    static MediaKeyEvent make(int keyCode, bool down, bool repeat = false) {
        const int state = down ? kMediaKeyStatePressed : kMediaKeyStateReleased;
        const std::uint32_t flags = (static_cast<std::uint32_t>(state) << 8) | (repeat ? 1U : 0U);
        MediaKeyEvent event;
        event.data1 =
            static_cast<std::int32_t>((static_cast<std::uint32_t>(keyCode) << 16) | flags);
        return event;
    }

    bool isMediaKeyEvent() const {
        return type == kSystemDefinedEventType && subtype == kMediaKeyEventSubtype;
    }
    int keyCode() const {
        return static_cast<int>((static_cast<std::uint32_t>(data1) & 0xFFFF0000U) >> 16);
    }
    int keyFlags() const { return static_cast<int>(static_cast<std::uint32_t>(data1) & 0xFFFFU); }
    int keyState() const { return (keyFlags() & 0xFF00) >> 8; }
    bool isPressed() const { return keyState() == kMediaKeyStatePressed; }
    bool isRepeat() const { return (keyFlags() & 1) != 0; }

    friend bool operator==(const MediaKeyEvent&, const MediaKeyEvent&) = default;
};

// True for the key codes the global tap takes from other applications (16 to 20).
inline bool isTappedMediaKeyCode(int keyCode) {
    return keyCode >= NX_KEYTYPE_PLAY && keyCode <= NX_KEYTYPE_REWIND;
}

// What the main controller does with a media key event (its handler is a switch over
// this): play/pause for 16, next song for 19, previous song for 20, and only when the key
// goes down. Automatic repeats are presses too, so a held key acts again on each repeat.
enum class MediaKeyAction { None, PlayPause, NextSong, PreviousSong };

// The action for `event`. An event that is not a media key event (type 14, subtype 8) is
// an internal error: it logs "Unexpected NSEvent in mediaKeyTap:receivedMediaKeyEvent:"
// and gives None.
MediaKeyAction mediaKeyActionForEvent(const MediaKeyEvent& event);

} // namespace sondrel
