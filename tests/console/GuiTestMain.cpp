// Test entry for widget tests: one application object on the offscreen platform, message boxes
// answered through the hook, never shown.
#include "console/Application.h"
#include "console/MessageBoxes.h"
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    TMessageBoxHook::Enable(true);
    return RUN_ALL_TESTS();
}
