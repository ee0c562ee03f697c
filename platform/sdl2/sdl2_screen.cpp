// sdl2_screen.cpp: the display device on SDL2, drawn through the main
// window's surface.
//
// Every surface is an SDL_Surface in the screen's pixel format, blended never
// (colours packed by the library carry alpha 0). The primary surface stands for
// the desktop: its rectangles are in desktop coordinates, moved by the client
// area's origin and cut to the window, and what is touched is shown at once.
//
// X cannot change its depth and Xvfb cannot change its size, so a full-screen
// mode is emulated: the window is put borderless at 0,0 in the asked size (up
// to the desktop's), the primary is a shadow surface of the asked depth, and
// every change of the shadow is converted into the window. Off-screen surfaces
// live in system memory: a request for video memory is refused.
#include <SDL.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/screen_device.h"
#include "platform/sdl2/sdl2_internal.h"

namespace {

enum { DEFAULT_REFRESH_HZ = 60 };

struct Sdl2ScreenState {
    int device;
    int clipper;
    int level;
    int modeSet;                 // an emulated full-screen mode is in force
    int modeWidth, modeHeight, modeBits;
    SDL_Palette* palette;
    // The last frame copied whole into the window surface and sent: a frame
    // equal to it is not sent again while the server still shows it, that is
    // until a window event (exposure, move, size, focus) or another surface.
    SDL_Surface* sentSurface;    // null: nothing sent this way yet
    SDL_Rect sentRect;           // window-surface pixels
    uint32_t sentWindowEvents;   // window events counted at that send
};

Sdl2ScreenState S = {};

// The backend object behind a ScreenSurface.
struct Sdl2Surface {
    SDL_Surface* surface;        // null for a windowed primary (the window surface is fetched per use)
    ScreenSurface* attached;     // back buffer of a flipping chain
    // The window surface as last restored: a change of pointer or size is a loss.
    SDL_Surface* seenWindowSurface;
    int seenWidth, seenHeight;
};

SDL_Window* MainWindow(void) { return (SDL_Window*)GetSdl2MainWindow(); }

Sdl2Surface* Native(ScreenSurface* s) { return (Sdl2Surface*)s->native; }

uint32_t FormatOfBits(int bits) {
    switch (bits) {
    case 8: return SDL_PIXELFORMAT_INDEX8;
    case 16: return SDL_PIXELFORMAT_RGB565;
    case 32: return SDL_PIXELFORMAT_RGB888;
    default: return SDL_PIXELFORMAT_UNKNOWN;
    }
}

SDL_Surface* WindowSurface(void) {
    SDL_Window* window = MainWindow();
    return window != nullptr ? SDL_GetWindowSurface(window) : nullptr;
}

// The format every surface is made in: the emulated mode's, else the window's,
// else the desktop's.
uint32_t DisplayFormat(void) {
    if (S.modeSet) return FormatOfBits(S.modeBits);
    SDL_Surface* window = WindowSurface();
    if (window != nullptr) return window->format->format;
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return SDL_PIXELFORMAT_UNKNOWN;
    return mode.format;
}

int64_t MonotonicNanoseconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
}

SDL_Surface* NewSdlSurface(int width, int height) {
    uint32_t format = DisplayFormat();
    if (format == SDL_PIXELFORMAT_UNKNOWN || width <= 0 || height <= 0) return nullptr;
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, width, height, SDL_BITSPERPIXEL(format), format);
    if (s == nullptr) return nullptr;
    SDL_SetSurfaceBlendMode(s, SDL_BLENDMODE_NONE);
    if (s->format->palette != nullptr && S.palette != nullptr) SDL_SetSurfacePalette(s, S.palette);
    return s;
}

ScreenSurface* Wrap(SDL_Surface* sdl, int width, int height, uint32_t caps, int primary) {
    ScreenSurface* s = new ScreenSurface{width, height, caps, primary, nullptr};
    s->native = new Sdl2Surface{sdl, nullptr, nullptr, 0, 0};
    return s;
}

void ForgetSurface(ScreenSurface* s) {
    if (s == nullptr) return;
    Sdl2Surface* n = Native(s);
    if (n->surface != nullptr) SDL_FreeSurface(n->surface);
    delete n;
    delete s;
}

