// screen_device.h: the display device as the library's screen module uses it.
//
// The operations follow the device model the screen module was written for: a
// display device with a cooperative level and a display mode, a primary surface
// that stands for the desktop (rectangles on it are in desktop coordinates and
// are cut to the main window's client area), off-screen surfaces in the
// screen's pixel format, a clipper flag, an 8-bit palette and colour fills and
// blits between surfaces.
//
// SDL2_SCREEN_OPS is the real device (SDL2, through the window surface),
// FAKE_SCREEN_OPS in platform/fake/fake_screen.h the one unit tests drive.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Surface capability bits.
enum {
    DDSCAPS_BACKBUFFER = 0x4,
    DDSCAPS_COMPLEX = 0x8,
    DDSCAPS_FLIP = 0x10,
    DDSCAPS_OFFSCREENPLAIN = 0x40,
    DDSCAPS_OVERLAY = 0x80,
    DDSCAPS_PRIMARYSURFACE = 0x200,
    DDSCAPS_SYSTEMMEMORY = 0x800,
    DDSCAPS_3DDEVICE = 0x2000,
    DDSCAPS_VIDEOMEMORY = 0x4000,
};

// Cooperative levels.
enum { DDSCL_FULLSCREEN = 0x1, DDSCL_NORMAL = 0x8, DDSCL_EXCLUSIVE = 0x10 };

// Cooperative-level answers a full-screen program accepts besides success.
enum : uint32_t {
    DDERR_HWNDSUBCLASSED = 0x8876023A,
    DDERR_HWNDALREADYSET = 0x8876023B,
    DDERR_EXCLUSIVEMODEALREADYSET = 0x88760245,
    DDERR_SURFACELOST = 0x887601C2,
};

// The pixel format of a display mode. Bit count is bytes per pixel x 8.
struct PlatformPixelFormat {
    int bitCount;
    uint32_t redMask, greenMask, blueMask, alphaMask;
};

struct PlatformPaletteEntry {
    uint8_t red, green, blue, flags;
};

// A device surface. The backend owns `native`; the rest is read by the screen module.
struct ScreenSurface {
    int width, height;     // pixels; for the primary the client size when made
    uint32_t caps;         // DDSCAPS_* as made
    int primary;           // 1: stands for the desktop
    void* native;          // backend object
};

struct PlatformDeviceIdentifier {
    char driver[512];
    char description[512];
    uint16_t version[4];  // from the high part to the low part
};

struct PlatformScreenOps {
    int (*CreateDevice)(void);     // 0 or -1
    void (*ReleaseDevice)(void);   // together with anything still made by it
    int (*GetDeviceIdentifier)(PlatformDeviceIdentifier* id);      // 0 or -1
    int (*GetVideoMemory)(uint32_t* totalBytes, uint32_t* freeBytes);  // 0 or -1
    int (*IsNonConvertKeyHeld)(void);

    // Bound to the main window; one at a time. 0 or -1.
    int (*CreateClipper)(void);
    void (*ReleaseClipper)(void);
    // Attaches (1) or detaches (0) the clipper to the primary surface.
    void (*SetClipper)(ScreenSurface* primary, int attach);

    // DDSCL_* level; 0 or a DDERR_* code (as uint32_t) of the refusal.
    uint32_t (*SetCooperativeLevel)(int level);
    // Full-screen mode of the given size, bit count (8, 16, 32) and refresh rate
    // (0 = the display's own). 0 or -1.
    int (*SetDisplayMode)(int width, int height, int bits, int refreshRate);
    void (*RestoreDisplayMode)(void);
    // The format in force: the set mode, else the desktop's. 0 or -1.
    int (*GetDisplayMode)(PlatformPixelFormat* format);
    // Planes x bits per pixel of the desktop.
    int (*GetDesktopDepth)(void);

    // The primary surface, with `backBuffers` (1 or 2) attached buffers for a
    // flipping chain, 0 for none. Null when refused.
    ScreenSurface* (*CreatePrimarySurface)(uint32_t caps, int backBuffers);
    ScreenSurface* (*GetAttachedBackBuffer)(ScreenSurface* primary);  // null without a chain
    // An off-screen surface in the display format. Null when refused.
    ScreenSurface* (*CreateSurface)(int width, int height, uint32_t caps);
    void (*ReleaseSurface)(ScreenSurface* surface);   // an attached buffer goes with its primary
    uint32_t (*GetSurfaceCaps)(ScreenSurface* surface);
    int (*SetColorKey)(ScreenSurface* surface, uint32_t key);  // source key, packed; 0 or -1
    int (*IsSurfaceLost)(ScreenSurface* surface);    // 1 lost, 0 not
    int (*RestoreSurface)(ScreenSurface* surface);   // 0 or -1

    // Whole surface when rect is null. Results are 0 or -1.
    int (*Fill)(ScreenSurface* surface, const PlatformRect* rect, uint32_t color);
    // Same-size copy of src's rectangle to (dstX, dstY) of dst, with src's colour
    // key when useKey is 1.
    int (*Blit)(ScreenSurface* dst, int dstX, int dstY, ScreenSurface* src, const PlatformRect* srcRect, int useKey);
    int (*Flip)(ScreenSurface* primary);
    // 1 while the device still draws to the surface, 0 when done, -1 on error.
    int (*GetBlitStatus)(ScreenSurface* surface);
    // Memory of the surface; for the primary the window's client area, window-local
    // (shown again at Unlock). Fills and blits onto the primary show at once.
    int (*Lock)(ScreenSurface* surface, uint8_t** pixels, int* pitch, int* width, int* height);
    void (*Unlock)(ScreenSurface* surface);

    int (*CreatePalette)(const PlatformPaletteEntry entries[256]);  // 0 or -1
    void (*ReleasePalette)(void);
    void (*AttachPalette)(ScreenSurface* surface);
    int (*SetPaletteEntries)(const PlatformPaletteEntry entries[256]);  // 0 or -1
    int (*GetPaletteEntries)(PlatformPaletteEntry entries[256]);        // 0 or -1

    // Sleeps to the start of the next vertical blank.
    void (*WaitForVerticalBlank)(void);
};

extern const PlatformScreenOps SDL2_SCREEN_OPS;
