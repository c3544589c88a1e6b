#include "mediakeys/X11MediaKeyGrab.h"

#include "platform/Log.h"

#include <algorithm>
#include <cstdlib>
// xkb.h names a field "explicit"; C++ needs another name for it.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit

namespace sondrel {
namespace {

constexpr std::uint8_t kBadAccess = 10;

std::vector<std::uint16_t> modifierCombinations(std::uint16_t numLock) {
    return {0, XCB_MOD_MASK_LOCK, numLock, static_cast<std::uint16_t>(XCB_MOD_MASK_LOCK | numLock)};
}

} // namespace

std::unique_ptr<X11MediaKeyGrab> X11MediaKeyGrab::create(const QByteArray& display,
                                                         Callback callback, QString* error) {
    std::unique_ptr<x11::Connection> c = x11::Connection::open(display, error);
    if (!c) {
        return nullptr;
    }
    std::unique_ptr<X11MediaKeyGrab> tap(new X11MediaKeyGrab(std::move(c), std::move(callback)));
    if (!tap->grabAll(error)) {
        return nullptr;
    }
    tap->setEnabledState(true);
    return tap;
}

X11MediaKeyGrab::X11MediaKeyGrab(std::unique_ptr<x11::Connection> c, Callback cb)
    : connection(std::move(c)), callback(std::move(cb)) {
    reloadKeyboardMap();
    useXkb();
}

void X11MediaKeyGrab::useXkb() {
    xcb_connection_t* c = connection->get();
    const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(c, &xcb_xkb_id);
    if (!xkb || !xkb->present) {
        return; // core MappingNotify events tell of map changes
    }
    xcb_xkb_use_extension_reply_t* use =
        xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr);
    if (use && use->supported) {
        xkbEventBase = xkb->first_event;
        // Without it the server sends each repeat of a held key as a release and a
        // press, and the press may arrive later than the release.
        const std::uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
        std::free(xcb_xkb_per_client_flags_reply(
            c, xcb_xkb_per_client_flags(c, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr));
        // An XKB client gets no core MappingNotify: ask for XKB's map events instead.
        const auto events = static_cast<std::uint16_t>(XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY |
                                                       XCB_XKB_EVENT_TYPE_MAP_NOTIFY);
        const auto parts =
            static_cast<std::uint16_t>(XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP);
        xcb_xkb_select_events(c, XCB_XKB_ID_USE_CORE_KBD, events, 0, events, parts, parts, nullptr);
    }
    std::free(use);
}

void X11MediaKeyGrab::keyboardMapChanged() {
    const bool wasEnabled = enabled.load();
    if (wasEnabled) {
        ungrabAll();
    }
    reloadKeyboardMap();
    if (wasEnabled) {
        QString error;
        if (!grabAll(&error)) {
            setEnabledState(false);
            logLine(QStringLiteral("Media key tap could not be enabled: %1").arg(error));
        }
    }
}

X11MediaKeyGrab::~X11MediaKeyGrab() {
    std::free(lookahead);
    if (!connection->hasError()) {
        ungrabAll();
        xcb_flush(connection->get());
    }
}

void X11MediaKeyGrab::reloadKeyboardMap() {
    keyboardMap = x11::KeyboardMap::load(connection->get());
    numLock = x11::numLockMask(connection->get(), keyboardMap);
}

bool X11MediaKeyGrab::grabAll(QString* error) {
    xcb_connection_t* c = connection->get();
    std::vector<xcb_keycode_t> keycodes;
    for (xcb_keysym_t keysym : x11::mediaKeysyms()) {
        for (xcb_keycode_t code : keyboardMap.keycodesFor(keysym)) {
            if (std::find(keycodes.begin(), keycodes.end(), code) == keycodes.end()) {
                keycodes.push_back(code);
            }
        }
    }
    std::vector<xcb_void_cookie_t> cookies;
    for (xcb_keycode_t code : keycodes) {
        for (std::uint16_t modifiers : modifierCombinations(numLock)) {
            cookies.push_back(xcb_grab_key_checked(c, 0, connection->root(), modifiers, code,
                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_SYNC));
        }
    }
    bool refused = false;
    bool failed = false;
    for (xcb_void_cookie_t cookie : cookies) {
        if (xcb_generic_error_t* e = xcb_request_check(c, cookie)) {
            (e->error_code == kBadAccess ? refused : failed) = true;
            std::free(e);
        }
    }
    grabbedKeycodes = keycodes;
    if (refused || failed || connection->hasError()) {
        ungrabAll();
        xcb_flush(c);
        if (error) {
            *error = refused ? QStringLiteral("another client holds the media keys")
                             : QStringLiteral("the X server refused the media key grab");
        }
        return false;
    }
    return true;
}

void X11MediaKeyGrab::ungrabAll() {
    for (xcb_keycode_t code : grabbedKeycodes) {
        for (std::uint16_t modifiers : modifierCombinations(numLock)) {
            xcb_ungrab_key(connection->get(), code, connection->root(), modifiers);
        }
    }
    grabbedKeycodes.clear();
}

void X11MediaKeyGrab::setEnabled(bool enable) {
    if (enable == enabled.load()) {
        return;
    }
    if (enable) {
        QString error;
        if (!grabAll(&error)) {
            logLine(QStringLiteral("Media key tap could not be enabled: %1").arg(error));
            return;
        }
    } else {
        ungrabAll();
        // Wait until the server has released the keys, so that whoever learns the tap is
        // off can count on keys pressed from then on reaching other clients.
        std::free(xcb_get_input_focus_reply(connection->get(),
                                            xcb_get_input_focus(connection->get()), nullptr));
    }
    setEnabledState(enable);
}

void X11MediaKeyGrab::setEnabledState(bool value) {
    enabled = value;
    if (enabledObserver) {
        enabledObserver(value);
    }
}

void X11MediaKeyGrab::disableWithNotice(std::uint32_t type) {
    setEnabled(false);
    callback(*this, type, nullptr);
    xcb_flush(connection->get());
}

std::optional<MediaKeyEvent> X11MediaKeyGrab::mediaKeyEventFor(const TapKeyEvent& event,
                                                               QString* error) const {
    for (xcb_keysym_t keysym : keyboardMap.keysymsOf(event.keycode)) {
        if (const int code = x11::mediaKeyCodeForKeysym(keysym)) {
            return MediaKeyEvent::make(code, event.press, event.autoRepeat);
        }
    }
    if (error) {
        *error = QStringLiteral("keycode %1 is not a media key in the current keyboard map")
                     .arg(event.keycode);
    }
    return std::nullopt;
}

bool X11MediaKeyGrab::dispatchEvents() {
    xcb_connection_t* c = connection->get();
    for (;;) {
        xcb_generic_event_t* event = lookahead ? lookahead : xcb_poll_for_event(c);
        lookahead = nullptr;
        if (!event) {
            break;
        }
        handle(event);
        std::free(event);
    }
    xcb_flush(c);
    if (connection->hasError()) {
        if (enabled.load()) {
            setEnabledState(false); // the server dropped the grabs with the connection
        }
        return false;
    }
    return true;
}

void X11MediaKeyGrab::handle(xcb_generic_event_t* event) {
    if (xkbEventBase != 0 && (event->response_type & 0x7F) == xkbEventBase) {
        // XKB events share one code; the second byte says which one.
        const std::uint8_t xkbType = reinterpret_cast<const std::uint8_t*>(event)[1];
        if (xkbType == XCB_XKB_MAP_NOTIFY || xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY) {
            keyboardMapChanged();
        }
        return;
    }
    switch (event->response_type & 0x7F) {
    case XCB_KEY_PRESS: {
        const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
        const bool held =
            std::find(keysDown.begin(), keysDown.end(), press->detail) != keysDown.end();
        handleKey({true, press->detail, press->time, held});
        break;
    }
    case XCB_KEY_RELEASE: {
        const auto* release = reinterpret_cast<const xcb_key_release_event_t*>(event);
        // The server's auto-repeat sends a release and a press with the same time: that
        // pair is one repeat of a held key, not the key coming up.
        xcb_generic_event_t* next = xcb_poll_for_event(connection->get());
        if (next && (next->response_type & 0x7F) == XCB_KEY_PRESS) {
            const auto* again = reinterpret_cast<const xcb_key_press_event_t*>(next);
            if (again->detail == release->detail && again->time == release->time) {
                std::free(next);
                handleKey({true, release->detail, release->time, true});
                break;
            }
        }
        lookahead = next;
        std::erase(keysDown, release->detail);
        handleKey({false, release->detail, release->time, false});
        break;
    }
    case XCB_MAPPING_NOTIFY: {
        const auto* mapping = reinterpret_cast<const xcb_mapping_notify_event_t*>(event);
        if (mapping->request == XCB_MAPPING_KEYBOARD || mapping->request == XCB_MAPPING_MODIFIER) {
            keyboardMapChanged();
        }
        break;
    }
    default:
        break;
    }
}

void X11MediaKeyGrab::handleKey(const TapKeyEvent& key) {
    const auto started = std::chrono::steady_clock::now();
    const TapVerdict verdict = callback(*this, kSystemDefinedEventType, &key);
    const auto spent = std::chrono::steady_clock::now() - started;
    if (key.press) {
        if (verdict == TapVerdict::Drop) {
            if (std::find(keysDown.begin(), keysDown.end(), key.keycode) == keysDown.end()) {
                keysDown.push_back(key.keycode);
            }
            xcb_allow_events(connection->get(), XCB_ALLOW_ASYNC_KEYBOARD, key.time);
        } else {
            // Passing on: the focused client gets the press, and then the release, as if
            // the key had never been grabbed.
            xcb_allow_events(connection->get(), XCB_ALLOW_REPLAY_KEYBOARD, key.time);
        }
        xcb_flush(connection->get());
    }
    if (spent > kCallbackTimeout && enabled.load()) {
        disableWithNotice(kTapDisabledByTimeout);
    }
}

} // namespace sondrel