// The memory a primary draws into and the origin of that memory in desktop
// coordinates: the window surface at the client position, or the shadow at 0,0.
SDL_Surface* PrimaryTarget(ScreenSurface* primary, int* originX, int* originY) {
    Sdl2Surface* n = Native(primary);
    *originX = 0;
    *originY = 0;
    if (n->surface != nullptr) return n->surface;
    SDL_Window* window = MainWindow();
    if (window == nullptr) return nullptr;
    SDL_GetWindowPosition(window, originX, originY);
    return SDL_GetWindowSurface(window);
}

// Shows a rectangle of the primary's memory (memory coordinates).
void ShowPrimary(ScreenSurface* primary, const SDL_Rect* touched) {
    SDL_Window* window = MainWindow();
    if (window == nullptr || touched->w <= 0 || touched->h <= 0) return;
    Sdl2Surface* n = Native(primary);
    if (n->surface == nullptr) {
        SDL_UpdateWindowSurfaceRects(window, touched, 1);
        return;
    }
    // Emulated full screen: the shadow is converted into the window.
    SDL_Surface* out = SDL_GetWindowSurface(window);
    if (out == nullptr) return;
    SDL_Rect to = *touched;
    SDL_SetSurfaceBlendMode(out, SDL_BLENDMODE_NONE);
    SDL_BlitSurface(n->surface, touched, out, &to);
    SDL_UpdateWindowSurfaceRects(window, &to, 1);
}

// Fills a rectangle already cut to the surface. A colour whose bytes are all
// alike (the clear's 0) is written row by row with memset, which keeps the rows
// in the cache for the present that follows; other colours go to SDL_FillRect.
int FillRows(SDL_Surface* s, const SDL_Rect* r, uint32_t color) {
    int bytes = s->format->BytesPerPixel;
    uint32_t used = bytes >= 4 ? 0xFFFFFFFFu : (1u << (bytes * 8)) - 1;
    uint32_t repeated = (color & 0xFF) * (0x01010101u & used);
    if ((color & used) != repeated || SDL_MUSTLOCK(s)) return SDL_FillRect(s, r, color) == 0 ? 0 : -1;
    uint8_t* row = (uint8_t*)s->pixels + (size_t)r->y * s->pitch + (size_t)r->x * bytes;
    size_t length = (size_t)r->w * bytes;
    if (r->x == 0 && length == (size_t)s->pitch) {
        memset(row, (int)(color & 0xFF), length * r->h);
        return 0;
    }
    for (int y = 0; y < r->h; y++, row += s->pitch) memset(row, (int)(color & 0xFF), length);
    return 0;
}

// Intersects rect with 0,0,w,h; 0 when nothing is left.
int CutTo(SDL_Rect* rect, int w, int h) {
    SDL_Rect whole = {0, 0, w, h};
    SDL_Rect cut;
    if (!SDL_IntersectRect(rect, &whole, &cut)) return 0;
    *rect = cut;
    return 1;
}

// ---- Operations ----

int Sdl2CreateDevice(void) {
    if (S.device) return -1;
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return -1;
    // Without this SDL shows the window surface through a GL texture in
    // XRGB8888 even on a 16-bit desktop.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    S = Sdl2ScreenState{};
    S.device = 1;
    S.level = DDSCL_NORMAL;
    return 0;
}

void Sdl2ReleaseDevice(void) {
    if (S.palette != nullptr) SDL_FreePalette(S.palette);
    S = Sdl2ScreenState{};
}

int Sdl2GetDeviceIdentifier(PlatformDeviceIdentifier* id) {
    if (!S.device) return -1;
    const char* driver = SDL_GetCurrentVideoDriver();
    snprintf(id->driver, sizeof id->driver, "%s", driver != nullptr ? driver : "");
    SDL_version v;
    SDL_GetVersion(&v);
    snprintf(id->description, sizeof id->description, "SDL %d.%d.%d window surface", v.major, v.minor, v.patch);
    id->version[0] = v.major;
    id->version[1] = v.minor;
    id->version[2] = v.patch;
    id->version[3] = 0;
    return 0;
}

