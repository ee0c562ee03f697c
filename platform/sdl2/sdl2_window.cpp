// sdl2_window.cpp: the main window and its messages on SDL2.
//
// One SDL window stands for the library's main window. Its SDL events are
// translated into the window messages the library's window procedure knows
// and queued behind the messages the library posts itself, so that both
// arrive in order. The window class is SDL's video subsystem: registering the
// class starts it, unregistering stops it. Frames belong to the window manager
// (none at all under a bare X server), so frame sizes are whatever the manager
// reported last for the main window.
//
// The one-instance claim and the hand-over channel use no SDL: they are
// platform/unix/hand_over.cpp's, offered here as the window's operations.
#include <SDL.h>
#include <limits.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/utf8.h"
#include "platform/sdl2/sdl2_internal.h"
#include "platform/unix/hand_over.h"

namespace {

enum { TITLE_UTF8_SIZE = 1024 };  // bytes; a 255-byte Shift-JIS title needs at most 766

// SDL events are taken into the window's queue only while it holds fewer
// messages than this; the rest wait in SDL's own queue for the next peek.
enum { SDL_DRAIN_ROOM = 64 };

enum { DROPPED_PATH_SIZE = PATH_MAX };  // bytes, the zero byte included

struct Sdl2WindowState {
    SDL_Window* window;
    uint32_t windowId;       // SDL's id of the main window, 0 when there is none
    int classRegistered;     // the video subsystem is held for the class
    int bordered;            // the main window has the window manager's frame
    // Frame widths last reported by the window manager for a bordered window, pixels.
    int frameLeft, frameTop, frameRight, frameBottom;
    int clientWidth, clientHeight;  // client size last reported by WM_SIZE, pixels
    // Window events of the main window that reached SDL's queue so far (exposure,
    // moves, sizes, focus), counted as they arrive, whichever pump reads them (the
    // message drain's or a key read's): the screen re-sends a frame it would
    // otherwise skip after one.
    uint32_t windowEvents;
    // Desktop mode last seen, to notice a change.
    int haveDesktop;
    int desktopWidth, desktopHeight, desktopColorBits;
    // The last file dropped on the window, not yet taken.
    int hasDroppedFile;
    char droppedFile[DROPPED_PATH_SIZE];
};

Sdl2WindowState W = {};

// A dropped file is kept when it fits; a later drop replaces an earlier one.
void KeepDroppedFile(const char* file) {
    if (file == nullptr || file[0] != '/' || strlen(file) >= sizeof W.droppedFile) return;
    memcpy(W.droppedFile, file, strlen(file) + 1);
    W.hasDroppedFile = 1;
}

void ReadDisplayMode(int* width, int* height, int* colorBits, int* ok) {
    SDL_DisplayMode mode;
    *ok = SDL_GetDesktopDisplayMode(0, &mode) == 0;
    if (!*ok) return;
    *width = mode.w;
    *height = mode.h;
    // X11 stores depth 24 in 4 bytes per pixel: that is a 32-bit desktop.
    *colorBits = SDL_BYTESPERPIXEL(mode.format) * 8;
}

void RememberDesktop(void) {
    ReadDisplayMode(&W.desktopWidth, &W.desktopHeight, &W.desktopColorBits, &W.haveDesktop);
}

// Takes the frame widths the window manager reports now for the bordered main
// window; keeps the last known ones when it reports none.
void UpdateFrame(void) {
    if (W.window == nullptr || !W.bordered) return;
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(W.window, &top, &left, &bottom, &right) != 0) return;
    W.frameLeft = left;
    W.frameTop = top;
    W.frameRight = right;
    W.frameBottom = bottom;
}

// The frame around a client area: the last known one when bordered, else none.
PlatformRect FrameOf(int bordered) {
    if (!bordered) return PlatformRect{0, 0, 0, 0};
    return PlatformRect{W.frameLeft, W.frameTop, W.frameRight, W.frameBottom};
}

