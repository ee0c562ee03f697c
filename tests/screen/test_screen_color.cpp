// Colour packing in the screen's pixel format, the 8-bit palette search and
// the colour description taken from the display.
#include "screen_test_support.h"

namespace {

struct Format {
    PlatformPixelFormat format;
    int r, g, b;
    uint32_t packed;
};

}  // namespace

TEST_F(ScreenTest, ColoursPackInTheDesktopFormatAndComeBack) {
    const Format cases[] = {
        {{16, 0xF800, 0x7E0, 0x1F, 0}, 255, 255, 255, 0xFFFF},
        {{16, 0xF800, 0x7E0, 0x1F, 0}, 200, 200, 255, 0xCE5F},
        {{16, 0x7C00, 0x3E0, 0x1F, 0}, 255, 255, 255, 0x7FFF},
        {{32, 0xFF0000, 0xFF00, 0xFF, 0}, 255, 200, 200, 0xFFC8C8},
        // A format with a channel wider than a byte: shifted up, not undefined.
        {{32, 0x3FF00000, 0xFFC00, 0x3FF, 0}, 255, 0, 128, 0x3FC00200},
    };
    for (const Format& c : cases) {
        InstallFakePlatform();
        FAKE.currentDirectory = dir;
        FAKE_SCREEN.desktopFormat = c.format;
        ASSERT_EQ(InitLibrary(), 0);
        EXPECT_EQ(MakeColor(c.r, c.g, c.b), c.packed) << std::hex << c.format.redMask;
        EXPECT_EQ(GetColorInfo()->alphaWidth, 0);
        EXPECT_EQ(GetColorBitDepth(), c.format.bitCount);
        // Channels come back to within their step.
        int r, g, b;
        EXPECT_EQ(GetColorComponents(MakeColor(255, 0, 255), &r, &g, &b), 0);
        EXPECT_NEAR(r, 255, 1);
        EXPECT_EQ(g, 0);
        EXPECT_NEAR(b, 255, 1);
        GetColorComponents(MakeColor(100, 150, 200), &r, &g, &b);
        EXPECT_NEAR(r, 100, 8);
        EXPECT_NEAR(g, 150, 8);
        EXPECT_NEAR(b, 200, 8);
        EndLibrary();
    }
    // The 32-bit desktop is described as it is: 8:8:8 at 16, 8, 0.
    InstallFakePlatform();
    FAKE.currentDirectory = dir;
    ASSERT_EQ(InitLibrary(), 0);
    const ColorInfo* info = GetColorInfo();
    EXPECT_EQ(info->bytesPerPixel, 4);
    EXPECT_EQ(info->redShift, 16);
    EXPECT_EQ(info->greenShift, 8);
    EXPECT_EQ(info->blueShift, 0);
    EXPECT_EQ(info->redWidth, 8);
    EXPECT_NE(ReadLog().find("A:00000000  B:00ff0000  G:0000ff00  B:000000ff\r\n"), std::string::npos);
}

TEST_F(ScreenTest, EightBitScreenSearchesItsPalette) {
    ChangeWindowMode(0);
    SetScreenMode(640, 480, 8, 0);
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(GetColorBitDepth(), 8);
    EXPECT_EQ(FAKE_SCREEN.palette, 1);
    EXPECT_EQ(MakeColor(0, 0, 0), 0u);
    EXPECT_EQ(MakeColor(255, 255, 255), 255u);
    uint32_t red = MakeColor(250, 10, 0);
    int r, g, b;
    ASSERT_EQ(GetColorComponents(red, &r, &g, &b), 0);
    EXPECT_EQ(r, 255);
    EXPECT_EQ(g, 0);
    EXPECT_EQ(b, 0);
    // Ties go to the lower index: a colour half-way between two entries.
    EXPECT_EQ(MakeColor(18, 0, 0), 0u);  // reds 0 and 36 are both 18 away
    EXPECT_EQ(GetColorComponents(256, &r, &g, &b), -1);
}

TEST_F(ScreenTest, ColourCallsBeforeStartUpDoNotDivideByZero) {
    EXPECT_EQ(MakeColor(255, 255, 255), 0u);
    int r = -1, g = -1, b = -1;
    EXPECT_EQ(GetColorComponents(0xFFFF, &r, &g, &b), 0);
    EXPECT_EQ(r, 0);
    ColorInfo zero = {};
    EXPECT_EQ(ConvertColorFormat(&zero, &zero, 0x1234), 0u);
    // From 5:6:5 to 8:8:8 without alpha: channels widen, alpha becomes all ones.
    ColorInfo c565 = {16, 2, 5, 6, 5, 0, 11, 5, 0, 0, 0xF800, 0x7E0, 0x1F, 0};
    ColorInfo c8888 = {32, 4, 8, 8, 8, 8, 16, 8, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    EXPECT_EQ(ConvertColorFormat(&c8888, &c565, 0xF800), 0xFFF80000u);
}
