// sdl2_input.cpp: keyboard and joypads on SDL2.
//
// The keyboard is SDL's key state of the focused window, re-indexed by
// DirectInput scan codes through one table (SDL scancodes are positions on a
// USB keyboard, DirectInput codes positions on a PC/AT one). Joypads are SDL
// joysticks, opened by their enumeration index.
#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/sdl2/sdl2_internal.h"

namespace {

enum { MAX_PADS = 16 };  // enumeration indexes the library may open

struct KeyMapping {
    SDL_Scancode scancode;
    uint8_t dik;  // DirectInput scan code
};

// Every key of the 101/104 and 106/109 keyboards, the numeric pad, F1-F15, the
// Japanese keys and the common media keys. Each DirectInput code appears once.
const KeyMapping KEY_TABLE[] = {
    {SDL_SCANCODE_ESCAPE, 0x01},
    {SDL_SCANCODE_1, 0x02}, {SDL_SCANCODE_2, 0x03}, {SDL_SCANCODE_3, 0x04}, {SDL_SCANCODE_4, 0x05},
    {SDL_SCANCODE_5, 0x06}, {SDL_SCANCODE_6, 0x07}, {SDL_SCANCODE_7, 0x08}, {SDL_SCANCODE_8, 0x09},
    {SDL_SCANCODE_9, 0x0A}, {SDL_SCANCODE_0, 0x0B},
    {SDL_SCANCODE_MINUS, 0x0C}, {SDL_SCANCODE_EQUALS, 0x0D}, {SDL_SCANCODE_BACKSPACE, 0x0E},
    {SDL_SCANCODE_TAB, 0x0F},
    {SDL_SCANCODE_Q, 0x10}, {SDL_SCANCODE_W, 0x11}, {SDL_SCANCODE_E, 0x12}, {SDL_SCANCODE_R, 0x13},
    {SDL_SCANCODE_T, 0x14}, {SDL_SCANCODE_Y, 0x15}, {SDL_SCANCODE_U, 0x16}, {SDL_SCANCODE_I, 0x17},
    {SDL_SCANCODE_O, 0x18}, {SDL_SCANCODE_P, 0x19},
    {SDL_SCANCODE_LEFTBRACKET, 0x1A}, {SDL_SCANCODE_RIGHTBRACKET, 0x1B}, {SDL_SCANCODE_RETURN, 0x1C},
    {SDL_SCANCODE_LCTRL, 0x1D},
    {SDL_SCANCODE_A, 0x1E}, {SDL_SCANCODE_S, 0x1F}, {SDL_SCANCODE_D, 0x20}, {SDL_SCANCODE_F, 0x21},
    {SDL_SCANCODE_G, 0x22}, {SDL_SCANCODE_H, 0x23}, {SDL_SCANCODE_J, 0x24}, {SDL_SCANCODE_K, 0x25},
    {SDL_SCANCODE_L, 0x26},
    {SDL_SCANCODE_SEMICOLON, 0x27}, {SDL_SCANCODE_APOSTROPHE, 0x28}, {SDL_SCANCODE_GRAVE, 0x29},
    {SDL_SCANCODE_LSHIFT, 0x2A}, {SDL_SCANCODE_BACKSLASH, 0x2B},
    {SDL_SCANCODE_Z, 0x2C}, {SDL_SCANCODE_X, 0x2D}, {SDL_SCANCODE_C, 0x2E}, {SDL_SCANCODE_V, 0x2F},
    {SDL_SCANCODE_B, 0x30}, {SDL_SCANCODE_N, 0x31}, {SDL_SCANCODE_M, 0x32},
    {SDL_SCANCODE_COMMA, 0x33}, {SDL_SCANCODE_PERIOD, 0x34}, {SDL_SCANCODE_SLASH, 0x35},
    {SDL_SCANCODE_RSHIFT, 0x36}, {SDL_SCANCODE_KP_MULTIPLY, 0x37}, {SDL_SCANCODE_LALT, 0x38},
    {SDL_SCANCODE_SPACE, 0x39}, {SDL_SCANCODE_CAPSLOCK, 0x3A},
    {SDL_SCANCODE_F1, 0x3B}, {SDL_SCANCODE_F2, 0x3C}, {SDL_SCANCODE_F3, 0x3D}, {SDL_SCANCODE_F4, 0x3E},
    {SDL_SCANCODE_F5, 0x3F}, {SDL_SCANCODE_F6, 0x40}, {SDL_SCANCODE_F7, 0x41}, {SDL_SCANCODE_F8, 0x42},
    {SDL_SCANCODE_F9, 0x43}, {SDL_SCANCODE_F10, 0x44},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x45}, {SDL_SCANCODE_SCROLLLOCK, 0x46},
    {SDL_SCANCODE_KP_7, 0x47}, {SDL_SCANCODE_KP_8, 0x48}, {SDL_SCANCODE_KP_9, 0x49},
    {SDL_SCANCODE_KP_MINUS, 0x4A},
    {SDL_SCANCODE_KP_4, 0x4B}, {SDL_SCANCODE_KP_5, 0x4C}, {SDL_SCANCODE_KP_6, 0x4D},
    {SDL_SCANCODE_KP_PLUS, 0x4E},
    {SDL_SCANCODE_KP_1, 0x4F}, {SDL_SCANCODE_KP_2, 0x50}, {SDL_SCANCODE_KP_3, 0x51},
    {SDL_SCANCODE_KP_0, 0x52}, {SDL_SCANCODE_KP_PERIOD, 0x53},
    {SDL_SCANCODE_NONUSBACKSLASH, 0x56},  // OEM_102: the extra key of European keyboards
    {SDL_SCANCODE_F11, 0x57}, {SDL_SCANCODE_F12, 0x58},
    {SDL_SCANCODE_F13, 0x64}, {SDL_SCANCODE_F14, 0x65}, {SDL_SCANCODE_F15, 0x66},
    // Japanese keys: katakana/hiragana, ro (the ABNT_C1 position), henkan,
    // muhenkan, yen, hankaku/zenkaku.
    {SDL_SCANCODE_INTERNATIONAL2, 0x70}, {SDL_SCANCODE_INTERNATIONAL1, 0x73},
    {SDL_SCANCODE_INTERNATIONAL4, 0x79}, {SDL_SCANCODE_INTERNATIONAL5, 0x7B},
    {SDL_SCANCODE_INTERNATIONAL3, 0x7D}, {SDL_SCANCODE_LANG5, 0x94},
    {SDL_SCANCODE_KP_EQUALS, 0x8D},
    // 0x90 (previous track) stays free: it is also the Japanese ^ key.
    {SDL_SCANCODE_STOP, 0x95},
    {SDL_SCANCODE_AUDIONEXT, 0x99},
    {SDL_SCANCODE_KP_ENTER, 0x9C}, {SDL_SCANCODE_RCTRL, 0x9D},
    {SDL_SCANCODE_MUTE, 0xA0}, {SDL_SCANCODE_CALCULATOR, 0xA1}, {SDL_SCANCODE_AUDIOPLAY, 0xA2},
    {SDL_SCANCODE_AUDIOSTOP, 0xA4}, {SDL_SCANCODE_VOLUMEDOWN, 0xAE}, {SDL_SCANCODE_VOLUMEUP, 0xB0},
    {SDL_SCANCODE_AC_HOME, 0xB2},
    {SDL_SCANCODE_KP_COMMA, 0xB3}, {SDL_SCANCODE_KP_DIVIDE, 0xB5}, {SDL_SCANCODE_PRINTSCREEN, 0xB7},
    {SDL_SCANCODE_RALT, 0xB8}, {SDL_SCANCODE_PAUSE, 0xC5},
    {SDL_SCANCODE_HOME, 0xC7}, {SDL_SCANCODE_UP, 0xC8}, {SDL_SCANCODE_PAGEUP, 0xC9},
    {SDL_SCANCODE_LEFT, 0xCB}, {SDL_SCANCODE_RIGHT, 0xCD}, {SDL_SCANCODE_END, 0xCF},
    {SDL_SCANCODE_DOWN, 0xD0}, {SDL_SCANCODE_PAGEDOWN, 0xD1}, {SDL_SCANCODE_INSERT, 0xD2},
    {SDL_SCANCODE_DELETE, 0xD3},
    {SDL_SCANCODE_LGUI, 0xDB}, {SDL_SCANCODE_RGUI, 0xDC}, {SDL_SCANCODE_APPLICATION, 0xDD},
    {SDL_SCANCODE_POWER, 0xDE}, {SDL_SCANCODE_SLEEP, 0xDF},
    {SDL_SCANCODE_AC_SEARCH, 0xE5}, {SDL_SCANCODE_AC_BOOKMARKS, 0xE6}, {SDL_SCANCODE_AC_REFRESH, 0xE7},
    {SDL_SCANCODE_AC_STOP, 0xE8}, {SDL_SCANCODE_AC_FORWARD, 0xE9}, {SDL_SCANCODE_AC_BACK, 0xEA},
    {SDL_SCANCODE_COMPUTER, 0xEB}, {SDL_SCANCODE_MAIL, 0xEC}, {SDL_SCANCODE_MEDIASELECT, 0xED},
};

