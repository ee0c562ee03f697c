// fake_screen.cpp: the fake display device.
#include "platform/fake/fake_screen.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/fake/fake_platform.h"
#include "platform/platform.h"

FakeScreenDevice FAKE_SCREEN;

namespace {

void Record(const std::string& name) { FAKE_SCREEN.calls.push_back(name); }

FakeScreenSurface* Data(ScreenSurface* s) { return (FakeScreenSurface*)s->native; }

PlatformPixelFormat FormatOfBits(int bits) {
    switch (bits) {
    case 8: return PlatformPixelFormat{8, 0, 0, 0, 0};
    case 16: return PlatformPixelFormat{16, 0xF800, 0x7E0, 0x1F, 0};
    default: return PlatformPixelFormat{32, 0xFF0000, 0xFF00, 0xFF, 0};
    }
}

PlatformPixelFormat DisplayFormat(void) {
    return FAKE_SCREEN.modeSet ? FormatOfBits(FAKE_SCREEN.modeBits) : FAKE_SCREEN.desktopFormat;
}

ScreenSurface* NewSurface(int width, int height, uint32_t caps, int primary) {
    int bytes = (DisplayFormat().bitCount + 7) / 8;
    ScreenSurface* s = new ScreenSurface{width, height, caps, primary, nullptr};
    FakeScreenSurface* d = new FakeScreenSurface{};
    d->bytesPerPixel = bytes;
    d->pitch = (width * bytes + 3) & ~3;  // rows padded like a real device's
    d->pixels.assign((size_t)d->pitch * height, 0xCD);
    // As SDL's: an 8-bit surface takes the palette that exists when it is made.
    if (bytes == 1 && FAKE_SCREEN.palette) d->palette = FAKE_SCREEN.paletteId;
    s->native = d;
    FAKE_SCREEN.surfacesMade++;
    FAKE_SCREEN.live.push_back(s);
    return s;
}

// Where the primary's memory lies on the desktop.
void PrimaryOrigin(ScreenSurface* s, int* x, int* y) {
    *x = 0;
    *y = 0;
    PlatformRect client;
    if (!FAKE_SCREEN.modeSet && PLATFORM.window->GetClientRect(&client) == 0) {
        *x = client.left;
        *y = client.top;
    }
}

uint32_t ReadAt(FakeScreenSurface* d, int x, int y) {
    uint32_t v = 0;
    memcpy(&v, &d->pixels[(size_t)y * d->pitch + (size_t)x * d->bytesPerPixel], d->bytesPerPixel);
    return v;
}

void WriteAt(FakeScreenSurface* d, int x, int y, uint32_t v) {
    memcpy(&d->pixels[(size_t)y * d->pitch + (size_t)x * d->bytesPerPixel], &v, d->bytesPerPixel);
}

int FakeCreateDevice(void) {
    Record("CreateDevice");
    if (FAKE_SCREEN.createDeviceFails || FAKE_SCREEN.device) return -1;
    FAKE_SCREEN.device = 1;
    FAKE_SCREEN.level = DDSCL_NORMAL;
    return 0;
}
void FakeReleaseDevice(void) {
    Record("ReleaseDevice");
    FAKE_SCREEN.device = 0;
    FAKE_SCREEN.modeSet = 0;
    FAKE_SCREEN.clipper = 0;
    FAKE_SCREEN.palette = 0;
}
int FakeGetDeviceIdentifier(PlatformDeviceIdentifier* id) {
    snprintf(id->driver, sizeof id->driver, "%s", "fake");
    snprintf(id->description, sizeof id->description, "%s", "Fake display");
    id->version[0] = 1;
    id->version[1] = 2;
    id->version[2] = 3;
    id->version[3] = 4;
    return 0;
}
int FakeGetVideoMemory(uint32_t* total, uint32_t* freeBytes) {
    *total = FAKE_SCREEN.videoMemoryTotal;
    *freeBytes = FAKE_SCREEN.videoMemoryFree;
    return 0;
}
int FakeIsNonConvertKeyHeld(void) { return FAKE_SCREEN.nonConvertHeld; }
int FakeCreateClipper(void) {
    Record("CreateClipper");
    if (FAKE_SCREEN.clipperFails || FAKE_SCREEN.clipper) return -1;
    FAKE_SCREEN.clipper = 1;
    return 0;
}
void FakeReleaseClipper(void) {
    Record("ReleaseClipper");
    FAKE_SCREEN.clipper = 0;
}
void FakeSetClipper(ScreenSurface*, int attach) { FAKE_SCREEN.clipperAttached = attach; }
uint32_t FakeSetCooperativeLevel(int level) {
    Record("SetCooperativeLevel");
    if (FAKE_SCREEN.cooperativeLevelAnswer != 0) return FAKE_SCREEN.cooperativeLevelAnswer;
    FAKE_SCREEN.level = level;
    return 0;
}
int FakeSetDisplayMode(int width, int height, int bits, int rate) {
    Record("SetDisplayMode " + std::to_string(width) + " " + std::to_string(height) + " " + std::to_string(bits) +
           " " + std::to_string(rate));
    if (!(FAKE_SCREEN.level & DDSCL_EXCLUSIVE) || FAKE_SCREEN.refuseAllModes) return -1;
    if ((bits != 8 && bits != 16 && bits != 32) || bits == FAKE_SCREEN.refuseBits) return -1;
    if (rate != 0 && rate != FAKE_SCREEN.refreshRate) return -1;
    FAKE_SCREEN.modeSet = 1;
    FAKE_SCREEN.modeWidth = width;
    FAKE_SCREEN.modeHeight = height;
    FAKE_SCREEN.modeBits = bits;
    // The window system puts the window borderless at 0,0 in the mode's size and
    // says so through a size message, as the real backend does.
    if (FAKE.hasWindow) {
        PlatformRect old = FAKE.windowRect;
        FAKE.windowed = 0;
        FAKE.windowRect = PlatformRect{0, 0, width, height};
        if (old.right - old.left != width || old.bottom - old.top != height) {
            QueueFakeMessage(WM_SIZE, 0, (int64_t)(((uint32_t)width & 0xFFFF) | ((uint32_t)height << 16)));
        }
    }
    return 0;
}
void FakeRestoreDisplayMode(void) {
    Record("RestoreDisplayMode");
    FAKE_SCREEN.modeSet = 0;
}
int FakeGetDisplayMode(PlatformPixelFormat* format) {
    *format = DisplayFormat();
    return 0;
}
int FakeGetDesktopDepth(void) {
    return FAKE_SCREEN.desktopDepth != 0 ? FAKE_SCREEN.desktopDepth : FAKE_SCREEN.desktopFormat.bitCount;
}
ScreenSurface* FakeCreatePrimarySurface(uint32_t caps, int backBuffers) {
    Record("CreatePrimarySurface");
    if (FAKE_SCREEN.primaryFails || !FAKE_SCREEN.device) return nullptr;
    int width, height;
    if (FAKE_SCREEN.modeSet) {
        width = FAKE_SCREEN.modeWidth;
        height = FAKE_SCREEN.modeHeight;
    } else {
        if (backBuffers > 0) return nullptr;
        PlatformRect client;
        if (PLATFORM.window->GetClientRect(&client) != 0) return nullptr;
        width = client.right - client.left;
        height = client.bottom - client.top;
    }
    ScreenSurface* primary = NewSurface(width, height, caps | DDSCAPS_SYSTEMMEMORY, 1);
    if (backBuffers > 0) {
        // The attached buffer is listed right after its primary and goes with it.
        NewSurface(width, height, DDSCAPS_BACKBUFFER | DDSCAPS_SYSTEMMEMORY, 0);
    }
    return primary;
}
ScreenSurface* FakeGetAttachedBackBuffer(ScreenSurface* primary) {
    auto it = std::find(FAKE_SCREEN.live.begin(), FAKE_SCREEN.live.end(), primary);
    if (it == FAKE_SCREEN.live.end() || it + 1 == FAKE_SCREEN.live.end()) return nullptr;
    ScreenSurface* next = *(it + 1);
    return (next->caps & DDSCAPS_BACKBUFFER) ? next : nullptr;
}
ScreenSurface* FakeCreateSurface(int width, int height, uint32_t caps) {
    Record("CreateSurface");
    if (FAKE_SCREEN.surfaceFails || !FAKE_SCREEN.device || width <= 0 || height <= 0) return nullptr;
    if ((caps & DDSCAPS_VIDEOMEMORY) && !FAKE_SCREEN.allowVideoMemory) return nullptr;
    if (!(caps & DDSCAPS_VIDEOMEMORY)) caps |= DDSCAPS_SYSTEMMEMORY;
    return NewSurface(width, height, caps, 0);
}
void FreeSurface(ScreenSurface* s) {
    FAKE_SCREEN.live.erase(std::find(FAKE_SCREEN.live.begin(), FAKE_SCREEN.live.end(), s));
    delete Data(s);
    delete s;
    FAKE_SCREEN.surfacesReleased++;
}
void FakeReleaseSurface(ScreenSurface* s) {
    Record("ReleaseSurface");
    if (s == nullptr) return;
    ScreenSurface* attached = s->primary ? FakeGetAttachedBackBuffer(s) : nullptr;
    FreeSurface(s);
    if (attached != nullptr) FreeSurface(attached);
}
uint32_t FakeGetSurfaceCaps(ScreenSurface* s) { return s->caps; }
int FakeSetColorKey(ScreenSurface* s, uint32_t key) {
    if (FAKE_SCREEN.colorKeyFails) return -1;
    Data(s)->hasKey = 1;
    Data(s)->key = key;
    return 0;
}
int FakeIsSurfaceLost(ScreenSurface* s) { return Data(s)->lost; }
int FakeRestoreSurface(ScreenSurface* s) {
    Record("RestoreSurface");
    Data(s)->lost = 0;
    return 0;
}

// A rectangle in the surface's memory coordinates lies inside it, and on the
// windowed primary on the desktop too; else the call is refused and counted.
int InBounds(ScreenSurface* s, const PlatformRect& r) {
    int inside = r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom && r.right <= s->width &&
                 r.bottom <= s->height;
    if (inside && s->primary && !FAKE_SCREEN.modeSet) {
        int ox, oy;
        PrimaryOrigin(s, &ox, &oy);
        inside = r.left + ox >= 0 && r.top + oy >= 0 && r.right + ox <= FAKE.desktopWidth &&
                 r.bottom + oy <= FAKE.desktopHeight;
    }
    if (!inside) FAKE_SCREEN.outOfBounds++;
    return inside;
}

int FakeFill(ScreenSurface* s, const PlatformRect* rect, uint32_t color) {
    Record("Fill");
    if (Data(s)->lost) return -1;
    PlatformRect r = {0, 0, s->width, s->height};
    if (rect != nullptr) {
        r = *rect;
        if (s->primary) {
            int ox, oy;
            PrimaryOrigin(s, &ox, &oy);
            r = PlatformRect{r.left - ox, r.top - oy, r.right - ox, r.bottom - oy};
        }
    }
    // A whole-surface fill of a windowed primary covers only what lies on the desktop.
    if (rect == nullptr && s->primary && !FAKE_SCREEN.modeSet) {
        int ox, oy;
        PrimaryOrigin(s, &ox, &oy);
        r.left = std::max(r.left, -ox);
        r.top = std::max(r.top, -oy);
        r.right = std::min(r.right, FAKE.desktopWidth - ox);
        r.bottom = std::min(r.bottom, FAKE.desktopHeight - oy);
        if (r.right < r.left || r.bottom < r.top) return 0;
    }
    if (!InBounds(s, r)) return -1;
    for (int y = r.top; y < r.bottom; y++) {
        for (int x = r.left; x < r.right; x++) WriteAt(Data(s), x, y, color);
    }
    return 0;
}

int FakeBlit(ScreenSurface* dst, int dstX, int dstY, ScreenSurface* src, const PlatformRect* srcRect, int useKey) {
    Record("Blit");
    if (Data(src)->lost || Data(dst)->lost) return -1;
    PlatformRect r = srcRect != nullptr ? *srcRect : PlatformRect{0, 0, src->width, src->height};
    int ox = 0, oy = 0;
    if (dst->primary) PrimaryOrigin(dst, &ox, &oy);
    PlatformRect to_ = {dstX - ox, dstY - oy, dstX - ox + (r.right - r.left), dstY - oy + (r.bottom - r.top)};
    if (!InBounds(src, r) || !InBounds(dst, to_)) return -1;
    FakeScreenSurface* from = Data(src);
    FakeScreenSurface* to = Data(dst);
    for (int y = r.top; y < r.bottom; y++) {
        for (int x = r.left; x < r.right; x++) {
            int tx = dstX - ox + (x - r.left), ty = dstY - oy + (y - r.top);
            uint32_t v = ReadAt(from, x, y);
            if (useKey && from->hasKey && v == from->key) continue;
            WriteAt(to, tx, ty, v);
        }
    }
    return 0;
}

int FakeFlip(ScreenSurface* primary) {
    Record("Flip");
    ScreenSurface* back = FakeGetAttachedBackBuffer(primary);
    if (back == nullptr) return -1;
    std::swap(Data(primary)->pixels, Data(back)->pixels);
    return 0;
}
int FakeGetBlitStatus(ScreenSurface*) {
    FAKE_SCREEN.blitStatusCalls++;
    return FAKE_SCREEN.blitStatusAnswer;
}
int FakeLock(ScreenSurface* s, uint8_t** pixels, int* pitch, int* width, int* height) {
    if (Data(s)->lost) return -1;
    *pixels = Data(s)->pixels.data();
    *pitch = Data(s)->pitch;
    *width = s->width;
    *height = s->height;
    return 0;
}
void FakeUnlock(ScreenSurface*) {}
int FakeCreatePalette(const PlatformPaletteEntry entries[256]) {
    Record("CreatePalette");
    if (FAKE_SCREEN.paletteFails) return -1;
    FAKE_SCREEN.palette = 1;
    FAKE_SCREEN.paletteId++;
    memcpy(FAKE_SCREEN.paletteEntries, entries, sizeof FAKE_SCREEN.paletteEntries);
    return 0;
}
void FakeReleasePalette(void) {
    Record("ReleasePalette");
    FAKE_SCREEN.palette = 0;
}
void FakeAttachPalette(ScreenSurface* s) {
    if (s != nullptr && FAKE_SCREEN.palette && Data(s)->bytesPerPixel == 1) Data(s)->palette = FAKE_SCREEN.paletteId;
}
int FakeSetPaletteEntries(const PlatformPaletteEntry entries[256]) {
    memcpy(FAKE_SCREEN.paletteEntries, entries, sizeof FAKE_SCREEN.paletteEntries);
    return 0;
}
int FakeGetPaletteEntries(PlatformPaletteEntry entries[256]) {
    memcpy(entries, FAKE_SCREEN.paletteEntries, sizeof FAKE_SCREEN.paletteEntries);
    return 0;
}
void FakeWaitForVerticalBlank(void) { FAKE_SCREEN.verticalBlankWaits++; }

}  // namespace