// Nothing lives in video memory here.
int Sdl2GetVideoMemory(uint32_t* total, uint32_t* freeBytes) {
    *total = 0;
    *freeBytes = 0;
    return S.device ? 0 : -1;
}

int Sdl2IsNonConvertKeyHeld(void) {
    int count = 0;
    const uint8_t* keys = SDL_GetKeyboardState(&count);
    return keys != nullptr && SDL_SCANCODE_INTERNATIONAL5 < count && keys[SDL_SCANCODE_INTERNATIONAL5];
}

int Sdl2CreateClipper(void) {
    if (!S.device || MainWindow() == nullptr) return -1;
    S.clipper = 1;
    return 0;
}
void Sdl2ReleaseClipper(void) { S.clipper = 0; }
// Output onto the primary is always cut to the window: nothing else is ours to draw on.
void Sdl2SetClipper(ScreenSurface*, int) {}

uint32_t Sdl2SetCooperativeLevel(int level) {
    if (!S.device || MainWindow() == nullptr) return 0x80004005;  // unspecified failure
    S.level = level;
    return 0;
}

int DisplayRefreshRate(void) {
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0 || mode.refresh_rate <= 0) return 0;
    return mode.refresh_rate;
}

int Sdl2SetDisplayMode(int width, int height, int bits, int refreshRate) {
    SDL_Window* window = MainWindow();
    if (!S.device || window == nullptr || !(S.level & DDSCL_EXCLUSIVE)) return -1;
    if (FormatOfBits(bits) == SDL_PIXELFORMAT_UNKNOWN) return -1;   // 24 bits among them
    if (refreshRate != 0 && refreshRate != DisplayRefreshRate()) return -1;
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0) return -1;
    if (width <= 0 || height <= 0 || width > desktop.w || height > desktop.h) return -1;
    SDL_SetWindowBordered(window, SDL_FALSE);
    SDL_SetWindowSize(window, width, height);
    SDL_SetWindowPosition(window, 0, 0);
    S.modeSet = 1;
    S.modeWidth = width;
    S.modeHeight = height;
    S.modeBits = bits;
    return 0;
}

void Sdl2RestoreDisplayMode(void) { S.modeSet = 0; }

int Sdl2GetDisplayMode(PlatformPixelFormat* format) {
    uint32_t f = DisplayFormat();
    if (f == SDL_PIXELFORMAT_UNKNOWN) return -1;
    int bpp = 0;
    uint32_t r = 0, g = 0, b = 0, a = 0;
    if (!SDL_PixelFormatEnumToMasks(f, &bpp, &r, &g, &b, &a)) return -1;
    // Bytes per pixel decide: RGB888 says 24 bits and RGB555 15.
    *format = PlatformPixelFormat{(int)SDL_BYTESPERPIXEL(f) * 8, r, g, b, a};
    return 0;
}

int Sdl2GetDesktopDepth(void) {
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return 0;
    return SDL_BYTESPERPIXEL(mode.format) * 8;
}

ScreenSurface* Sdl2CreatePrimarySurface(uint32_t caps, int backBuffers) {
    SDL_Window* window = MainWindow();
    if (!S.device || window == nullptr) return nullptr;
    caps = (caps & ~DDSCAPS_VIDEOMEMORY) | DDSCAPS_SYSTEMMEMORY;
    if (S.modeSet) {
        SDL_Surface* shadow = NewSdlSurface(S.modeWidth, S.modeHeight);
        if (shadow == nullptr) return nullptr;
        ScreenSurface* primary = Wrap(shadow, S.modeWidth, S.modeHeight, caps, 1);
        if (backBuffers > 0) {
            SDL_Surface* back = NewSdlSurface(S.modeWidth, S.modeHeight);
            if (back == nullptr) {
                ForgetSurface(primary);
                return nullptr;
            }
            Native(primary)->attached =
                Wrap(back, S.modeWidth, S.modeHeight, (caps & ~DDSCAPS_PRIMARYSURFACE) | DDSCAPS_BACKBUFFER, 0);
        }
        return primary;
    }
    if (backBuffers > 0) return nullptr;  // a flipping chain needs full screen
    SDL_Surface* ws = SDL_GetWindowSurface(window);
    if (ws == nullptr) return nullptr;
    ScreenSurface* primary = Wrap(nullptr, ws->w, ws->h, caps, 1);
    Native(primary)->seenWindowSurface = ws;
    Native(primary)->seenWidth = ws->w;
    Native(primary)->seenHeight = ws->h;
    return primary;
}

