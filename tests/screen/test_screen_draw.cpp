// The draw target and its area, clearing and presenting into a window that
// lies partly or wholly off the desktop.
#include "screen_test_support.h"

TEST_F(ScreenTest, DrawTargetTakesOnlyScreensAndLiveGraphs) {
    EXPECT_EQ(SetDrawTarget(SCREEN_BACK), -1);  // before start-up
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(GetDrawState()->target, SCREEN_FRONT);
    ASSERT_EQ(SetDrawTarget(SCREEN_BACK), 0);
    ScreenSurface* back = GetDrawSurface();
    ASSERT_NE(back, nullptr);
    for (int id : {-1, 5, 0, 0x10000, 0x10000 + 2999, 3000, 0x20000, -3}) {
        EXPECT_EQ(SetDrawTarget(id), -1) << id;
        EXPECT_EQ(GetDrawState()->target, SCREEN_BACK) << id;
        EXPECT_EQ(GetDrawSurface(), back) << id;
    }
}

TEST_F(ScreenTest, DrawAreaIsSwappedClampedAndResetByTheTarget) {
    ASSERT_EQ(InitLibrary(), 0);
    SetDrawTarget(SCREEN_BACK);
    SetDrawArea(300, 100, -5, 500);
    ScreenRect a = GetDrawState()->drawArea;
    EXPECT_EQ(a.left, 0);
    EXPECT_EQ(a.top, 100);
    EXPECT_EQ(a.right, 300);
    EXPECT_EQ(a.bottom, 120);
    EXPECT_EQ(GetDrawState()->drawAreaEmpty, 0);

    // An empty area draws nothing; the clear ignores the area altogether.
    int image = AddBmpData(16, 16, 0, 0, -1, 0, 0, 0, 0);
    ASSERT_GE(image, 0);
    FillScreenSurface(GetImageSurface(image), MakeColor(255, 255, 255));
    ScreenSurface* back = GetDrawSurface();
    FillPattern(back);
    SetDrawArea(10, 10, 10, 50);
    EXPECT_EQ(GetDrawState()->drawAreaEmpty, 1);
    EXPECT_EQ(DrawImageToTarget(image, 5, 5, 0), 0);
    EXPECT_EQ(ReadFakePixel(back, 10, 10), Pattern(10, 10));
    // Inside an area the image is cut at its edge.
    SetDrawArea(0, 0, 8, 120);
    DrawImageToTarget(image, 4, 4, 0);
    EXPECT_EQ(ReadFakePixel(back, 7, 4), 0xFFFFFFu);
    EXPECT_EQ(ReadFakePixel(back, 8, 4), Pattern(8, 4));
    ClearDrawTarget();
    for (int y = 0; y < 120; y += 7) {
        for (int x = 0; x < 350; x += 7) ASSERT_EQ(ReadFakePixel(back, x, y), 0u) << x << "," << y;
    }
    SetDrawTarget(SCREEN_BACK);
    a = GetDrawState()->drawArea;
    EXPECT_EQ(a.left, 0);
    EXPECT_EQ(a.top, 0);
    EXPECT_EQ(a.right, 350);
    EXPECT_EQ(a.bottom, 120);
    ReleaseImage(image);
}

// Window-local columns and rows that lie on the desktop get the back
// surface's pixels at the same place; the rest keeps its marker.
TEST_F(ScreenTest, PresentAndClearTouchOnlyTheVisiblePartOfTheWindow) {
    ASSERT_EQ(InitLibrary(), 0);
    SetVSyncWait(0);
    SetDrawTarget(SCREEN_BACK);
    FillPattern(Back());
    ScreenSurface* primary = Primary();
    const uint32_t MARK = 0x123456;
    struct Place {
        int x, y;
    };
    const Place places[] = {{-100, 50}, {50, -30}, {1024 - 200, 50}, {50, 768 - 60}, {-200, -100},
                            {2000, 50}, {-400, 50}, {50, 900}};
    for (const Place& p : places) {
        MoveClientTo(p.x, p.y);
        EXPECT_EQ(GetMainWindowState()->clientLeft, p.x);
        for (int pass = 0; pass < 2; pass++) {
            for (int y = 0; y < 120; y++) {
                for (int x = 0; x < 350; x++) WriteFakePixel(primary, x, y, MARK);
            }
            if (pass == 0) {
                ASSERT_EQ(PresentScreen(), 0);
            } else {
                SetDrawTarget(SCREEN_FRONT);
                ASSERT_EQ(ClearDrawTarget(), 0);
                SetDrawTarget(SCREEN_BACK);
            }
            for (int y = 0; y < 120; y++) {
                for (int x = 0; x < 350; x++) {
                    int onDesktop = p.x + x >= 0 && p.x + x < 1024 && p.y + y >= 0 && p.y + y < 768;
                    uint32_t want = !onDesktop ? MARK : pass == 0 ? Pattern(x, y) : 0;
                    ASSERT_EQ(ReadFakePixel(primary, x, y), want)
                        << "window at " << p.x << "," << p.y << " pixel " << x << "," << y << " pass " << pass;
                }
            }
        }
    }
}

