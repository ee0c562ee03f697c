// sdl2_testing.cpp: test hooks into SDL for the tests of the SDL2 backends.
//
// A virtual joystick stands in for a joypad; key names give scancodes; mouse
// events can be queued as if the X server had sent them.
#include <SDL.h>

#include "platform/platform.h"
#include "platform/sdl2/sdl2_internal.h"

namespace {

enum { MAX_VIRTUAL_PADS = 8 };

// Handles the tests hold on their virtual pads, to set their values.
SDL_Joystick* VIRTUAL_PADS[MAX_VIRTUAL_PADS];

SDL_Joystick* FindVirtualPad(int index) {
    if (index < 0 || index >= MAX_VIRTUAL_PADS) return nullptr;
    return VIRTUAL_PADS[index];
}

}  // namespace

int GetSdl2ScancodeCount(void) { return SDL_NUM_SCANCODES; }

int GetSdl2ScancodeByName(const char* name) {
    SDL_Scancode scancode = SDL_GetScancodeFromName(name);
    return scancode == SDL_SCANCODE_UNKNOWN ? 0 : (int)scancode;
}

int IsSdl2VideoRunning(void) { return SDL_WasInit(SDL_INIT_VIDEO) != 0; }

int PushSdl2MouseEvent(uint32_t message, int x, int y) {
    SDL_Event event;
    SDL_zero(event);
    if (message == WM_MOUSEMOVE) {
        event.type = SDL_MOUSEMOTION;
        event.motion.windowID = GetSdl2MainWindowId();
        event.motion.x = x;
        event.motion.y = y;
    } else if (message == WM_LBUTTONDOWN || message == WM_LBUTTONUP) {
        event.type = message == WM_LBUTTONDOWN ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        event.button.windowID = GetSdl2MainWindowId();
        event.button.button = SDL_BUTTON_LEFT;
        event.button.x = x;
        event.button.y = y;
    } else {
        return -1;
    }
    return SDL_PushEvent(&event) == 1 ? 0 : -1;
}

int PushSdl2DropEvent(int text, const char* data) {
    SDL_Event event;
    SDL_zero(event);
    event.type = text ? SDL_DROPTEXT : SDL_DROPFILE;
    event.drop.windowID = GetSdl2MainWindowId();
    // Whoever takes the event frees this, as with SDL's own drops.
    event.drop.file = SDL_strdup(data);
    if (SDL_PushEvent(&event) == 1) return 0;
    SDL_free(event.drop.file);
    return -1;
}

int AttachSdl2VirtualPad(int axes, int buttons) {
    int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, axes, buttons, 0);
    if (index < 0 || index >= MAX_VIRTUAL_PADS) return -1;
    VIRTUAL_PADS[index] = SDL_JoystickOpen(index);
    return VIRTUAL_PADS[index] != nullptr ? index : -1;
}

int SetSdl2VirtualPadAxis(int index, int axis, int value) {
    SDL_Joystick* pad = FindVirtualPad(index);
    return pad != nullptr && SDL_JoystickSetVirtualAxis(pad, axis, (Sint16)value) == 0 ? 0 : -1;
}

int SetSdl2VirtualPadButton(int index, int button, int pressed) {
    SDL_Joystick* pad = FindVirtualPad(index);
    return pad != nullptr && SDL_JoystickSetVirtualButton(pad, button, pressed ? 1 : 0) == 0 ? 0 : -1;
}

int DetachSdl2VirtualPad(int index) {
    SDL_Joystick* pad = FindVirtualPad(index);
    if (pad == nullptr) return -1;
    SDL_JoystickClose(pad);
    VIRTUAL_PADS[index] = nullptr;
    return SDL_JoystickDetachVirtual(index) == 0 ? 0 : -1;
}

// The plain SDL frame the screen's own is measured against: the main window's
// surface filled black and shown whole.
int RunSdl2PlainFrame(void) {
    SDL_Window* window = (SDL_Window*)GetSdl2MainWindow();
    if (window == nullptr) return -1;
    SDL_Surface* surface = SDL_GetWindowSurface(window);
    if (surface == nullptr) return -1;
    SDL_FillRect(surface, nullptr, 0);
    return SDL_UpdateWindowSurface(window) == 0 ? 0 : -1;
}