ScreenSurface* Sdl2GetAttachedBackBuffer(ScreenSurface* primary) {
    return primary != nullptr ? Native(primary)->attached : nullptr;
}

ScreenSurface* Sdl2CreateSurface(int width, int height, uint32_t caps) {
    if (!S.device || (caps & DDSCAPS_VIDEOMEMORY)) return nullptr;
    SDL_Surface* s = NewSdlSurface(width, height);
    if (s == nullptr) return nullptr;
    return Wrap(s, width, height, caps | DDSCAPS_SYSTEMMEMORY, 0);
}

void Sdl2ReleaseSurface(ScreenSurface* s) {
    if (s == nullptr) return;
    ForgetSurface(Native(s)->attached);
    ForgetSurface(s);
}

uint32_t Sdl2GetSurfaceCaps(ScreenSurface* s) { return s != nullptr ? s->caps : 0; }

int Sdl2SetColorKey(ScreenSurface* s, uint32_t key) {
    if (s == nullptr || Native(s)->surface == nullptr) return -1;
    return SDL_SetColorKey(Native(s)->surface, SDL_TRUE, key) == 0 ? 0 : -1;
}

int Sdl2IsSurfaceLost(ScreenSurface* s) {
    if (s == nullptr || !s->primary || Native(s)->surface != nullptr) return 0;
    SDL_Surface* ws = WindowSurface();
    Sdl2Surface* n = Native(s);
    return ws == nullptr || ws != n->seenWindowSurface || ws->w != n->seenWidth || ws->h != n->seenHeight;
}

int Sdl2RestoreSurface(ScreenSurface* s) {
    if (s == nullptr || !s->primary || Native(s)->surface != nullptr) return 0;
    SDL_Surface* ws = WindowSurface();
    if (ws == nullptr) return -1;
    Native(s)->seenWindowSurface = ws;
    Native(s)->seenWidth = ws->w;
    Native(s)->seenHeight = ws->h;
    s->width = ws->w;
    s->height = ws->h;
    return 0;
}

int Sdl2Fill(ScreenSurface* s, const PlatformRect* rect, uint32_t color) {
    if (s == nullptr) return -1;
    if (!s->primary) {
        SDL_Surface* surface = Native(s)->surface;
        SDL_Rect r = {0, 0, surface->w, surface->h};
        if (rect != nullptr) r = SDL_Rect{rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top};
        if (!CutTo(&r, surface->w, surface->h)) return 0;
        return FillRows(surface, &r, color);
    }
    int ox, oy;
    SDL_Surface* target = PrimaryTarget(s, &ox, &oy);
    if (target == nullptr) return -1;
    SDL_Rect r = {0, 0, target->w, target->h};
    if (rect != nullptr) r = SDL_Rect{rect->left - ox, rect->top - oy, rect->right - rect->left, rect->bottom - rect->top};
    if (!CutTo(&r, target->w, target->h)) return 0;
    int result = FillRows(target, &r, color);
    ShowPrimary(s, &r);
    return result;
}

int RowsEqual(const uint8_t* a, int pitchA, const uint8_t* b, int pitchB, size_t length, int rows) {
    for (int row = 0; row < rows; row++, a += pitchA, b += pitchB) {
        if (memcmp(a, b, length) != 0) return 0;
    }
    return 1;
}

