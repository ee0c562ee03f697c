// screen_test_support.h: the fake platform with the screen settings of a fresh process.
#pragma once

#include "../core/core_test_support.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/fake_screen.h"
#include "screen/screen.h"

class ScreenTest : public FakePlatformTest {
protected:
    void SetUp() override {
        FakePlatformTest::SetUp();
        SetScreenMode(350, 120, 16, 0);
        SetUse3D(1);
        SetLogOutputEnabled(1);
    }
    void TearDown() override {
        FakePlatformTest::TearDown();
        // Every surface the library made is released again by its shut-down.
        EXPECT_TRUE(FAKE_SCREEN.live.empty()) << FAKE_SCREEN.live.size() << " surfaces left";
        // The device clips nothing for the library: every fill and copy stayed inside.
        EXPECT_EQ(FAKE_SCREEN.outOfBounds, 0);
        SetScreenMode(350, 120, 16, 0);
    }

    // Moves the fake window so that its client area's top-left corner is (x, y)
    // and tells the library as the window system would.
    static void MoveClientTo(int x, int y) {
        int w = FAKE.windowRect.right - FAKE.windowRect.left;
        int h = FAKE.windowRect.bottom - FAKE.windowRect.top;
        FAKE.windowRect.left = x - FAKE.frameLeft;
        FAKE.windowRect.top = y - FAKE.frameTop;
        FAKE.windowRect.right = FAKE.windowRect.left + w;
        FAKE.windowRect.bottom = FAKE.windowRect.top + h;
        int64_t packed = (int64_t)(((uint32_t)x & 0xFFFF) | (((uint32_t)y & 0xFFFF) << 16));
        QueueFakeMessage(WM_MOVE, 0, packed);
        ProcessWindowMessages();
    }

    static ScreenSurface* Primary() {
        int target = GetDrawState()->target;
        SetDrawTarget(SCREEN_FRONT);
        ScreenSurface* s = GetDrawSurface();
        SetDrawTarget(target);
        return s;
    }
    static ScreenSurface* Back() {
        int target = GetDrawState()->target;
        SetDrawTarget(SCREEN_BACK);
        ScreenSurface* s = GetDrawSurface();
        SetDrawTarget(target);
        return s;
    }
    static void FillPattern(ScreenSurface* s) {
        for (int y = 0; y < s->height; y++) {
            for (int x = 0; x < s->width; x++) WriteFakePixel(s, x, y, Pattern(x, y));
        }
    }
    static uint32_t Pattern(int x, int y) { return (uint32_t)(0x10000 * (x & 0xFF) + 0x100 * (y & 0xFF) + 0x55); }
};
