// What the screen must survive at run time: full-screen size changes, a desktop
// that grows, a move not yet told, the background (lost surfaces and the 8-bit
// palette) and fatal errors while images are made.
#include "screen_test_support.h"

namespace {

int PaletteOf(ScreenSurface* s) { return ((FakeScreenSurface*)s->native)->palette; }

void Deactivate() { const_cast<MainWindowState*>(GetMainWindowState())->active = 0; }

}  // namespace

class ScreenRecoveryTest : public ScreenTest {
protected:
    // Pixels of the windowed primary that differ from the back surface's pattern.
    static int WrongPrimaryPixels(ScreenSurface* primary) {
        int wrong = 0;
        for (int y = 0; y < primary->height; y++) {
            for (int x = 0; x < primary->width; x++) wrong += ReadFakePixel(primary, x, y) != Pattern(x, y);
        }
        return wrong;
    }
};

// The window follows a run-time full-screen change of size (and depth), also
// after the window system's size message has been answered.
TEST_F(ScreenRecoveryTest, FullScreenSizeChangesReachTheWindow) {
    struct Case {
        int width, height, bits, newWidth, newHeight, newBits;
    };
    const Case cases[] = {{640, 480, 16, 800, 600, 16}, {350, 120, 16, 640, 480, 8}, {800, 600, 32, 640, 480, 16}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " to " + std::to_string(c.newWidth));
        InstallFakePlatform();
        FAKE.currentDirectory = dir;
        ChangeWindowMode(0);
        SetScreenMode(c.width, c.height, c.bits, 0);
        ASSERT_EQ(InitLibrary(), 0);
        EXPECT_EQ(SetScreenMode(c.newWidth, c.newHeight, c.newBits, 0), 0);
        ProcessWindowMessages();
        PlatformRect client;
        ASSERT_EQ(PLATFORM.window->GetClientRect(&client), 0);
        EXPECT_EQ(client.left, 0);
        EXPECT_EQ(client.right - client.left, c.newWidth);
        EXPECT_EQ(client.bottom - client.top, c.newHeight);
        int w, h;
        GetScreenSize(&w, &h);
        EXPECT_EQ(w, c.newWidth);
        EXPECT_EQ(Back()->width, c.newWidth);
        // At 8 bits the surfaces made for the new mode (the fonts' among them) carry its palette.
        if (c.newBits == 8) {
            for (ScreenSurface* s : FAKE_SCREEN.live) EXPECT_EQ(PaletteOf(s), FAKE_SCREEN.paletteId);
        }
        EndLibrary();
        ChangeWindowMode(1);
    }
}

// A window partly off a 1024-wide desktop that grows to 1280: presenting and
// the front draw area reach the whole window.
TEST_F(ScreenRecoveryTest, PresentingFollowsAGrownDesktop) {
    ASSERT_EQ(InitLibrary(), 0);
    SetVSyncWait(0);
    MoveClientTo(900, 50);
    FAKE.desktopWidth = 1280;
    FAKE.desktopHeight = 1024;
    QueueFakeMessage(WM_DISPLAYCHANGE, 32, 1280 | (1024 << 16));
    ProcessWindowMessages();
    EXPECT_EQ(GetMainWindowState()->desktopWidth, 1280);
    SetDrawTarget(SCREEN_FRONT);
    EXPECT_EQ(GetDrawState()->drawArea.right, 350);
    SetDrawTarget(SCREEN_BACK);
    FillPattern(Back());
    ASSERT_EQ(PresentScreen(), 0);
    EXPECT_EQ(WrongPrimaryPixels(Primary()), 0);
}

// The window moved on the window system, its move message not yet handled: the
// present still lands where the window is.
TEST_F(ScreenRecoveryTest, APresentRightAfterAMoveLandsInPlace) {
    ASSERT_EQ(InitLibrary(), 0);
    SetVSyncWait(0);
    MoveClientTo(200, 100);
    SetDrawTarget(SCREEN_BACK);
    FillPattern(Back());
    FAKE.windowRect.left += 100;
    FAKE.windowRect.right += 100;
    QueueFakeMessage(WM_MOVE, 0, 300 | (100 << 16));
    ASSERT_EQ(PresentScreen(), 0);
    EXPECT_EQ(WrongPrimaryPixels(Primary()), 0);
}

