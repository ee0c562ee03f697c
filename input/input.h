// input.h: keyboard and joypad state by polling.
#pragma once

enum {
    PAD_DOWN = 0x1,
    PAD_LEFT = 0x2,
    PAD_RIGHT = 0x4,
    PAD_UP = 0x8,
    PAD_BUTTON1 = 0x10,
    PAD_BUTTON2 = 0x20,
    PAD_BUTTON3 = 0x40,
    PAD_BUTTON4 = 0x80,
    PAD_BUTTON5 = 0x100,
    PAD_BUTTON6 = 0x200,
    PAD_BUTTON7 = 0x400,
    PAD_BUTTON8 = 0x800,
    PAD_BUTTON9 = 0x1000,
    PAD_BUTTON10 = 0x2000,
    PAD_BUTTON11 = 0x4000,
    PAD_BUTTON12 = 0x8000,
    PAD_BUTTON13 = 0x10000,
    PAD_BUTTON14 = 0x20000,
    PAD_BUTTON15 = 0x40000,
    PAD_BUTTON16 = 0x80000,
    PAD_BUTTON17 = 0x100000,
    PAD_BUTTON18 = 0x200000,
    PAD_BUTTON19 = 0x400000,
    PAD_BUTTON20 = 0x800000,
    PAD_BUTTON21 = 0x1000000,
    PAD_BUTTON22 = 0x2000000,
    PAD_BUTTON23 = 0x4000000,
    PAD_BUTTON24 = 0x8000000,
};

enum {
    INPUT_KEY = 0x1000,       // added to a pad number: merge the keyboard
    INPUT_PAD1 = 1,
    INPUT_KEY_PAD1 = 0x1001,
    MAX_PADS = 7,
};

// DirectInput scan codes of the keys the library names.
enum {
    DIK_ESCAPE = 0x01,
    DIK_9 = 0x0A,
    DIK_0 = 0x0B,
    DIK_BACK = 0x0E,
    DIK_Q = 0x10,
    DIK_W = 0x11,
    DIK_P = 0x19,
    DIK_RETURN = 0x1C,
    DIK_A = 0x1E,
    DIK_S = 0x1F,
    DIK_D = 0x20,
    DIK_J = 0x24,
    DIK_L = 0x26,
    DIK_Z = 0x2C,
    DIK_X = 0x2D,
    DIK_C = 0x2E,
    DIK_B = 0x30,
    DIK_SPACE = 0x39,
    DIK_NUMPAD8 = 0x48,
    DIK_NUMPAD4 = 0x4B,
    DIK_NUMPAD6 = 0x4D,
    DIK_NUMPAD2 = 0x50,
    DIK_HOME = 0xC7,
    DIK_UP = 0xC8,
    DIK_PRIOR = 0xC9,   // Page Up
    DIK_LEFT = 0xCB,
    DIK_RIGHT = 0xCD,
    DIK_DOWN = 0xD0,
    DIK_NEXT = 0xD1,    // Page Down
};

int InitInput(void);
int EndInput(void);
int IsKeyDown(int scanCode);
int GetPadInput(int inputSource);
