// The screen on the real SDL2 device (needs an X display; the test command
// runs it at depth 24 and, through run_with_xvfb.sh, at depth 16): what the back
// surface holds is what the window shows, the log of a start and an end, a
// second start after an end, and the vertical-blank pacing.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/core.h"
#include "input/input.h"
#include "library/library.h"
#include "platform/platform.h"
#include "platform/screen_device.h"
#include "screen/screen.h"
#include "../tools/real_library_test.h"

namespace {

// The window's pixels as 8-bit RGB rows, read by the window system's own tools.
std::vector<uint8_t> CaptureWindow(const std::string& id, int width, int height) {
    std::string raw = ShellOutput("import -silent -window " + id + " -depth 8 rgb:- 2>/dev/null");
    if ((int)raw.size() != width * height * 3) return {};
    return std::vector<uint8_t>(raw.begin(), raw.end());
}

// Full or empty channels only: exact in every format.
void PatternColour(int x, int y, int* r, int* g, int* b) {
    *r = (x % 3 == 0) ? 255 : 0;
    *g = (y % 2 == 0) ? 255 : 0;
    *b = ((x / 7 + y / 5) % 2) ? 255 : 0;
}

// Pixels of a capture that differ from the pattern; -1 when there is no
// capture. The first few are reported when report is set. (The capture tool
// reads a 16-bit black channel beside a full green one as 8.)
int WrongPixels(const std::vector<uint8_t>& shot, int width, int height, bool report = false) {
    if (shot.empty()) return -1;
    int wrong = 0;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            int r, g, b;
            PatternColour(x, y, &r, &g, &b);
            const uint8_t* p = &shot[((size_t)y * width + x) * 3];
            if (abs(p[0] - r) > 8 || abs(p[1] - g) > 8 || abs(p[2] - b) > 8) {
                if (report && wrong < 5) {
                    ADD_FAILURE() << "pixel " << x << "," << y << ": " << (int)p[0] << " " << (int)p[1] << " " << (int)p[2];
                }
                wrong++;
            }
        }
    }
    return wrong;
}

class Sdl2ScreenTest : public RealLibraryTest {
protected:
    void SetUp() override {
        if (!getenv("DISPLAY")) GTEST_SKIP() << "no display";
        EnterWorkDir("/tmp/ravlin-screen");
        if (HasFatalFailure()) return;
        SetLogOutputEnabled(1);
        ChangeWindowMode(1);
    }
    void Start(int width, const char* title) {
        SetScreenMode(width, 120, 16, 0);
        SetWindowTitleText(title);
        ASSERT_EQ(InitLibrary(), 0);
    }
    // Fills the back surface row by row through its pitch, presents it and
    // compares the window's pixels with the pattern.
    void PresentAndCompare(const char* title, int width, int height = 120) {
        std::string id = FindWindow(title);
        ASSERT_FALSE(id.empty());
        ASSERT_EQ(SetDrawTarget(SCREEN_BACK), 0);
        ScreenSurface* back = GetDrawSurface();
        uint8_t* pixels;
        int pitch;
        ScreenRect visible;
        ASSERT_EQ(LockScreenSurface(back, &pixels, &pitch, &visible), 0);
        ASSERT_EQ(visible.right, width);
        int bytes = GetColorInfo()->bytesPerPixel;
        for (int y = 0; y < height; y++) {
            for (int x = 0; x < width; x++) {
                int r, g, b;
                PatternColour(x, y, &r, &g, &b);
                uint32_t c = MakeColor(r, g, b);
                uint8_t* p = pixels + (size_t)y * pitch + (size_t)x * bytes;
                if (bytes == 1) *p = (uint8_t)c;
                else if (bytes == 2) *(uint16_t*)p = (uint16_t)c;
                else *(uint32_t*)p = c;
            }
        }
        UnlockScreenSurface(back);
        std::vector<uint8_t> shot;
        for (int tries = 0; tries < 20; tries++) {
            ASSERT_EQ(PresentScreen(), 0);
            ProcessWindowMessages();
            shot = CaptureWindow(id, width, height);
            if (!shot.empty() && shot[0] > 128) break;
            usleep(100 * 1000);
        }
        ASSERT_FALSE(shot.empty()) << "no capture of the window";
        EXPECT_EQ(WrongPixels(shot, width, height, true), 0);
    }
};

}  // namespace

TEST_F(Sdl2ScreenTest, WindowShowsTheBackSurface) {
    int depth = atoi(Shell("xdpyinfo | awk '/depth of root window/ {print $5}'").c_str());
    Start(350, "Marovel screen");
    EXPECT_EQ(GetColorBitDepth(), depth == 16 ? 16 : 32);
    PresentAndCompare("Marovel screen", 350);
}

