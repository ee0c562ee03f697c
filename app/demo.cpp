// demo.cpp: starts the library with the player's settings and runs until
// Escape or the close button.
#include "core/core.h"
#include "input/input.h"
#include "screen/screen.h"

int main() {
    SetScreenMode(350, 120, 16, -1);
    SetWindowTitleText("Marovel ver0.001a");
    SetLogOutputEnabled(1);
    ChangeWindowMode(1);
    if (InitLibrary() == -1) return -1;

    while (ProcessWindowMessages() == 0) {
        if (IsKeyDown(DIK_ESCAPE)) break;
        WaitMilliseconds(10);
    }
    EndLibrary();
    return 0;
}