const PlatformScreenOps FAKE_SCREEN_OPS = {
    FakeCreateDevice, FakeReleaseDevice, FakeGetDeviceIdentifier, FakeGetVideoMemory,
    FakeIsNonConvertKeyHeld, FakeCreateClipper, FakeReleaseClipper, FakeSetClipper,
    FakeSetCooperativeLevel, FakeSetDisplayMode, FakeRestoreDisplayMode, FakeGetDisplayMode,
    FakeGetDesktopDepth, FakeCreatePrimarySurface, FakeGetAttachedBackBuffer, FakeCreateSurface,
    FakeReleaseSurface, FakeGetSurfaceCaps, FakeSetColorKey, FakeIsSurfaceLost, FakeRestoreSurface,
    FakeFill, FakeBlit, FakeFlip, FakeGetBlitStatus, FakeLock, FakeUnlock, FakeCreatePalette,
    FakeReleasePalette, FakeAttachPalette, FakeSetPaletteEntries, FakeGetPaletteEntries,
    FakeWaitForVerticalBlank,
};

void InstallFakeScreenDevice(void) {
    FAKE_SCREEN = FakeScreenDevice{};
    FAKE_SCREEN.desktopFormat = PlatformPixelFormat{32, 0xFF0000, 0xFF00, 0xFF, 0};
    FAKE_SCREEN.refreshRate = 60;
    PLATFORM.screen = &FAKE_SCREEN_OPS;
}

int CountFakeScreenCalls(const char* name) {
    int n = 0;
    for (const std::string& call : FAKE_SCREEN.calls) n += call == name;
    return n;
}

uint32_t ReadFakePixel(ScreenSurface* s, int x, int y) { return ReadAt(Data(s), x, y); }
void WriteFakePixel(ScreenSurface* s, int x, int y, uint32_t value) { WriteAt(Data(s), x, y, value); }

void LoseFakeSurfaces(void) {
    for (ScreenSurface* s : FAKE_SCREEN.live) {
        Data(s)->lost = 1;
        std::fill(Data(s)->pixels.begin(), Data(s)->pixels.end(), 0xA5);
    }
}

int CountLostFakeSurfaces(void) {
    int n = 0;
    for (ScreenSurface* s : FAKE_SCREEN.live) n += Data(s)->lost;
    return n;
}
