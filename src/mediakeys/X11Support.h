#pragma once
// Small XCB helpers shared by the media key grab (tap thread) and the application watch
// (main thread). Each user keeps its own connection; nothing here is shared state.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>
#include <xcb/xcb.h>

namespace sondrel::x11 {

// An XCB connection with its default screen's root window.
class Connection {
public:
    // Connects to `display` (empty: $DISPLAY). Null with `error` set when it fails.
    static std::unique_ptr<Connection> open(const QByteArray& display, QString* error);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    xcb_connection_t* get() const { return connection; }
    xcb_window_t root() const { return rootWindow; }
    int fileDescriptor() const { return xcb_get_file_descriptor(connection); }
    bool hasError() const { return xcb_connection_has_error(connection) != 0; }

    xcb_atom_t atom(const char* name) const;

private:
    Connection(xcb_connection_t* c, xcb_window_t root) : connection(c), rootWindow(root) {}
    xcb_connection_t* connection;
    xcb_window_t rootWindow;
};

// The keyboard map: which keysyms each keycode produces.
class KeyboardMap {
public:
    // Reads the current map; empty when the request fails.
    static KeyboardMap load(xcb_connection_t* c);

    // Every keycode that produces `keysym` at any level.
    std::vector<xcb_keycode_t> keycodesFor(xcb_keysym_t keysym) const;
    // The keysyms of `keycode` (empty for an unknown keycode).
    std::vector<xcb_keysym_t> keysymsOf(xcb_keycode_t keycode) const;

private:
    xcb_keycode_t minKeycode = 0;
    int perKeycode = 0;
    std::vector<xcb_keysym_t> keysyms;
};

// The keysyms of the media keys and their media key codes.
inline constexpr xcb_keysym_t XF86XK_AudioPlay = 0x1008FF14;
inline constexpr xcb_keysym_t XF86XK_AudioPrev = 0x1008FF16;
inline constexpr xcb_keysym_t XF86XK_AudioNext = 0x1008FF17;
inline constexpr xcb_keysym_t XF86XK_AudioRewind = 0x1008FF3E;
inline constexpr xcb_keysym_t XF86XK_AudioForward = 0x1008FF97;

// The media key code (16..20) for a keysym, or 0.
int mediaKeyCodeForKeysym(xcb_keysym_t keysym);
// Every media keysym, in key code order.
const std::vector<xcb_keysym_t>& mediaKeysyms();

// The modifier mask that Num_Lock sits on (Mod2 when the map does not say).
std::uint16_t numLockMask(xcb_connection_t* c, const KeyboardMap& map);

// The raw bytes of a window property (any type), empty when absent.
QByteArray windowProperty(const Connection& c, xcb_window_t window, xcb_atom_t property,
                          std::uint32_t maxLongs = 1024);
// A 32-bit property (a CARDINAL or WINDOW value), empty when absent.
std::optional<std::uint32_t> windowCardinal(const Connection& c, xcb_window_t window,
                                            xcb_atom_t property);

// The process id of the client that owns `window`: _NET_WM_PID when the window's
// WM_CLIENT_MACHINE is this host (or unset), else the X-Resource extension's answer. 0 when
// unknown.
pid_t windowProcessId(const Connection& c, xcb_window_t window);

} // namespace sondrel::x11