enum { KEY_TABLE_SIZE = sizeof KEY_TABLE / sizeof KEY_TABLE[0] };

// On a Japanese layout three keys have DirectInput codes of their own, though
// they sit where the US keyboard has = [ and '.
const KeyMapping JAPANESE_KEYS[] = {
    {SDL_SCANCODE_EQUALS, 0x90},       // ^ (CIRCUMFLEX)
    {SDL_SCANCODE_LEFTBRACKET, 0x91},  // @ (AT)
    {SDL_SCANCODE_APOSTROPHE, 0x92},   // : (COLON)
};

struct Sdl2InputState {
    int joystickOpen;                 // the joystick subsystem is held
    SDL_Joystick* pads[MAX_PADS];     // by enumeration index; null when closed
};

Sdl2InputState I;

// The keymap of the X server tells the layout: ^ on the key right of 0.
int Sdl2IsJapaneseLayout(void) {
    return SDL_GetKeyFromScancode(SDL_SCANCODE_EQUALS) == SDLK_CARET &&
           SDL_GetKeyFromScancode(SDL_SCANCODE_LEFTBRACKET) == SDLK_AT;
}

int Sdl2OpenInput(void) {
    if (I.joystickOpen) return 0;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Pads keep reporting while another window has the focus, as the keyboard
    // device of the library is set to background access too.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return -1;
    I.joystickOpen = 1;
    return 0;
}

