// screen.h: the screen: display device and settings, the draw target, clearing,
// colour packing and presenting, the image, surface-group and graph tables, and
// screen mode changes.
//
// What programs call is in ravlin.h; this is what the library uses inside
// (library/ for start-up and the window's rebuilds, text/ for drawing).
#pragma once

#include <cstdint>

#include "ravlin.h"

struct ColorInfo {
    uint8_t colorBitDepth, bytesPerPixel;
    uint8_t redWidth, greenWidth, blueWidth, alphaWidth;
    uint8_t redShift, greenShift, blueShift, alphaShift;
    uint32_t redMask, greenMask, blueMask, alphaMask;
};

struct ScreenRect {
    int left, top, right, bottom;  // right, bottom exclusive
};

struct DrawState {
    int target;                // SCREEN_FRONT, SCREEN_BACK or a graph handle
    int targetInVideoMemory;
    ScreenRect origin;         // client rect in desktop coords for a windowed SCREEN_FRONT, else 0
    ScreenRect drawArea;       // in target coordinates
    int targetWidth, targetHeight;
    int blendMode, blendParam;
    int alphaPlaneFlag;
    int drawAreaEmpty;
    int transColor;            // 0xRRGGBB
    int maskFlag;              // always 0: there is no drawing mask
};

struct ScreenSurface;          // a device surface (platform/screen_device.h)

struct ScreenSettings {
    int width, height;   // pixels, 0 replaced by 640 x 480
    int colorBits;       // 0 replaced by 16
    int refreshRate;     // Hz, 0 = the device's own
};
// The settings in force, zeros replaced by the defaults: a copy.
ScreenSettings GetScreenSettings(void);
int ScreenWidth(void);    // pixels
int ScreenHeight(void);   // pixels

int InitScreen(void);   // 0, or -1 when the device exists already
int EndScreen(void);    // always 0
int IsScreenDeviceReady(void);
int IsGraphManagementStarted(void);
const ColorInfo* GetColorInfo(void);
const DrawState* GetDrawState(void);
ScreenSurface* GetDrawSurface(void);
int IsWindowPrimaryTarget(void);
int WaitWhileInactive(void);   // 0, or -1 once the program is ending
int ClipRectToArea(ScreenRect* rect, const ScreenRect* area);
int SetDrawBlendState(int mode, int param);
// Images made while the flag is 1 get an alpha plane (the smooth fonts' work images).
int SetAlphaPlaneFlag(int flag);
uint32_t MakeColorForFormat(const ColorInfo* info, int red, int green, int blue);
uint32_t ConvertColorFormat(const ColorInfo* dst, const ColorInfo* src, uint32_t value);
int BlitPresent(void);
int ApplyScreenMode(int width, int height, int colorBits, int force, int refreshRate);

// Direct pixel access. `visible` receives the rectangle, in the surface's own
// coordinates, that the returned memory covers; `pixels` points at its top-left
// pixel. Off-screen surfaces: (0, 0, w, h). The primary (desktop coordinates in
// a window): the client area cut to the desktop. 0 or -1.
int LockScreenSurface(ScreenSurface* s, uint8_t** pixels, int* pitch, ScreenRect* visible);
void UnlockScreenSurface(ScreenSurface* s);
int FillScreenSurface(ScreenSurface* s, uint32_t color);  // whole surface, packed colour

// Images, surface groups and graphs.
int AddBmpData(int w, int h, int x, int y, int userWord, int derive, int source, int value1, int value2);
int ReleaseImage(int image);
ScreenSurface* GetImageSurface(int image);
uint8_t* GetImageAlphaPlane(int image, int* pitch);  // null when it has none
int SetImageColorKey(int image, uint32_t rgb);       // 0xRRGGBB
// Draws the whole image at (x, y) of the draw target, inside the draw area and,
// when clip is given, inside clip too (target coordinates), with its colour key
// when transparent is 1. 0 or -1.
int DrawImageToTarget(int image, int x, int y, int transparent, const ScreenRect* clip = nullptr);
int GetImageCount(void);
int GetImageHighWater(void);   // highest used image slot + 1
int SetUseVideoMemory(int flag);
int GetUseVideoMemory(void);
int DeleteAllGraphs(int logFlag);
int RestoreAllGraphs(void);

// The graph-restore callback (SetGraphRestoreCallback), run after the fonts
// are made again on a rebuild.
int HasGraphRestoreCallback(void);
void RunGraphRestoreCallback(void);

// Device loss, driven by the main window: surfaces, device, device again,
// surfaces, palette, the draw target re-selected, cleared and presented.
int RebuildScreenDevice(void);
// The main window moved: the front surface's origin and the draw area follow.
int FollowWindowMove(void);

// What the screen asks of the fonts above it, registered by the library's
// start-up. Null entries do nothing.
struct SavedFont {
    int saved;           // 1 when a default font was there to keep
    char name[256];
    int size, thickness;
};
struct ScreenFontHooks {
    void (*StartFonts)(void);                // graphics management starts: the default font made
    void (*EndFonts)(void);                  // it ends: every font released, nothing made
    void (*SaveDefaultFont)(SavedFont* keep);        // before a mode change
    void (*RestoreFonts)(const SavedFont* keep);     // after it
};
void SetScreenFontHooks(const ScreenFontHooks* hooks);  // copied