int Sdl2Blit(ScreenSurface* dst, int dstX, int dstY, ScreenSurface* src, const PlatformRect* srcRect, int useKey) {
    if (dst == nullptr || src == nullptr || src->primary) return -1;
    SDL_Surface* from = Native(src)->surface;
    int ox = 0, oy = 0;
    SDL_Surface* to = dst->primary ? PrimaryTarget(dst, &ox, &oy) : Native(dst)->surface;
    if (to == nullptr || from == nullptr) return -1;
    SDL_Rect sr = {0, 0, from->w, from->h};
    if (srcRect != nullptr) sr = SDL_Rect{srcRect->left, srcRect->top, srcRect->right - srcRect->left, srcRect->bottom - srcRect->top};
    // Cut the source to its surface and the destination to its memory, keeping them aligned.
    int x = dstX - ox, y = dstY - oy;
    if (sr.x < 0) { x -= sr.x; sr.w += sr.x; sr.x = 0; }
    if (sr.y < 0) { y -= sr.y; sr.h += sr.y; sr.y = 0; }
    if (sr.x + sr.w > from->w) sr.w = from->w - sr.x;
    if (sr.y + sr.h > from->h) sr.h = from->h - sr.y;
    if (x < 0) { sr.x -= x; sr.w += x; x = 0; }
    if (y < 0) { sr.y -= y; sr.h += y; y = 0; }
    if (x + sr.w > to->w) sr.w = to->w - x;
    if (y + sr.h > to->h) sr.h = to->h - y;
    if (sr.w <= 0 || sr.h <= 0) return 0;
    uint32_t key = 0;
    int hasKey = SDL_HasColorKey(from);
    if (!(hasKey && useKey) && from->format->format == to->format->format && from->format->BytesPerPixel >= 2 &&
        !SDL_MUSTLOCK(from) && !SDL_MUSTLOCK(to)) {
        // Same pixel format, nothing keyed or blended: the rows are copied as they
        // are (memmove: a surface may be drawn onto itself).
        int bytes = from->format->BytesPerPixel;
        size_t length = (size_t)sr.w * bytes;
        const uint8_t* in = (const uint8_t*)from->pixels + (size_t)sr.y * from->pitch + (size_t)sr.x * bytes;
        uint8_t* out = (uint8_t*)to->pixels + (size_t)y * to->pitch + (size_t)x * bytes;
        SDL_Rect touched = {x, y, sr.w, sr.h};
        int toWindow = dst->primary && Native(dst)->surface == nullptr;
        if (toWindow && to == S.sentSurface && SDL_RectEquals(&touched, &S.sentRect) &&
            GetSdl2WindowEventCount() == S.sentWindowEvents && RowsEqual(in, from->pitch, out, to->pitch, length, sr.h)) {
            return 0;
        }
        for (int row = 0; row < sr.h; row++, in += from->pitch, out += to->pitch) memmove(out, in, length);
        if (dst->primary) ShowPrimary(dst, &touched);
        if (toWindow) {
            S.sentSurface = to;
            S.sentRect = touched;
            S.sentWindowEvents = GetSdl2WindowEventCount();
        }
        return 0;
    }
    if (hasKey) SDL_GetColorKey(from, &key);
    if (hasKey && !useKey) SDL_SetColorKey(from, SDL_FALSE, 0);
    SDL_SetSurfaceBlendMode(from, SDL_BLENDMODE_NONE);
    SDL_Rect dr = {x, y, sr.w, sr.h};
    int result = SDL_BlitSurface(from, &sr, to, &dr) == 0 ? 0 : -1;
    if (hasKey && !useKey) SDL_SetColorKey(from, SDL_TRUE, key);
    if (dst->primary) {
        SDL_Rect touched = {x, y, sr.w, sr.h};
        ShowPrimary(dst, &touched);
    }
    return result;
}

int Sdl2Flip(ScreenSurface* primary) {
    if (primary == nullptr || Native(primary)->attached == nullptr) return -1;
    Sdl2Surface* front = Native(primary);
    Sdl2Surface* back = Native(front->attached);
    SDL_Surface* swap = front->surface;
    front->surface = back->surface;
    back->surface = swap;
    SDL_Rect all = {0, 0, front->surface->w, front->surface->h};
    ShowPrimary(primary, &all);
    return 0;
}

// Everything is drawn by the time a call returns.
int Sdl2GetBlitStatus(ScreenSurface* s) { return s != nullptr ? 0 : -1; }

int Sdl2Lock(ScreenSurface* s, uint8_t** pixels, int* pitch, int* width, int* height) {
    if (s == nullptr) return -1;
    int ox, oy;
    SDL_Surface* surface = s->primary ? PrimaryTarget(s, &ox, &oy) : Native(s)->surface;
    if (surface == nullptr || SDL_LockSurface(surface) != 0) return -1;
    *pixels = (uint8_t*)surface->pixels;
    *pitch = surface->pitch;
    *width = surface->w;
    *height = surface->h;
    return 0;
}