TEST_F(ScreenTest, FrontDrawAreaStaysOnTheDesktopAndFollowsTheWindow) {
    ASSERT_EQ(InitLibrary(), 0);
    SetDrawTarget(SCREEN_FRONT);
    SetDrawArea(0, 0, 350, 120);
    MoveClientTo(1024 - 100, -20);
    // The last asked area is applied again against the new place.
    ScreenRect a = GetDrawState()->drawArea;
    EXPECT_EQ(a.left, 0);
    EXPECT_EQ(a.top, 20);
    EXPECT_EQ(a.right, 100);
    EXPECT_EQ(a.bottom, 120);
    EXPECT_EQ(GetDrawState()->origin.left, 1024 - 100);
    // Wholly off to the right: limits never below zero, the area is empty.
    MoveClientTo(1100, 10);
    SetDrawArea(50, 10, 20, 100);
    a = GetDrawState()->drawArea;
    EXPECT_GE(a.left, 0);
    EXPECT_EQ(a.left, a.right);
    EXPECT_EQ(GetDrawState()->drawAreaEmpty, 1);
}

TEST_F(ScreenTest, PresentingWaitsForTheBlankOnlyWhenAsked) {
    ASSERT_EQ(InitLibrary(), 0);
    SetDrawTarget(SCREEN_BACK);
    int before = FAKE_SCREEN.verticalBlankWaits;
    PresentScreen();
    EXPECT_EQ(FAKE_SCREEN.verticalBlankWaits, before + 1);
    SetVSyncWait(0);
    PresentScreen();
    EXPECT_EQ(FAKE_SCREEN.verticalBlankWaits, before + 1);
}

TEST_F(ScreenTest, FullScreenPresentEndsWhenTheBlitStatusFails) {
    ChangeWindowMode(0);
    SetScreenMode(640, 480, 16, 0);
    ASSERT_EQ(InitLibrary(), 0);
    SetDrawTarget(SCREEN_BACK);
    FillPattern(Back());
    FAKE_SCREEN.blitStatusAnswer = -1;
    EXPECT_EQ(PresentScreen(), 0);
    EXPECT_GE(FAKE_SCREEN.blitStatusCalls, 1);
    EXPECT_EQ(ReadFakePixel(Primary(), 33, 44), Pattern(33, 44) & 0xFFFF);
}

// A fatal error while the window is in the background (here: no primary
// surface after a desktop change) shuts down without waiting for it.
TEST_F(ScreenTest, FatalErrorInTheBackgroundShutsDownWithoutWaiting) {
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EXIT(
        {
            QueueFakeMessage(WM_ACTIVATE, 0, 0);
            QueueFakeMessage(WM_DISPLAYCHANGE, 32, 1280 | (1024 << 16));
            FAKE_SCREEN.primaryFails = 1;
            ProcessWindowMessages();
        },
        ::testing::ExitedWithCode(255), "");
    std::string log = ReadLog();
    EXPECT_LT(log.find("プライマリサーフェスの作成に失敗しました\r\n"), log.find("DirectDraw 関連の終了処理をおこないます"));
    EXPECT_NE(log.find("DirectDraw 関連の終了処理は正常に終了しました\r\n"), std::string::npos);
    EXPECT_EQ(log.substr(log.size() - 24), "ソフトをエラー終了します");
}
