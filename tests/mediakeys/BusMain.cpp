// Runs media key tests inside a private session bus (the binary starts itself again
// under dbus-run-session), with an offscreen application object and a private settings
// folder. With --hold-media-keys it instead plays another X client that holds the play
// key until it is killed.

#include "TestSupport.h"
#include "mediakeys/MediaKeyExampleApp.h"
#include "mediakeys/X11Support.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

int holdMediaKeys() {
    using namespace sondrel::x11;
    std::unique_ptr<Connection> c = Connection::open(QByteArray(), nullptr);
    if (!c) {
        return 1;
    }
    const KeyboardMap map = KeyboardMap::load(c->get());
    for (xcb_keycode_t code : map.keycodesFor(XF86XK_AudioPlay)) {
        xcb_generic_error_t* error = xcb_request_check(
            c->get(), xcb_grab_key_checked(c->get(), 1, c->root(), 0, code, XCB_GRAB_MODE_ASYNC,
                                           XCB_GRAB_MODE_ASYNC));
        if (error) {
            std::free(error);
            return 1;
        }
    }
    std::printf("holding\n");
    std::fflush(stdout);
    for (;;) {
        pause();
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--hold-media-keys") == 0) {
        return holdMediaKeys();
    }
    sondrel::test::reexecUnderPrivateBus(argc, argv);
    sondrel::test::usePrivateSettingsFolder();
    testing::InitGoogleTest(&argc, argv);
    sondrel::MediaKeyExampleApp app(argc, argv);
    return RUN_ALL_TESTS();
}
