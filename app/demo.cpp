// demo.cpp: starts the library with the player's settings and runs until
// Escape or the close button, clearing and presenting the back surface every
// frame with a moving bar on it.
#include "core/core.h"
#include "input/input.h"
#include "screen/screen.h"
#include "sound/sound.h"

namespace {

enum { BAR_WIDTH = 40, BAR_STEP = 2 };

}  // namespace

int main() {
    SetScreenMode(350, 120, 16, -1);
    SetWindowTitleText("Marovel ver0.001a");
    SetLogOutputEnabled(1);
    ChangeWindowMode(1);
    if (InitLibrary() == -1) return -1;

    // A soft tone while the window is open; without a sound device this is -1 and silent.
    int tone = MakeToneSound(440, 1000);
    PlaySoundHandle(tone, PLAY_LOOP);

    int width = 0, height = 0;
    GetScreenSize(&width, &height);
    SetDrawTarget(SCREEN_BACK);
    int bar = AddBmpData(BAR_WIDTH, height, 0, 0, -1, 0, 0, 0, 0);
    FillScreenSurface(GetImageSurface(bar), MakeColor(0, 160, 255));
    int x = 0;

    while (ProcessWindowMessages() == 0) {
        if (IsKeyDown(DIK_ESCAPE)) break;
        ClearDrawTarget();
        DrawImageToTarget(bar, x, 0, 0);
        x = (x + BAR_STEP) % width;
        WaitMilliseconds(10);
        PresentScreen();
    }
    EndLibrary();
    return 0;
}
