// screen.cpp: the screen settings and the wait on an inactive window.
//
// The settings are only stored here; the display surfaces that use them are
// built by the screen start-up.
#include "screen/screen.h"

#include "core/core.h"

namespace {

struct ScreenState {
    ScreenSettings stored;     // as set; 0 = default
    ScreenSettings effective;  // what readers see: 0 replaced by the default
};

ScreenState SCREEN = {};

enum { DEFAULT_WIDTH = 640, DEFAULT_HEIGHT = 480, DEFAULT_COLOR_BITS = 16 };

}  // namespace

int SetScreenMode(int width, int height, int colorBits, int refreshRate) {
    if (width != -1) SCREEN.stored.width = width;
    if (height != -1) SCREEN.stored.height = height;
    if (colorBits != -1) SCREEN.stored.colorBits = colorBits;
    if (refreshRate != -1) SCREEN.stored.refreshRate = refreshRate;
    return 0;
}

const ScreenSettings* GetScreenSettings(void) {
    SCREEN.effective = SCREEN.stored;
    if (SCREEN.effective.width == 0) SCREEN.effective.width = DEFAULT_WIDTH;
    if (SCREEN.effective.height == 0) SCREEN.effective.height = DEFAULT_HEIGHT;
    if (SCREEN.effective.colorBits == 0) SCREEN.effective.colorBits = DEFAULT_COLOR_BITS;
    return &SCREEN.effective;
}

int WaitWhileInactive(void) {
    if (GetMainWindowState()->active) return 0;
    while (!GetMainWindowState()->active) {
        if (ProcessWindowMessages() != 0) return -1;
    }
    return 0;
}