// An unchanged frame is not sent to the display again, but a window that was
// covered and uncovered gets it again with the next present.
TEST_F(Sdl2ScreenTest, AnUncoveredWindowShowsItsFrameAgain) {
    Start(350, "Marovel cover");
    PresentAndCompare("Marovel cover", 350);
    std::string id = FindWindow("Marovel cover");
    ASSERT_EQ(system((std::string(X11_TEST_INPUT) + " cover " + id).c_str()), 0);
    std::vector<uint8_t> shot;
    int wrong = 0;
    for (int tries = 0; tries < 20; tries++) {
        ASSERT_EQ(ProcessWindowMessages(), 0);
        ASSERT_EQ(PresentScreen(), 0);
        shot = CaptureWindow(id, 350, 120);
        ASSERT_FALSE(shot.empty());
        wrong = 0;
        for (int y = 0; y < 120; y++) {
            for (int x = 0; x < 350; x++) {
                int r, g, b;
                PatternColour(x, y, &r, &g, &b);
                const uint8_t* p = &shot[((size_t)y * 350 + x) * 3];
                if (abs(p[0] - r) > 8 || abs(p[1] - g) > 8 || abs(p[2] - b) > 8) wrong++;
            }
        }
        if (wrong == 0) break;
        usleep(50 * 1000);
    }
    EXPECT_EQ(wrong, 0) << "the uncovered window was not drawn again";
}

// The same when the only pumps are the key reads': the window events they take
// count as much as those the message drain takes.
TEST_F(Sdl2ScreenTest, AnUncoveredWindowShowsItsFrameAgainWhenOnlyKeysArePolled) {
    Start(350, "Marovel keys cover");
    PresentAndCompare("Marovel keys cover", 350);
    std::string id = FindWindow("Marovel keys cover");
    ASSERT_EQ(system((std::string(X11_TEST_INPUT) + " cover " + id).c_str()), 0);
    int wrong = -1;
    for (int tries = 0; tries < 20 && wrong != 0; tries++) {
        IsKeyDown(0x01);
        ASSERT_EQ(PresentScreen(), 0);
        wrong = WrongPixels(CaptureWindow(id, 350, 120), 350, 120);
        if (wrong != 0) usleep(50 * 1000);
    }
    EXPECT_EQ(wrong, 0) << "the uncovered window was not drawn again";
}

// The window moved and its move message not yet handled: the next present is
// still drawn where the window is.
TEST_F(Sdl2ScreenTest, APresentRightAfterAMoveIsDrawnInPlace) {
    Start(350, "Marovel move");
    PresentAndCompare("Marovel move", 350);
    std::string id = FindWindow("Marovel move");
    PlatformRect window;
    ASSERT_EQ(PLATFORM.window->GetWindowRect(&window), 0);
    PlatformRect moved = {window.left + 100, window.top, window.right + 100, window.bottom};
    PLATFORM.window->MoveMainWindow(&moved);
    ASSERT_EQ(PresentScreen(), 0);
    EXPECT_EQ(WrongPixels(CaptureWindow(id, 350, 120), 350, 120), 0);
}

// 351 pixels at 16 bits are 702 bytes of colour in a longer row.
TEST_F(Sdl2ScreenTest, OddWidthRowsFollowThePitch) {
    Start(351, "Marovel odd");
    PresentAndCompare("Marovel odd", 351);
}

