// fake_screen.h: a fake display device for unit tests.
//
// InstallFakeScreenDevice() puts FAKE_SCREEN_OPS into PLATFORM.screen and resets
// FAKE_SCREEN. Surfaces are plain memory in the display format the test sets
// (desktopFormat, or the full-screen mode set). The windowed primary is the
// client area's memory, window-local, placed on the desktop by the fake
// window's client rectangle. The test can make each step fail and reads back
// the calls made, the surfaces alive and the pixels.
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
    int allowVideoMemory;             // grant video-memory surfaces
    uint32_t videoMemoryTotal, videoMemoryFree;
    int nonConvertHeld;
    int blitStatusAnswer;             // what GetBlitStatus answers
    int blitStatusCalls;

    // State.
    int device, clipper, clipperAttached, level;
    int modeSet, modeWidth, modeHeight, modeBits;
    int palette;
    PlatformPaletteEntry paletteEntries[256];
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