// A window rectangle less its frame: the client rectangle.
PlatformRect ClientOf(const PlatformRect& windowRect, int bordered) {
    PlatformRect frame = FrameOf(bordered);
    return PlatformRect{windowRect.left + frame.left, windowRect.top + frame.top,
                        windowRect.right - frame.right, windowRect.bottom - frame.bottom};
}

void GrowByFrame(PlatformRect* rect, int bordered) {
    PlatformRect frame = FrameOf(bordered);
    rect->left -= frame.left;
    rect->top -= frame.top;
    rect->right += frame.right;
    rect->bottom += frame.bottom;
}

void Post(uint32_t message, int64_t wParam, int64_t lParam) {
    PlatformMessage m = {message, wParam, lParam};
    PushPlatformMessage(MESSAGE_QUEUE_WINDOW, &m);
}

int64_t PackWords(int low, int high) {
    return (int64_t)(((uint32_t)low & 0xFFFF) | (((uint32_t)high & 0xFFFF) << 16));
}

void TranslateWindowEvent(const SDL_WindowEvent& event) {
    if (W.window == nullptr || event.windowID != W.windowId) return;
    switch (event.event) {
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            Post(WM_ACTIVATEAPP, 1, 0);
            Post(WM_ACTIVATE, 1, 0);
            break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            Post(WM_ACTIVATEAPP, 0, 0);
            Post(WM_ACTIVATE, 0, 0);
            break;
        case SDL_WINDOWEVENT_CLOSE:
            Post(WM_CLOSE, 0, 0);
            break;
        case SDL_WINDOWEVENT_MOVED:
            Post(WM_MOVE, 0, PackWords(event.data1, event.data2));
            break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            // Only a real change: the window procedure answers WM_SIZE with a
            // size request, and an echo of it would keep the pump busy forever.
            if (event.data1 == W.clientWidth && event.data2 == W.clientHeight) break;
            W.clientWidth = event.data1;
            W.clientHeight = event.data2;
            Post(WM_SIZE, 0, PackWords(event.data1, event.data2));
            break;
        default:
            break;
    }
}

uint32_t ButtonMessage(uint8_t button, int down) {
    switch (button) {
        case SDL_BUTTON_LEFT: return down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
        case SDL_BUTTON_RIGHT: return down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
        case SDL_BUTTON_MIDDLE: return down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
        default: return 0;
    }
}

// Moves pending SDL events into the window's message queue while it has room.
// Key and joystick events are dropped here: their state stays readable from SDL.
void DrainSdlEvents(void) {
    PumpSdl2Events();
    SDL_Event event;
    while (CountPlatformMessages(MESSAGE_QUEUE_WINDOW) < SDL_DRAIN_ROOM &&
           SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1) {
        switch (event.type) {
            case SDL_WINDOWEVENT:
                TranslateWindowEvent(event.window);
                break;
            case SDL_MOUSEMOTION:
                if (W.window != nullptr && event.motion.windowID == W.windowId) {
                    Post(WM_MOUSEMOVE, 0, PackWords(event.motion.x, event.motion.y));
                }
                break;
            case SDL_MOUSEBUTTONDOWN:
            case SDL_MOUSEBUTTONUP: {
                uint32_t message = ButtonMessage(event.button.button, event.type == SDL_MOUSEBUTTONDOWN);
                if (message != 0 && W.window != nullptr && event.button.windowID == W.windowId) {
                    Post(message, 0, PackWords(event.button.x, event.button.y));
                }
                break;
            }
            case SDL_DROPFILE:
                KeepDroppedFile(event.drop.file);
                SDL_free(event.drop.file);
                break;
            case SDL_DROPTEXT:
                SDL_free(event.drop.file);
                break;
            default:
                // SDL_QUIT included: the close button already came as a window event.
                break;
        }
    }
    int width, height, bits, ok;
    ReadDisplayMode(&width, &height, &bits, &ok);
    if (!ok) return;
    if (W.haveDesktop && (width != W.desktopWidth || height != W.desktopHeight || bits != W.desktopColorBits)) {
        Post(WM_DISPLAYCHANGE, bits, PackWords(width, height));
    }
    W.haveDesktop = 1;
    W.desktopWidth = width;
    W.desktopHeight = height;
    W.desktopColorBits = bits;
}

