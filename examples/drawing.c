/* drawing.c: a picture made once and drawn many times, and the four font
 * types. Escape ends.
 */
#include <stddef.h>

#include <ravlin.h>

static int BADGE = -1;

/* A small picture: a frame, a filled square and a word. Black is left out when
 * it is drawn with transparency, so only the shapes show. */
static void PaintBadge(void) {
    int target = GetDrawTarget();
    SetDrawTarget(BADGE);
    ClearDrawTarget();
    DrawBox(0, 0, 72, 40, MakeColor(255, 220, 80), 0);
    DrawBox(6, 6, 22, 22, MakeColor(80, 160, 255), 1);
    DrawText(28, 6, "絵", MakeColor(255, 255, 255), 0);
    SetDrawTarget(target);
}

int main(void) {
    SetStringEncoding(STRING_UTF8);
    SetWindowTitleText("Ravlin: drawing");
    SetScreenMode(480, 300, 32, -1);
    SetLogOutputEnabled(0);
    if (InitLibrary() == -1) return 1;

    const char* names[4] = {"FONT_PLAIN 標準", "FONT_EDGED 縁取り", "FONT_SMOOTH 滑らか", "FONT_SMOOTH_EDGED 両方"};
    int fonts[4];
    for (int type = 0; type < 4; type++) fonts[type] = CFont(NULL, 24, 6, type, -1);
    BADGE = MakeGraph(72, 40);
    PaintBadge();
    /* A display change in full screen takes the picture's pixels: it is painted again then. */
    SetGraphRestoreCallback(PaintBadge);

    int frame = 0;
    SetDrawTarget(SCREEN_BACK);
    while (ProcessWindowMessages() == 0 && !IsKeyDown(DIK_ESCAPE)) {
        ClearDrawTarget();
        DrawBox(0, 0, 480, 300, MakeColor(30, 40, 60), 1);
        for (int type = 0; type < 4; type++) {
            if (fonts[type] == -1) continue;
            DrawStringToHandle(12, 12 + type * 36, names[type], MakeColor(255, 255, 255), fonts[type],
                               MakeColor(220, 60, 60));
        }
        /* The same picture five times, sliding, without its black. */
        for (int i = 0; i < 5; i++) {
            int x = (frame * 2 + i * 96) % 520 - 40;
            DrawGraph(x, 170 + (i % 2) * 50, BADGE, 1);
        }
        DrawText(12, 276, "Escape で終了", MakeColor(160, 160, 160), 0);
        PresentScreen();
        frame++;
    }
    EndLibrary();
    return 0;
}
