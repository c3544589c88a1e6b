#include "mediakeys/X11Support.h"

#include "mediakeys/MediaKeyEvent.h"

#include <QSysInfo>
#include <cstdlib>
#include <cstring>
#include <xcb/res.h>

namespace sondrel::x11 {
namespace {

template <typename T> struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter<T>>;

} // namespace

std::unique_ptr<Connection> Connection::open(const QByteArray& display, QString* error) {
    int screenNumber = 0;
    xcb_connection_t* c =
        xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screenNumber);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        if (error) {
            *error =
                QStringLiteral("cannot connect to the X display \"%1\"")
                    .arg(QString::fromLocal8Bit(display.isEmpty() ? qgetenv("DISPLAY") : display));
        }
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i) {
        xcb_screen_next(&it);
    }
    if (it.rem == 0) {
        xcb_disconnect(c);
        if (error) {
            *error = QStringLiteral("the X display has no screen %1").arg(screenNumber);
        }
        return nullptr;
    }
    return std::unique_ptr<Connection>(new Connection(c, it.data->root));
}

Connection::~Connection() {
    xcb_disconnect(connection);
}

xcb_atom_t Connection::atom(const char* name) const {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

KeyboardMap KeyboardMap::load(xcb_connection_t* c) {
    KeyboardMap map;
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    Reply<xcb_get_keyboard_mapping_reply_t> reply(xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)),
        nullptr));
    if (!reply) {
        return map;
    }
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply.get());
    const int length = xcb_get_keyboard_mapping_keysyms_length(reply.get());
    map.minKeycode = setup->min_keycode;
    map.perKeycode = reply->keysyms_per_keycode;
    map.keysyms.assign(syms, syms + length);
    return map;
}

std::vector<xcb_keycode_t> KeyboardMap::keycodesFor(xcb_keysym_t keysym) const {
    std::vector<xcb_keycode_t> result;
    if (perKeycode <= 0) {
        return result;
    }
    const std::size_t count = keysyms.size() / static_cast<std::size_t>(perKeycode);
    for (std::size_t k = 0; k < count; ++k) {
        for (int level = 0; level < perKeycode; ++level) {
            if (keysyms[k * static_cast<std::size_t>(perKeycode) +
                        static_cast<std::size_t>(level)] == keysym) {
                result.push_back(static_cast<xcb_keycode_t>(minKeycode + k));
                break;
            }
        }
    }
    return result;
}

std::vector<xcb_keysym_t> KeyboardMap::keysymsOf(xcb_keycode_t keycode) const {
    if (perKeycode <= 0 || keycode < minKeycode) {
        return {};
    }
    const std::size_t start =
        static_cast<std::size_t>(keycode - minKeycode) * static_cast<std::size_t>(perKeycode);
    if (start + static_cast<std::size_t>(perKeycode) > keysyms.size()) {
        return {};
    }
    return {keysyms.begin() + static_cast<std::ptrdiff_t>(start),
            keysyms.begin() + static_cast<std::ptrdiff_t>(start) + perKeycode};
}

int mediaKeyCodeForKeysym(xcb_keysym_t keysym) {
    switch (keysym) {
    case XF86XK_AudioPlay:
        return NX_KEYTYPE_PLAY;
    case XF86XK_AudioForward:
        return NX_KEYTYPE_NEXT;
    case XF86XK_AudioRewind:
        return NX_KEYTYPE_PREVIOUS;
    case XF86XK_AudioNext:
        return NX_KEYTYPE_FAST;
    case XF86XK_AudioPrev:
        return NX_KEYTYPE_REWIND;
    default:
        return 0;
    }
}

const std::vector<xcb_keysym_t>& mediaKeysyms() {
    static const std::vector<xcb_keysym_t> all = {XF86XK_AudioPlay, XF86XK_AudioForward,
                                                  XF86XK_AudioRewind, XF86XK_AudioNext,
                                                  XF86XK_AudioPrev};
    return all;
}

std::uint16_t numLockMask(xcb_connection_t* c, const KeyboardMap& map) {
    constexpr xcb_keysym_t kNumLock = 0xFF7F;
    const std::vector<xcb_keycode_t> numLockKeys = map.keycodesFor(kNumLock);
    Reply<xcb_get_modifier_mapping_reply_t> reply(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
    if (reply && !numLockKeys.empty()) {
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply.get());
        const int perModifier = reply->keycodes_per_modifier;
        for (int mod = 0; mod < 8; ++mod) {
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t code = codes[mod * perModifier + i];
                for (xcb_keycode_t numLock : numLockKeys) {
                    if (code != 0 && code == numLock) {
                        return static_cast<std::uint16_t>(1U << mod);
                    }
                }
            }
        }
    }
    return XCB_MOD_MASK_2;
}

QByteArray windowProperty(const Connection& c, xcb_window_t window, xcb_atom_t property,
                          std::uint32_t maxLongs) {
    if (window == XCB_WINDOW_NONE || property == XCB_ATOM_NONE) {
        return {};
    }
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c.get(),
        xcb_get_property(c.get(), 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, maxLongs),
        nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE) {
        return {};
    }
    const int length = xcb_get_property_value_length(reply.get());
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
}

std::optional<std::uint32_t> windowCardinal(const Connection& c, xcb_window_t window,
                                            xcb_atom_t property) {
    const QByteArray bytes = windowProperty(c, window, property, 1);
    if (bytes.size() < 4) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.constData(), sizeof value);
    return value;
}

pid_t windowProcessId(const Connection& c, xcb_window_t window) {
    const QByteArray machine = windowProperty(c, window, XCB_ATOM_WM_CLIENT_MACHINE);
    const QByteArray host = QSysInfo::machineHostName().toLocal8Bit();
    const bool local = machine.isEmpty() || QByteArray(machine.constData()) == host;
    if (local) {
        if (auto pid = windowCardinal(c, window, c.atom("_NET_WM_PID")); pid && *pid > 0) {
            return static_cast<pid_t>(*pid);
        }
    }
    const xcb_res_client_id_spec_t spec{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    Reply<xcb_res_query_client_ids_reply_t> reply(xcb_res_query_client_ids_reply(
        c.get(), xcb_res_query_client_ids(c.get(), 1, &spec), nullptr));
    if (!reply) {
        return 0;
    }
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem > 0;
         xcb_res_client_id_value_next(&it)) {
        if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
            xcb_res_client_id_value_value_length(it.data) >= 1) {
            return static_cast<pid_t>(*xcb_res_client_id_value_value(it.data));
        }
    }
    return 0;
}

} // namespace sondrel::x11
