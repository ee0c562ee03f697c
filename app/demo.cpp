// demo.cpp: starts the library with the player's settings and runs until
// Escape or the close button.
#include "core/core.h"
#include "input/input.h"
#include "screen/screen.h"
#include "sound/sound.h"

int main() {
    SetScreenMode(350, 120, 16, -1);
    SetWindowTitleText("Marovel ver0.001a");
    SetLogOutputEnabled(1);
    ChangeWindowMode(1);
    if (InitLibrary() == -1) return -1;

    // A soft tone while the window is open; without a sound device this is -1 and silent.
    int tone = MakeToneSound(440, 1000);
    PlaySoundHandle(tone, PLAY_LOOP);

    while (ProcessWindowMessages() == 0) {
        if (IsKeyDown(DIK_ESCAPE)) break;
        WaitMilliseconds(10);
    }
    EndLibrary();
    return 0;
}
