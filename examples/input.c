/* input.c: the keyboard's held keys and the first joypad's directions and
 * buttons, drawn as they change. Escape together with Q ends (Escape alone is
 * shown like any other key).
 */
#include <stdio.h>

#include <ravlin.h>

/* Names of some keys; the others are shown by their scan code. */
static const struct {
    int code;
    const char* name;
} KEY_NAMES[] = {
    {DIK_ESCAPE, "Esc"}, {DIK_RETURN, "Enter"}, {DIK_SPACE, "Space"}, {DIK_LSHIFT, "Shift"},
    {DIK_RSHIFT, "RShift"}, {DIK_LCONTROL, "Ctrl"}, {DIK_RCONTROL, "RCtrl"}, {DIK_LMENU, "Alt"},
    {DIK_UP, "↑"}, {DIK_DOWN, "↓"}, {DIK_LEFT, "←"}, {DIK_RIGHT, "→"},
    {DIK_A, "A"}, {DIK_S, "S"}, {DIK_D, "D"}, {DIK_W, "W"}, {DIK_Q, "Q"},
    {DIK_Z, "Z"}, {DIK_X, "X"}, {DIK_C, "C"},
};

static const char* PAD_LABELS[] = {"↓", "←", "→", "↑", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"};

static const char* KeyName(int code, char* buffer, int size) {
    for (unsigned i = 0; i < sizeof KEY_NAMES / sizeof KEY_NAMES[0]; i++) {
        if (KEY_NAMES[i].code == code) return KEY_NAMES[i].name;
    }
    snprintf(buffer, (size_t)size, "0x%02X", code);
    return buffer;
}

int main(void) {
    SetStringEncoding(STRING_UTF8);
    SetWindowTitleText("Ravlin: input");
    SetScreenMode(480, 200, 32, -1);
    SetLogOutputEnabled(0);
    if (InitLibrary() == -1) return 1;
    SetDrawTarget(SCREEN_BACK);
    uint32_t white = MakeColor(255, 255, 255), grey = MakeColor(90, 90, 90), lit = MakeColor(120, 220, 120);

    while (ProcessWindowMessages() == 0 && !(IsKeyDown(DIK_ESCAPE) && IsKeyDown(DIK_Q))) {
        ClearDrawTarget();

        /* Every held key, left to right. */
        DrawText(8, 8, "キーボード:", white, 0);
        int x = 104;
        for (int code = 1; code < 256; code++) {
            if (IsKeyDown(code) != 1) continue;
            char buffer[8];
            const char* name = KeyName(code, buffer, sizeof buffer);
            DrawText(x, 8, name, lit, 0);
            x += 8 * 6;
        }

        /* The pad's bits, the keyboard's keys that stand for them merged in. */
        int bits = GetPadInput(INPUT_KEY_PAD1);
        DrawLabeledNumber(8, 48, "ジョイパッド", GetJoypadNum(), 10, white, 0);
        for (int i = 0; i < 14; i++) {
            int on = (bits >> i) & 1;
            int left = 8 + i * 32;
            DrawBox(left, 72, left + 28, 100, on ? lit : grey, 1);
            DrawText(left + 6, 78, PAD_LABELS[i], on ? MakeColor(0, 0, 0) : white, 0);
        }
        DrawLabeledNumber(8, 112, "GetPadInput", bits, 16, white, 0);
        DrawText(8, 172, "Escape と Q で終了", grey, 0);
        PresentScreen();
    }
    EndLibrary();
    return 0;
}
