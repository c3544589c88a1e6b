#pragma once
// The desktop's media key event tap on X11: passive grabs of every keycode that carries
// a media key (play, next, previous, forward, rewind), on the root window, with and
// without Lock and NumLock, made over a connection of its own.
//
// The grabs are synchronous: when a grabbed key goes down the keyboard is frozen until
// the tap's callback has decided. "Drop" keeps the key (and its release) from every
// other client; "pass" replays the press to the client that has the focus, as if nothing
// had grabbed it. While enabled the tap therefore sees each media key first, like an
// event tap at the head of the session's event stream.
//
// Like the desktop tap it stands for, it switches itself off when its callback holds the
// keyboard too long (kCallbackTimeout) and tells the callback with the notice
// kTapDisabledByTimeout; the callback may enable it again.
//
// Threads: created, used and destroyed on the tap thread only. isEnabled() may be read
// from any thread (for diagnostics and tests).

#include "mediakeys/MediaKeyEvent.h"
#include "mediakeys/X11Support.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace sondrel {

// Types the tap callback receives besides media key events (type 14).
inline constexpr std::uint32_t kTapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr std::uint32_t kTapDisabledByUserInput = 0xFFFFFFFF;

// A grabbed key going down or up, as the X server reported it.
struct TapKeyEvent {
    bool press = true;
    xcb_keycode_t keycode = 0;
    xcb_timestamp_t time = 0;
    bool autoRepeat = false; // a press that repeats a held key
};

enum class TapVerdict { Pass, Drop };

class X11MediaKeyGrab {
public:
    // Called on the tap thread for each grabbed key event (type 14, `event` set) and for
    // each notice (kTapDisabledBy..., `event` null).
    using Callback = std::function<TapVerdict(X11MediaKeyGrab& tap, std::uint32_t type,
                                              const TapKeyEvent* event)>;

    static constexpr std::chrono::milliseconds kCallbackTimeout{1000};

    // Connects to `display` (empty: $DISPLAY) and grabs the media keys: the tap starts
    // enabled. Null, with `error` set, when there is no display or another client holds
    // one of the keys.
    static std::unique_ptr<X11MediaKeyGrab> create(const QByteArray& display, Callback callback,
                                                   QString* error);
    ~X11MediaKeyGrab(); // releases the grabs and the connection
    X11MediaKeyGrab(const X11MediaKeyGrab&) = delete;
    X11MediaKeyGrab& operator=(const X11MediaKeyGrab&) = delete;

    // Grabs (true) or releases (false) the media keys. Enabling fails, logged, when
    // another client has taken a key meanwhile; the tap then stays disabled.
    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled.load(); }
    // Called on the tap thread whenever the tap is switched on or off, by whatever cause.
    void setEnabledObserver(std::function<void(bool)> observer) {
        enabledObserver = std::move(observer);
    }

    // The connection's descriptor, to wait for events.
    int fileDescriptor() const { return connection->fileDescriptor(); }

    // Handles every event the server has sent. False when the connection is broken.
    bool dispatchEvents();

    // The desktop switched the tap off: release the grabs and tell the callback.
    void disableWithNotice(std::uint32_t type);

    // The media key event for a grabbed key event, or empty (with `error`) when the key
    // is no longer a media key in the current keyboard map.
    std::optional<MediaKeyEvent> mediaKeyEventFor(const TapKeyEvent& event, QString* error) const;

private:
    X11MediaKeyGrab(std::unique_ptr<x11::Connection> c, Callback cb);
    bool grabAll(QString* error);
    void ungrabAll();
    void reloadKeyboardMap();
    void useXkb();
    void keyboardMapChanged();
    void handle(xcb_generic_event_t* event);
    void handleKey(const TapKeyEvent& key);
    void setEnabledState(bool value);

    std::unique_ptr<x11::Connection> connection;
    Callback callback;
    x11::KeyboardMap keyboardMap;
    std::uint16_t numLock = XCB_MOD_MASK_2;
    std::uint8_t xkbEventBase = 0; // 0 without XKB
    std::vector<xcb_keycode_t> grabbedKeycodes;
    std::vector<xcb_keycode_t> keysDown;      // pressed and taken, to spot repeats
    xcb_generic_event_t* lookahead = nullptr; // an event read while looking for a repeat
    std::atomic<bool> enabled{false};
    std::function<void(bool)> enabledObserver;
};

} // namespace sondrel
