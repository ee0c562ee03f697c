/* hello.c: a window with Japanese text that follows the arrow keys. Escape or
 * the window's close button ends it.
 *
 *   hello [FRAMES]   with FRAMES, ends by itself after that many frames
 */
#include <stdlib.h>

#include <ravlin.h>

int main(int argc, char** argv) {
    int frames = argc > 1 ? atoi(argv[1]) : -1;

    /* Configuration comes before InitLibrary: the strings of this program are UTF-8. */
    SetStringEncoding(STRING_UTF8);
    SetWindowTitleText("こんにちは Ravlin");
    SetScreenMode(400, 160, 32, -1);
    ChangeWindowMode(1);
    SetLogOutputEnabled(0);
    if (InitLibrary() == -1) return 1;
    SetDrawTarget(SCREEN_BACK);

    int x = 20, y = 40;
    while (frames != 0 && ProcessWindowMessages() == 0 && !IsKeyDown(DIK_ESCAPE)) {
        int pad = GetPadInput(INPUT_KEY_PAD1);
        if (pad & PAD_LEFT) x -= 2;
        if (pad & PAD_RIGHT) x += 2;
        if (pad & PAD_UP) y -= 2;
        if (pad & PAD_DOWN) y += 2;

        ClearDrawTarget();
        DrawText(x, y, "こんにちは、世界！", MakeColor(255, 255, 255), 0);
        DrawText(x, y + 24, "Café, 3 €, 丂", MakeColor(255, 200, 120), 0);
        DrawText(8, 136, "矢印キーで移動、Escape で終了", MakeColor(140, 140, 140), 0);
        PresentScreen();
        if (frames > 0) frames--;
    }
    EndLibrary();
    return 0;
}
