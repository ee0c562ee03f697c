// demo.cpp: starts the library with the player's settings and shows the
// player's status screen until Escape or the close button.
#include "ravlin.h"

int main() {
    SetScreenMode(350, 120, 16, -1);
    SetWindowTitleText("Marovel ver0.001a");
    SetLogOutputEnabled(1);
    ChangeWindowMode(1);
    if (InitLibrary() == -1) return -1;
    SetDrawTarget(SCREEN_BACK);

    // A soft tone while the window is open; without a sound device this is -1 and silent.
    int tone = MakeToneSound(440, 1000);
    PlaySoundHandle(tone, PLAY_LOOP);

    while (ProcessWindowMessages() == 0) {
        if (IsKeyDown(DIK_ESCAPE)) break;
        ClearDrawTarget();
        DrawText(0, 20, "sample_music_file.ogg", MakeColor(200, 200, 255), 0);
        DrawLabeledNumber(0, 0, "現在の周波数", 44100, 10, MakeColor(255, 255, 255), 0);
        DrawText(0, 60, "キーボード左右で周波数変更(上下で高速)", MakeColor(255, 200, 200), 0);
        DrawText(0, 80, "エンターキーで停止、再開", MakeColor(255, 200, 200), 0);
        DrawText(0, 100, "音楽データはwav,ogg,mp3のみ対応", MakeColor(255, 200, 200), 0);
        WaitMilliseconds(10);
        PresentScreen();
    }
    EndLibrary();
    return 0;
}
