// sdl2_internal.h: pieces of the SDL2 backends that their tests reach directly.
//
// No SDL types cross this header, so the tests need no SDL headers of their own.
// The functions after the first three live in sdl2_testing.cpp (target
// ravlin_sdl2_testing), linked only into tests.
#pragma once

#include <cstdint>

// Starts SDL subsystems that include video (refcounted, like SDL_InitSubSystem)
// on a real display only; 0 or -1. Every backend starts video through this.
int StartSdl2Video(uint32_t flags);

// Lets go of the video the media-layer gate kept started for the window class.
void ReleaseSdl2VideoHold(void);

// Held while a connection to the display is opened or closed: SDL's video
// start and end, GTK's start. GTK grabs the server while it opens its
// connection, and a connection opened meanwhile on another thread would hold
// Xlib's global lock while it waits for the server, which GTK needs to let go.
void LockDisplayConnections(void);
void UnlockDisplayConnections(void);
// SDL_QuitSubSystem for subsystems that include video, under that lock.
void QuitSdl2Video(uint32_t flags);

// The main window as an SDL_Window pointer, or null: the screen device draws
// through its surface.
void* GetSdl2MainWindow(void);

// DirectInput scan code of an SDL scancode; 0 for a key without one. With
// japaneseLayout set, the keys that a Japanese layout names ^ @ : get the
// DirectInput codes of those keys.
int MapSdl2ScancodeToDik(int scancode, int japaneseLayout);

// Reads the display connection into SDL's queue and key state, unless that was
// done less than a millisecond ago: a frame's message drain and key reads share
// one read (each costs several system calls on X11).
void PumpSdl2Events(void);

// Number of window events of the main window taken from SDL so far.
uint32_t GetSdl2WindowEventCount(void);

// SDL's id of the main window, 0 when there is none.
uint32_t GetSdl2MainWindowId(void);

// Number of SDL scancodes (the size of SDL's key-state array).
int GetSdl2ScancodeCount(void);
// SDL scancode of a key name as SDL spells it ("Right", "Keypad 6"); 0 if unknown.
int GetSdl2ScancodeByName(const char* name);
// 1 while SDL's video subsystem runs.
int IsSdl2VideoRunning(void);

// Puts a mouse event for the main window into SDL's queue, as the X server's
// would arrive: WM_MOUSEMOVE, WM_LBUTTONDOWN or WM_LBUTTONUP at x, y. 0 or -1.
int PushSdl2MouseEvent(uint32_t message, int x, int y);

// Puts a drop on the main window into SDL's queue, as the window system's
// would arrive: a file (its path) or, with text set, a piece of text. 0 or -1.
int PushSdl2DropEvent(int text, const char* data);

// A virtual joystick for the pad tests (needs the joystick subsystem, that is
// SDL2_INPUT_OPS.OpenInput). Returns its enumeration index, or -1.
int AttachSdl2VirtualPad(int axes, int buttons);
// Sets what the next read of the pad sees; 0 or -1.
int SetSdl2VirtualPadAxis(int index, int axis, int value);
int SetSdl2VirtualPadButton(int index, int button, int pressed);
// Unplugs it; 0 or -1.
int DetachSdl2VirtualPad(int index);

// One frame of plain SDL on the main window (fill black, show): the reference
// of the screen benchmark. 0 or -1.
int RunSdl2PlainFrame(void);
