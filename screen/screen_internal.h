// screen_internal.h: the state and building blocks the files of screen/ share.
#pragma once

#include <cstdint>

#include "platform/screen_device.h"
#include "screen/screen.h"

enum { MAX_IMAGES = 3000, MAX_GRAPHS = 3000, MAX_SURFACE_GROUPS = 12000, GRAPH_HANDLE_BASE = 0x10000 };

// The display device and everything that exists once per screen.
struct ScreenDevice {
    ScreenSettings settings;   // as stored; 0 = default until start-up replaces it
    int use3DOff;
    int vsyncWait;
    int device;                // the display device exists
    ScreenSurface* primary;
    ScreenSurface* back;       // attached to the primary when flipChain is 1
    ScreenSurface* work;
    int flipChain;
    int clipper;
    int palette;
    int cooperativeLevel;
    int displayModeChanged;
    int startupComplete;
    int shuttingDown;          // EndScreen runs: no waits on an inactive window
    PlatformPixelFormat pixelFormat;
    ColorInfo colorInfo;
    PlatformPaletteEntry paletteEntries[256];
    int overlayIndex;
};

extern ScreenDevice SCREEN;
extern const ColorInfo RGB24_COLOR_INFO;

// Draw state beyond the shared record.
struct DrawTargetState {
    DrawState pub;
    ScreenSurface* selected;
    int invalidTarget;
    int graphManagementStarted;
    int lastAreaX1, lastAreaY1, lastAreaX2, lastAreaY2;  // last requested draw area
};

extern DrawTargetState DRAW;

// screen_setup.cpp
extern ScreenFontHooks FONT_HOOKS;
int CreateDisplayDevice(void);
int CreateMainSurfaces(void);
int ReleaseMainSurfaces(void);
int RestoreLostMainSurfaces(void);
int DeriveColorInfo(const PlatformPixelFormat* format, ColorInfo* info);
int CreateScreenPalette(void);
int RecreateScreenPalette(void);
void ReleaseScreenPalette(void);
void ReleaseScreenClipper(void);
void CreateScreenClipper(const char* fatalMessage);
int SetDeviceScreenMode(int width, int height, int bits, int windowed);
void TakeDisplayFormat(void);
int IsWindowed(void);

// graph_tables.cpp
int StartGraphManagement(void);
int EndGraphManagement(void);
void ReleaseAllImages(void);
int ReleaseDisplayDevice(void);
int RecreateDisplayDevice(void);
int IsValidGraphHandle(int handle);
// The surface a graph draws to and its size; null for an invalid handle.
ScreenSurface* GetGraphTargetSurface(int handle, int* width, int* height);
void ResetGraphTables(void);
// The image's rectangle on its (possibly shared) surface; 0 or -1.
int GetImageRect(int image, ScreenRect* rect);

// draw_target.cpp
// The client rectangle in desktop coordinates cut to the desktop.
ScreenRect VisibleClientRect(void);
