// fake_screen.h: a fake display device for unit tests.
//
// InstallFakeScreenDevice() puts FAKE_SCREEN_OPS into PLATFORM.screen and resets
// FAKE_SCREEN. Surfaces are plain memory in the display format the test sets
// (desktopFormat, or the full-screen mode set). The windowed primary is the
// client area's memory, window-local, placed on the desktop by the fake
// window's client rectangle. The test can make each step fail and reads back
// the calls made, the surfaces alive and the pixels.
//
// It is stricter than a real device: it clips nothing for the caller (a fill or
// blit that reaches outside a surface, or off the desktop on the windowed
// primary, draws nothing, fails and is counted in outOfBounds), a lost surface
// refuses every fill, blit and lock until it is restored, an 8-bit surface keeps
// the palette it was given (none: all white, as SDL's default), and a
// full-screen mode resizes the fake window as the window system would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/screen_device.h"

struct FakeScreenSurface {
    std::vector<uint8_t> pixels;
    int pitch;
    int bytesPerPixel;
    int hasKey;
    uint32_t key;
    int lost;       // 1 after LoseFakeSurfaces until RestoreSurface
    int palette;    // id of the palette attached (8-bit only); 0 = none
};

struct FakeScreenDevice {
    std::vector<std::string> calls;   // operation names; SetDisplayMode as "SetDisplayMode w h bits rate"
    PlatformPixelFormat desktopFormat;
    int desktopDepth;                 // planes x bits per pixel; 0: from desktopFormat
    int refreshRate;                  // the display's own, Hz

    // Failures and capabilities the test asks for.
    int createDeviceFails, clipperFails, primaryFails, surfaceFails, colorKeyFails, paletteFails;
    uint32_t cooperativeLevelAnswer;  // 0 or a DDERR_* code
    int refuseAllModes;
    int refuseBits;                   // full-screen modes of this bit count are refused
    int allowVideoMemory;             // grant video-memory surfaces
    uint32_t videoMemoryTotal, videoMemoryFree;
    int nonConvertHeld;
    int blitStatusAnswer;             // what GetBlitStatus answers
    int blitStatusCalls;

    // State.
    int device, clipper, clipperAttached, level;
    int modeSet, modeWidth, modeHeight, modeBits;
    int palette;
    int paletteId;                    // id of the palette alive, counted from 1
    PlatformPaletteEntry paletteEntries[256];
    int outOfBounds;                  // fills and blits refused for reaching outside
    int surfacesMade, surfacesReleased;
    int verticalBlankWaits;
    std::vector<ScreenSurface*> live;
};

extern FakeScreenDevice FAKE_SCREEN;
extern const PlatformScreenOps FAKE_SCREEN_OPS;

void InstallFakeScreenDevice(void);
int CountFakeScreenCalls(const char* name);
// Pixel (x, y) of a surface's memory (window-local for the windowed primary).
uint32_t ReadFakePixel(ScreenSurface* surface, int x, int y);
void WriteFakePixel(ScreenSurface* surface, int x, int y, uint32_t value);
// Every live surface is lost, as when the device goes to the background: its
// pixels are scrambled and it answers IsSurfaceLost with 1 until restored.
void LoseFakeSurfaces(void);
int CountLostFakeSurfaces(void);