void Sdl2ClosePad(int index) {
    if (index < 0 || index >= MAX_PADS || I.pads[index] == nullptr) return;
    SDL_JoystickClose(I.pads[index]);
    I.pads[index] = nullptr;
}

void Sdl2CloseInput(void) {
    if (!I.joystickOpen) return;
    for (int i = 0; i < MAX_PADS; i++) Sdl2ClosePad(i);
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    I.joystickOpen = 0;
}

// Key state exists only where SDL's video runs.
int Sdl2OpenKeyboard(void) { return SDL_WasInit(SDL_INIT_VIDEO) != 0 ? KEYBOARD_OK : KEYBOARD_ERROR_CREATE; }

void Sdl2CloseKeyboard(void) {}

int Sdl2ReadKeyboard(uint8_t state[256]) {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return -1;
    // Brings the key state up to date; the events stay queued for the message drain.
    PumpSdl2Events();
    int count = 0;
    const Uint8* keys = SDL_GetKeyboardState(&count);
    int japanese = Sdl2IsJapaneseLayout();
    memset(state, 0, 256);
    for (int i = 0; i < KEY_TABLE_SIZE; i++) {
        const KeyMapping& key = KEY_TABLE[i];
        if (key.scancode < count && keys[key.scancode]) state[key.dik] = 0x80;
    }
    if (japanese) {
        for (const KeyMapping& key : JAPANESE_KEYS) {
            state[MapSdl2ScancodeToDik(key.scancode, 0)] = 0;
            if (key.scancode < count && keys[key.scancode]) state[key.dik] = 0x80;
        }
    }
    return 0;
}

int Sdl2GetPadDeviceCount(void) {
    if (!I.joystickOpen) return 0;
    int count = SDL_NumJoysticks();
    return count < 0 ? 0 : count;
}

int Sdl2OpenPad(int index, char* instanceName, char* productName, int nameSize) {
    if (nameSize > 0) instanceName[0] = productName[0] = '\0';
    if (!I.joystickOpen || index < 0 || index >= MAX_PADS) return PAD_SETUP_ERROR_OPEN;
    Sdl2ClosePad(index);
    const char* name = SDL_JoystickNameForIndex(index);
    if (name == nullptr) name = "";
    // The log keeps Shift-JIS; SDL names are UTF-8.
    ConvertUtf8ToSjis(name, instanceName, nameSize);
    ConvertUtf8ToSjis(name, productName, nameSize);
    I.pads[index] = SDL_JoystickOpen(index);
    return I.pads[index] != nullptr ? PAD_SETUP_OK : PAD_SETUP_ERROR_OPEN;
}

SDL_Joystick* Sdl2FindPad(int index) {
    if (index < 0 || index >= MAX_PADS) return nullptr;
    return I.pads[index];
}

int Sdl2ReadPad(int index, PlatformPadState* state) {
    SDL_Joystick* pad = Sdl2FindPad(index);
    if (pad == nullptr) return -1;
    SDL_JoystickUpdate();
    if (!SDL_JoystickGetAttached(pad)) return -1;
    int axes = SDL_JoystickNumAxes(pad);
    int buttons = SDL_JoystickNumButtons(pad);
    state->x = axes > 0 ? SDL_JoystickGetAxis(pad, 0) : 0;
    state->y = axes > 1 ? SDL_JoystickGetAxis(pad, 1) : 0;
    for (int i = 0; i < PLATFORM_PAD_BUTTONS; i++) {
        state->buttons[i] = i < buttons && SDL_JoystickGetButton(pad, i) ? 0x80 : 0;
    }
    return 0;
}

// A pad that is still plugged in needs nothing to be read again.
int Sdl2ReacquirePad(int index) {
    SDL_Joystick* pad = Sdl2FindPad(index);
    return pad != nullptr && SDL_JoystickGetAttached(pad) ? 0 : -1;
}

}  // namespace

int MapSdl2ScancodeToDik(int scancode, int japaneseLayout) {
    if (japaneseLayout) {
        for (const KeyMapping& key : JAPANESE_KEYS) {
            if (key.scancode == scancode) return key.dik;
        }
    }
    for (int i = 0; i < KEY_TABLE_SIZE; i++) {
        if (KEY_TABLE[i].scancode == scancode) return KEY_TABLE[i].dik;
    }
    return 0;
}

const PlatformInputOps SDL2_INPUT_OPS = {
    Sdl2OpenInput, Sdl2CloseInput, Sdl2OpenKeyboard, Sdl2CloseKeyboard, Sdl2ReadKeyboard,
    Sdl2GetPadDeviceCount, Sdl2OpenPad, Sdl2ClosePad, Sdl2ReadPad, Sdl2ReacquirePad,
};
