// What a program reads through ravlin.h of the library itself and its window:
// the version in its two forms, and the window's state.
#include <cstdio>
#include <cstring>

#include "core_test_support.h"

using PublicStateTest = FakePlatformTest;

TEST_F(PublicStateTest, VersionNumbersAreTheLibrarysVersion) {
    EXPECT_STREQ(GetLibraryVersion(), RAVLIN_VERSION_TEXT);
    // 2.06b: the letter is the patch level, a = 1.
    char text[16];
    snprintf(text, sizeof text, "%d.%02d%c", RAVLIN_VERSION_MAJOR, RAVLIN_VERSION_MINOR,
             'a' + RAVLIN_VERSION_PATCH - 1);
    EXPECT_STREQ(text, GetLibraryVersion());
}

TEST_F(PublicStateTest, WindowStateAsTheWindowHasIt) {
    int w = -7, h = -7, bits = -7;
    EXPECT_EQ(GetDesktopSize(&w, &h, &bits), -1);
    EXPECT_EQ(w, -7);
    EXPECT_EQ(GetWindowActiveFlag(), 0);
    ChangeWindowMode(0);
    EXPECT_EQ(GetWindowModeFlag(), 0);
    ChangeWindowMode(1);
    EXPECT_EQ(GetWindowModeFlag(), 1);

    FAKE.desktopWidth = 1280;
    FAKE.desktopHeight = 800;
    FAKE.desktopColorBits = 24;
    ASSERT_EQ(InitLibrary(), 0);
    ASSERT_EQ(GetDesktopSize(&w, &h, &bits), 0);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 800);
    EXPECT_EQ(bits, 24);
    EXPECT_EQ(GetDesktopSize(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(GetWindowActiveFlag(), 1);
    EXPECT_EQ(GetWindowModeFlag(), 1);

    EndLibrary();
    EXPECT_EQ(GetWindowActiveFlag(), 0);
    EXPECT_EQ(GetDesktopSize(&w, &h, &bits), -1);
}