void Sdl2Unlock(ScreenSurface* s) {
    if (s == nullptr) return;
    int ox, oy;
    SDL_Surface* surface = s->primary ? PrimaryTarget(s, &ox, &oy) : Native(s)->surface;
    if (surface == nullptr) return;
    SDL_UnlockSurface(surface);
    if (s->primary) {
        SDL_Rect all = {0, 0, surface->w, surface->h};
        ShowPrimary(s, &all);
    }
}

void ToSdlColors(const PlatformPaletteEntry entries[256], SDL_Color colors[256]) {
    for (int i = 0; i < 256; i++) colors[i] = SDL_Color{entries[i].red, entries[i].green, entries[i].blue, 255};
}

int Sdl2CreatePalette(const PlatformPaletteEntry entries[256]) {
    if (!S.device || S.palette != nullptr) return -1;
    S.palette = SDL_AllocPalette(256);
    if (S.palette == nullptr) return -1;
    SDL_Color colors[256];
    ToSdlColors(entries, colors);
    SDL_SetPaletteColors(S.palette, colors, 0, 256);
    return 0;
}

void Sdl2ReleasePalette(void) {
    if (S.palette != nullptr) SDL_FreePalette(S.palette);  // surfaces keep their reference
    S.palette = nullptr;
}

void Sdl2AttachPalette(ScreenSurface* s) {
    if (s == nullptr || S.palette == nullptr) return;
    for (ScreenSurface* each = s; each != nullptr; each = Native(each)->attached) {
        SDL_Surface* surface = Native(each)->surface;
        if (surface != nullptr && surface->format->palette != nullptr) SDL_SetSurfacePalette(surface, S.palette);
    }
}

int Sdl2SetPaletteEntries(const PlatformPaletteEntry entries[256]) {
    if (S.palette == nullptr) return -1;
    SDL_Color colors[256];
    ToSdlColors(entries, colors);
    return SDL_SetPaletteColors(S.palette, colors, 0, 256) == 0 ? 0 : -1;
}

int Sdl2GetPaletteEntries(PlatformPaletteEntry entries[256]) {
    if (S.palette == nullptr) return -1;
    for (int i = 0; i < 256; i++) {
        const SDL_Color& c = S.palette->colors[i];
        entries[i] = PlatformPaletteEntry{c.r, c.g, c.b, 0};
    }
    return 0;
}

// Sleeps to the next period of the display's refresh rate on the monotonic
// clock: never longer than one period, never spinning.
void Sdl2WaitForVerticalBlank(void) {
    int hz = DisplayRefreshRate();
    if (hz <= 0) hz = DEFAULT_REFRESH_HZ;
    int64_t period = 1000000000LL / hz;
    int64_t now = MonotonicNanoseconds();
    int64_t next = (now / period + 1) * period;
    struct timespec until = {(time_t)(next / 1000000000), (long)(next % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

}  // namespace

const PlatformScreenOps SDL2_SCREEN_OPS = {
    Sdl2CreateDevice, Sdl2ReleaseDevice, Sdl2GetDeviceIdentifier, Sdl2GetVideoMemory,
    Sdl2IsNonConvertKeyHeld, Sdl2CreateClipper, Sdl2ReleaseClipper, Sdl2SetClipper,
    Sdl2SetCooperativeLevel, Sdl2SetDisplayMode, Sdl2RestoreDisplayMode, Sdl2GetDisplayMode,
    Sdl2GetDesktopDepth, Sdl2CreatePrimarySurface, Sdl2GetAttachedBackBuffer, Sdl2CreateSurface,
    Sdl2ReleaseSurface, Sdl2GetSurfaceCaps, Sdl2SetColorKey, Sdl2IsSurfaceLost, Sdl2RestoreSurface,
    Sdl2Fill, Sdl2Blit, Sdl2Flip, Sdl2GetBlitStatus, Sdl2Lock, Sdl2Unlock, Sdl2CreatePalette,
    Sdl2ReleasePalette, Sdl2AttachPalette, Sdl2SetPaletteEntries, Sdl2GetPaletteEntries,
    Sdl2WaitForVerticalBlank,
};