// Fills and copies on the device's own surfaces: cut to their rectangles, a
// colour key honoured only when asked, a surface copied onto itself.
TEST_F(Sdl2ScreenTest, FillsAndCopiesKeepToTheirRectangles) {
    Start(350, "Marovel fills");
    const PlatformScreenOps* ops = PLATFORM.screen;
    const int W = 13, H = 7;
    ScreenSurface* a = ops->CreateSurface(W, H, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY);
    ScreenSurface* b = ops->CreateSurface(W, H, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    const uint32_t red = MakeColor(255, 0, 0), white = MakeColor(255, 255, 255), blue = MakeColor(0, 0, 255);
    std::vector<uint32_t> want(W * H, red);
    auto at = [&](ScreenSurface* s, int x, int y) {
        uint8_t* p;
        int pitch;
        ScreenRect v;
        uint32_t value = 0;
        if (LockScreenSurface(s, &p, &pitch, &v) != 0) return 0xDEADu;
        memcpy(&value, p + (size_t)y * pitch + (size_t)x * GetColorInfo()->bytesPerPixel, GetColorInfo()->bytesPerPixel);
        UnlockScreenSurface(s);
        return value;
    };
    auto check = [&](ScreenSurface* s, const char* what) {
        int wrong = 0;
        for (int y = 0; y < H; y++) {
            for (int x = 0; x < W; x++) {
                if (at(s, x, y) != want[y * W + x] && wrong++ < 3) ADD_FAILURE() << what << " at " << x << "," << y;
            }
        }
    };
    auto fill = [&](int l, int t, int r, int btm, uint32_t c) {
        for (int y = std::max(t, 0); y < std::min(btm, H); y++) {
            for (int x = std::max(l, 0); x < std::min(r, W); x++) want[y * W + x] = c;
        }
    };
    ASSERT_EQ(ops->Fill(a, nullptr, red), 0);
    check(a, "whole fill");
    PlatformRect inner = {2, 1, 9, 5}, corner = {-3, -3, 4, 4}, past = {10, 5, 40, 40};
    ops->Fill(a, &inner, 0);
    fill(2, 1, 9, 5, 0);
    ops->Fill(a, &corner, white);
    fill(-3, -3, 4, 4, white);
    ops->Fill(a, &past, blue);
    fill(10, 5, 40, 40, blue);
    check(a, "cut fills");

    // Keyed white is copied when the key is not asked for, skipped when it is.
    ASSERT_EQ(ops->SetColorKey(a, white), 0);
    ops->Fill(b, nullptr, blue);
    PlatformRect whole = {0, 0, W, H};
    ops->Blit(b, 0, 0, a, &whole, 0);
    check(b, "copy without the key");
    ops->Fill(b, nullptr, blue);
    ops->Blit(b, 0, 0, a, &whole, 1);
    for (uint32_t& v : want) v = v == white ? blue : v;
    check(b, "copy with the key");

    // One column to the right onto itself, and a copy cut at the far edges.
    std::vector<uint32_t> before = want;
    PlatformRect most = {0, 0, W - 1, H};
    ops->Blit(b, 1, 0, b, &most, 0);
    for (int y = 0; y < H; y++) {
        for (int x = 1; x < W; x++) want[y * W + x] = before[y * W + x - 1];
    }
    check(b, "copy onto itself");
    ops->Fill(a, nullptr, red);
    ops->Blit(b, W - 2, H - 3, a, &whole, 0);
    fill(W - 2, H - 3, W, H, red);
    check(b, "cut copy");
    ops->ReleaseSurface(a);
    ops->ReleaseSurface(b);
}

TEST_F(Sdl2ScreenTest, LogOfStartAndEndAndASecondStart) {
    Start(350, "Marovel log");
    ASSERT_EQ(EndScreen(), 0);
    EXPECT_EQ(IsScreenDeviceReady(), 0);
    ASSERT_EQ(InitScreen(), 0);
    SetDrawTarget(SCREEN_BACK);
    EXPECT_EQ(ClearDrawTarget(), 0);
    EXPECT_EQ(PresentScreen(), 0);
    EndLibrary();
    std::string log = ReadLog();
    size_t init = log.find("DirectDraw 関連の初期化を行います\r\n");
    size_t primary = log.find("\t\t\t\tPrimaryBuffer : SYSTEMMEMORY  \r\n");
    size_t ready = log.find("DirectDraw 関連の初期化は正常に終了しました\r\n");
    size_t end = log.find("DirectDraw 関連の終了処理は正常に終了しました\r\n");
    ASSERT_NE(init, std::string::npos);
    EXPECT_LT(init, primary);
    EXPECT_LT(primary, ready);
    EXPECT_LT(ready, end);
    // Indentation is back at 0 at the end.
    std::string tail = "\r\nＣＯＭを終了... 完了\r\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST_F(Sdl2ScreenTest, VerticalBlankPacesPresentsWithoutSpinning) {
    Start(350, "Marovel pace");
    SetDrawTarget(SCREEN_BACK);
    struct rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    int64_t start = GetNowMicroseconds();
    for (int i = 0; i < 30; i++) ASSERT_EQ(PresentScreen(), 0);
    double seconds = (GetNowMicroseconds() - start) / 1e6;
    getrusage(RUSAGE_SELF, &after);
    double cpu = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) + (after.ru_utime.tv_usec - before.ru_utime.tv_usec) / 1e6 +
                 (after.ru_stime.tv_sec - before.ru_stime.tv_sec) + (after.ru_stime.tv_usec - before.ru_stime.tv_usec) / 1e6;
    // Xvfb reports no refresh rate: 60 Hz, 30 periods.
    EXPECT_GT(seconds, 0.4);
    EXPECT_LT(seconds, 1.5);
    EXPECT_LT(cpu, seconds / 2);
}

// Full screen is a borderless window at 0,0 showing a shadow of the asked
// depth, converted (through the palette at 8 bits) when it is presented.
TEST_F(Sdl2ScreenTest, FullScreenModesShowTheirBackSurface) {
    for (int bits : {16, 8}) {
        ChangeWindowMode(0);
        SetScreenMode(640, 480, bits, 0);
        SetWindowTitleText("Marovel full");
        ASSERT_EQ(InitLibrary(), 0);
        EXPECT_EQ(GetColorBitDepth(), bits);
        std::string id = FindWindow("Marovel full");
        ASSERT_FALSE(id.empty());
        EXPECT_EQ(atoi(Shell("xwininfo -id " + id + " | awk '/Absolute upper-left X:/ {print $4}'").c_str()), 0);
        PresentAndCompare("Marovel full", 640, 480);
        EndLibrary();
        ChangeWindowMode(1);
    }
}