// At 8 bits every surface carries the screen's palette: at start-up, and after
// the device was made again on coming back from the background.
TEST_F(ScreenRecoveryTest, EightBitSurfacesKeepThePaletteThroughTheBackground) {
    ChangeWindowMode(0);
    SetScreenMode(640, 480, 8, 0);
    ASSERT_EQ(InitLibrary(), 0);
    ASSERT_EQ(GetColorBitDepth(), 8);
    SetDrawTarget(SCREEN_BACK);
    int image = AddBmpData(8, 8, 0, 0, -1, 0, 0, 0, 0);
    for (int pass = 0; pass < 2; pass++) {
        SCOPED_TRACE(pass == 0 ? "start-up" : "back from the background");
        ASSERT_NE(FAKE_SCREEN.paletteId, 0);
        int without = 0;
        for (ScreenSurface* s : FAKE_SCREEN.live) without += PaletteOf(s) != FAKE_SCREEN.paletteId;
        EXPECT_EQ(without, 0) << "of " << FAKE_SCREEN.live.size() << " surfaces";
        EXPECT_EQ(PaletteOf(GetImageSurface(image)), FAKE_SCREEN.paletteId);
        QueueFakeMessage(WM_ACTIVATE, 0, 0);
        QueueFakeMessage(WM_ACTIVATEAPP, 1, 0);
        QueueFakeMessage(WM_ACTIVATE, 1, 0);
        ProcessWindowMessages();
    }
    ReleaseImage(image);
}

// Surfaces lost while the window was in the background (main surfaces and
// images alike) are restored when the next drawing call finds it back.
TEST_F(ScreenRecoveryTest, LostSurfacesAreRestoredWhenTheWindowComesBack) {
    ASSERT_EQ(InitLibrary(), 0);
    SetVSyncWait(0);
    SetDrawTarget(SCREEN_BACK);
    int image = AddBmpData(8, 8, 0, 0, -1, 0, 0, 0, 0);
    Deactivate();
    LoseFakeSurfaces();
    ASSERT_GT(CountLostFakeSurfaces(), 3);
    QueueFakeMessage(WM_ACTIVATEAPP, 1, 0);
    EXPECT_EQ(ClearDrawTarget(), 0);
    EXPECT_EQ(CountLostFakeSurfaces(), 0);
    EXPECT_EQ(DrawImageToTarget(image, 4, 4, 0), 0);
    FillPattern(Back());
    ASSERT_EQ(PresentScreen(), 0);
    EXPECT_EQ(WrongPrimaryPixels(Primary()), 0);
    ReleaseImage(image);
}

// A surface that cannot be made, or keyed, while graphics management runs ends
// the program with -1, its message logged once and the shut-down complete.
TEST_F(ScreenRecoveryTest, FatalErrorsWhileMakingImagesEndTheProgramOnce) {
    struct Case {
        int surfaceFails, colorKeyFails;
        const char* message;
    };
    const Case cases[] = {{1, 0, "オフスクリーンサーフェスの作成に失敗しました\r\n"},
                          {0, 1, "サーフェイスのカラーキーの設定に失敗しました\r\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        InstallFakePlatform();
        FAKE.currentDirectory = dir;
        ASSERT_EQ(InitLibrary(), 0);
        EXPECT_EXIT(
            {
                FAKE_SCREEN.surfaceFails = c.surfaceFails;
                FAKE_SCREEN.colorKeyFails = c.colorKeyFails;
                AddBmpData(8, 8, 0, 0, -1, 0, 0, 0, 0);
            },
            ::testing::ExitedWithCode(255), "");
        std::string log = ReadLog();
        size_t first = log.find(c.message);
        ASSERT_NE(first, std::string::npos);
        EXPECT_EQ(log.find(c.message, first + 1), std::string::npos);
        EXPECT_NE(log.find("DirectDraw 関連の終了処理は正常に終了しました\r\n", first), std::string::npos);
        EXPECT_EQ(log.substr(log.size() - 24), "ソフトをエラー終了します");
        EndLibrary();
    }
}
