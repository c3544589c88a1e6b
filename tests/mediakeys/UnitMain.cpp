// Runs the media key tests that need no desktop: an offscreen application object and a
// private settings folder.

#include "TestSupport.h"
#include "mediakeys/MediaKeyExampleApp.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    sondrel::test::usePrivateSettingsFolder();
    qunsetenv("DISPLAY");
    testing::InitGoogleTest(&argc, argv);
    sondrel::MediaKeyExampleApp app(argc, argv);
    return RUN_ALL_TESTS();
}
