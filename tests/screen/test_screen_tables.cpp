// The image and surface-group tables: limits, the high-water mark, sharing,
// and device loss on a desktop change.
#include "screen_test_support.h"
#include "text/text.h"

TEST_F(ScreenTest, ImageTableRefusesTheImageBeyondItsLimit) {
    EXPECT_EQ(AddBmpData(8, 8, 0, 0, -1, 0, 0, 0, 0), -1);  // no device yet
    ASSERT_EQ(InitLibrary(), 0);
    int base = GetImageCount();
    for (int i = base; i < 3000; i++) ASSERT_GE(AddBmpData(1, 1, 0, 0, -1, 0, 0, 0, 0), 0) << i;
    EXPECT_EQ(AddBmpData(1, 1, 0, 0, -1, 0, 0, 0, 0), -1);
    EXPECT_NE(ReadLog().find("２Ｄグラフィックの量が許容量を越えました\r\n"), std::string::npos);
    EXPECT_EQ(GetImageCount(), 3000);
    ReleaseImage(2999);
    EXPECT_EQ(AddBmpData(1, 1, 0, 0, -1, 0, 0, 0, 0), 2999);
}

TEST_F(ScreenTest, HighWaterMarkDropsPastEmptySlots) {
    ASSERT_EQ(InitLibrary(), 0);
    int first = GetImageHighWater();
    int images[6];
    for (int& i : images) i = AddBmpData(4, 4, 0, 0, -1, 0, 0, 0, 0);
    EXPECT_EQ(images[5], first + 5);
    ReleaseImage(images[5]);
    EXPECT_EQ(GetImageHighWater(), first + 5);
    images[5] = AddBmpData(4, 4, 0, 0, -1, 0, 0, 0, 0);
    ReleaseImage(images[4]);
    ReleaseImage(images[5]);
    EXPECT_EQ(GetImageHighWater(), first + 4);
    // The empty slot below the mark is taken first.
    EXPECT_EQ(AddBmpData(4, 4, 0, 0, -1, 0, 0, 0, 0), images[0] == first ? first + 4 : -2);
}

TEST_F(ScreenTest, DerivedImageKeepsTheSharedSurfaceAlive) {
    ASSERT_EQ(InitLibrary(), 0);
    size_t surfaces = FAKE_SCREEN.live.size();
    int source = AddBmpData(16, 8, 0, 0, -1, 0, 0, 0, 0);
    int piece = AddBmpData(4, 4, 8, 2, -1, 1, source, 0, 0);
    ASSERT_GE(piece, 0);
    EXPECT_EQ(FAKE_SCREEN.live.size(), surfaces + 1);
    ScreenSurface* shared = GetImageSurface(source);
    EXPECT_EQ(GetImageSurface(piece), shared);
    ReleaseImage(source);
    EXPECT_EQ(GetImageSurface(piece), shared);
    EXPECT_EQ(FAKE_SCREEN.live.size(), surfaces + 1);
    // Drawing the piece takes its own place on the shared surface.
    WriteFakePixel(shared, 8, 2, MakeColor(255, 0, 0));
    SetDrawTarget(SCREEN_BACK);
    DrawImageToTarget(piece, 100, 50, 0);
    EXPECT_EQ(ReadFakePixel(Back(), 100, 50), MakeColor(255, 0, 0));
    ReleaseImage(piece);
    EXPECT_EQ(FAKE_SCREEN.live.size(), surfaces);
}

TEST_F(ScreenTest, ColourKeyedImagesSkipTheirKey) {
    ASSERT_EQ(InitLibrary(), 0);
    int image = AddBmpData(2, 1, 0, 0, -1, 0, 0, 0, 0);
    ASSERT_EQ(SetImageColorKey(image, 0x00FF00), 0);
    ScreenSurface* s = GetImageSurface(image);
    WriteFakePixel(s, 0, 0, MakeColor(0, 255, 0));
    WriteFakePixel(s, 1, 0, MakeColor(0, 0, 255));
    SetDrawTarget(SCREEN_BACK);
    ClearDrawTarget();
    DrawImageToTarget(image, 10, 10, 1);
    EXPECT_EQ(ReadFakePixel(Back(), 10, 10), 0u);
    EXPECT_EQ(ReadFakePixel(Back(), 11, 10), 0xFFu);
    DrawImageToTarget(image, 10, 10, 0);
    EXPECT_EQ(ReadFakePixel(Back(), 10, 10), 0xFF00u);
    ReleaseImage(image);
}

// The desktop goes from 32 to 16 bits: images keep their numbers and sharing,
// every old surface is released once, new ones are in the new format.
TEST_F(ScreenTest, DisplayChangeRebuildsSurfacesWithoutLeaksOrDoubleReleases) {
    ASSERT_EQ(InitLibrary(), 0);
    SetDrawTarget(SCREEN_BACK);
    int a = AddBmpData(10, 10, 0, 0, -1, 0, 0, 0, 0);
    int b = AddBmpData(5, 5, 5, 5, -1, 1, a, 0, 0);
    int c = AddBmpData(20, 4, 0, 0, -1, 0, 0, 0, 0);
    size_t surfaces = FAKE_SCREEN.live.size();
    int released = FAKE_SCREEN.surfacesReleased;

    FAKE_SCREEN.desktopFormat = PlatformPixelFormat{16, 0xF800, 0x7E0, 0x1F, 0};
    QueueFakeMessage(WM_DISPLAYCHANGE, 16, 1280 | (1024 << 16));
    ProcessWindowMessages();

    EXPECT_EQ(FAKE_SCREEN.live.size(), surfaces);
    // Old: primary, back, work and the two image surfaces. Each font's work image
    // is made again with the device and once more when its font is made again.
    int fonts = 0;
    for (int handle = 0; handle < MAX_FONT_HANDLES; handle++) fonts += IsFontHandleValid(handle);
    EXPECT_EQ(fonts, 2);  // the default font and the on-screen log's
    EXPECT_EQ(FAKE_SCREEN.surfacesReleased - released, 5 + 2 * fonts);
    ASSERT_NE(GetImageSurface(a), nullptr);
    EXPECT_EQ(GetImageSurface(b), GetImageSurface(a));
    ASSERT_NE(GetImageSurface(c), nullptr);
    EXPECT_EQ(GetColorBitDepth(), 16);
    EXPECT_EQ(GetColorInfo()->bytesPerPixel, 2);
    EXPECT_EQ(MakeColor(255, 255, 255), 0xFFFFu);
    EXPECT_EQ(((FakeScreenSurface*)GetImageSurface(c)->native)->bytesPerPixel, 2);
    EXPECT_EQ(GetDrawState()->target, SCREEN_BACK);
    EXPECT_NE(ReadLog().find("グラフィックを復帰します\r\n"), std::string::npos);

    ReleaseImage(a);
    EXPECT_NE(GetImageSurface(b), nullptr);
    ReleaseImage(b);
    ReleaseImage(c);
    EXPECT_EQ(FAKE_SCREEN.live.size(), surfaces - 2);
}