// Runs inside every SDL_PumpEvents as each event is queued.
int CountWindowEvent(void*, SDL_Event* event) {
    if (event->type == SDL_WINDOWEVENT && W.window != nullptr && event->window.windowID == W.windowId) W.windowEvents++;
    return 1;
}

}  // namespace

void PumpSdl2Events(void) {
    static uint64_t lastPump = 0;  // performance counter at the last pump, 0 = none yet
    uint64_t now = SDL_GetPerformanceCounter();
    if (lastPump != 0 && now - lastPump < SDL_GetPerformanceFrequency() / 1000) return;
    SDL_PumpEvents();
    lastPump = now;
}

uint32_t GetSdl2MainWindowId(void) { return W.windowId; }

uint32_t GetSdl2WindowEventCount(void) { return W.windowEvents; }

namespace {

// ---- Operations ----

int Sdl2TakeOpenedFile(char* path, int size) {
    if (W.hasDroppedFile) {
        W.hasDroppedFile = 0;
        if ((int)strlen(W.droppedFile) < size) {
            memcpy(path, W.droppedFile, strlen(W.droppedFile) + 1);
            return 1;
        }
    }
    return TakeHandedOverFile(path, size);
}

// Called before the class exists: holds the video subsystem just for the query.
int Sdl2GetDesktopMode(int* width, int* height, int* colorBits) {
    if (StartSdl2Video(SDL_INIT_VIDEO) != 0) return -1;
    int ok;
    ReadDisplayMode(width, height, colorBits, &ok);
    QuitSdl2Video(SDL_INIT_VIDEO);
    return ok ? 0 : -1;
}

int Sdl2RegisterWindowClass(const char*) {
    if (W.classRegistered) return -1;  // one class, registered once
    if (StartSdl2Video(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) return -1;
    ReleaseSdl2VideoHold();  // the class holds video now
    W.classRegistered = 1;
    SDL_AddEventWatch(CountWindowEvent, nullptr);
    RememberDesktop();
    return 0;
}

void Sdl2DestroyMainWindow(void) {
    if (W.window == nullptr) return;
    SDL_DestroyWindow(W.window);
    W.window = nullptr;
    W.windowId = 0;
    W.bordered = 0;
    // What was still queued for the window dies with it; a later window of
    // this process must not receive it.
    DropPlatformMessages(MESSAGE_QUEUE_WINDOW);
}

void Sdl2UnregisterWindowClass(const char*) {
    if (!W.classRegistered) return;
    // Stopping video would destroy the window behind our back.
    Sdl2DestroyMainWindow();
    SDL_DelEventWatch(CountWindowEvent, nullptr);
    QuitSdl2Video(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    W.classRegistered = 0;
    W.haveDesktop = 0;
}

void Sdl2AdjustWindowRect(PlatformRect* rect, int windowed, int) {
    // No menu bars on this platform, so no allowance for one.
    UpdateFrame();
    GrowByFrame(rect, windowed);
}

void ConvertTitle(const char* title, char* utf8) {
    ConvertTextToUtf8(title != nullptr ? title : "", utf8, TITLE_UTF8_SIZE);
}

int Sdl2CreateMainWindow(const char* title, int windowed, const PlatformRect* windowRect) {
    if (!W.classRegistered || W.window != nullptr) return -1;
    PlatformRect client = ClientOf(*windowRect, windowed);
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    if (width <= 0 || height <= 0) return -1;
    char utf8[TITLE_UTF8_SIZE];
    ConvertTitle(title, utf8);
    uint32_t flags = SDL_WINDOW_HIDDEN | (windowed ? 0 : SDL_WINDOW_BORDERLESS);
    W.window = SDL_CreateWindow(utf8, client.left, client.top, width, height, flags);
    if (W.window == nullptr) return -1;
    W.bordered = windowed != 0;
    W.windowId = SDL_GetWindowID(W.window);
    W.clientWidth = width;
    W.clientHeight = height;
    RememberDesktop();
    return 0;
}

void Sdl2ShowMainWindow(void) {
    if (W.window == nullptr) return;
    SDL_ShowWindow(W.window);
    // Let the server's answers (mapping, frame extents) arrive; the events stay
    // queued for the next message drain.
    SDL_PumpEvents();
    UpdateFrame();
}

void Sdl2SetWindowTitle(const char* title) {
    if (W.window == nullptr) return;
    char utf8[TITLE_UTF8_SIZE];
    ConvertTitle(title, utf8);
    SDL_SetWindowTitle(W.window, utf8);
}

int Sdl2GetClientRect(PlatformRect* rect) {
    if (W.window == nullptr) return -1;
    int x, y, width, height;
    SDL_GetWindowPosition(W.window, &x, &y);
    SDL_GetWindowSize(W.window, &width, &height);
    *rect = PlatformRect{x, y, x + width, y + height};
    return 0;
}

int Sdl2GetWindowRect(PlatformRect* rect) {
    if (Sdl2GetClientRect(rect) != 0) return -1;
    UpdateFrame();
    GrowByFrame(rect, W.bordered);
    return 0;
}

void Sdl2MoveMainWindow(const PlatformRect* windowRect) {
    if (W.window == nullptr) return;
    UpdateFrame();
    PlatformRect client = ClientOf(*windowRect, W.bordered);
    int x = client.left, y = client.top;
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    if (width <= 0 || height <= 0) return;
    // Unchanged values are not requested again: each request waits for the X
    // server's answer.
    int oldX, oldY, oldWidth, oldHeight;
    SDL_GetWindowSize(W.window, &oldWidth, &oldHeight);
    if (width != oldWidth || height != oldHeight) SDL_SetWindowSize(W.window, width, height);
    SDL_GetWindowPosition(W.window, &oldX, &oldY);
    if (x != oldX || y != oldY) SDL_SetWindowPosition(W.window, x, y);
}

void Sdl2SetWindowStyle(int windowed) {
    if (W.window == nullptr) return;
    SDL_SetWindowBordered(W.window, windowed ? SDL_TRUE : SDL_FALSE);
    W.bordered = windowed != 0;
}

void Sdl2RaiseMainWindow(void) {
    if (W.window == nullptr) return;
    SDL_RaiseWindow(W.window);
    // Without a window manager nobody hands the keyboard focus over on raising.
    SDL_SetWindowInputFocus(W.window);
}

void Sdl2SetCursorVisible(int visible) {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return;
    SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}

void Sdl2DisableIme(void) {
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) SDL_StopTextInput();
}

int Sdl2PeekMessage(int queue, PlatformMessage* message) {
    if (SDL_WasInit(SDL_INIT_EVENTS) != 0) DrainSdlEvents();
    return PopPlatformMessage(queue, message);
}

void Sdl2PostMessage(int queue, const PlatformMessage* message) { PushPlatformMessage(queue, message); }

}  // namespace

void* GetSdl2MainWindow(void) { return W.window; }

const PlatformWindowOps SDL2_WINDOW_OPS = {
    ClaimInstance, Sdl2GetDesktopMode, Sdl2RegisterWindowClass,
    Sdl2UnregisterWindowClass, Sdl2AdjustWindowRect, Sdl2CreateMainWindow,
    Sdl2DestroyMainWindow, Sdl2ShowMainWindow, Sdl2SetWindowTitle, Sdl2GetWindowRect,
    Sdl2GetClientRect, Sdl2MoveMainWindow, Sdl2SetWindowStyle, Sdl2RaiseMainWindow,
    Sdl2SetCursorVisible, Sdl2DisableIme, Sdl2PeekMessage, Sdl2PostMessage,
    HandOverFileToInstance, Sdl2TakeOpenedFile,
};
