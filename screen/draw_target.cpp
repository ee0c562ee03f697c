// draw_target.cpp: where drawing goes (the draw target and its draw area),
// clearing, presenting, colour packing and direct pixel access.
//
// SCREEN_FRONT is the primary surface, which stands for the desktop: in a
// window its rectangles are desktop coordinates, found through the client
// area's origin, and only the part of the window on the desktop is touched.
#include <algorithm>

#include "core/core.h"
#include "platform/platform.h"
#include "screen/screen_internal.h"

DrawTargetState DRAW = {};

namespace {

ScreenRect Intersect(const ScreenRect& a, const ScreenRect& b) {
    return ScreenRect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                      std::min(a.bottom, b.bottom)};
}

int IsEmpty(const ScreenRect& r) { return r.right <= r.left || r.bottom <= r.top; }

// The client area where the window system has it now. The primary's pixels land
// there even before the window's move message is handled.
ScreenRect ClientRect(void) {
    const MainWindowState* w = GetMainWindowState();
    int left = w->clientLeft, top = w->clientTop;
    PlatformRect now;
    if (w->hasWindow && PLATFORM.window->GetClientRect(&now) == 0) {
        left = now.left;
        top = now.top;
    }
    return ScreenRect{left, top, left + ScreenWidth(), top + ScreenHeight()};
}

ScreenRect DesktopRect(void) {
    const MainWindowState* w = GetMainWindowState();
    return ScreenRect{0, 0, w->desktopWidth, w->desktopHeight};
}

// Selects the surface of id with its size and the whole target as draw area; -1
// when the id names no surface to draw on.
int SelectTarget(int id) {
    ScreenSurface* surface = nullptr;
    int width = 0, height = 0;
    if (id == SCREEN_FRONT || id == SCREEN_BACK) {
        surface = id == SCREEN_FRONT ? SCREEN.primary : SCREEN.back;
        GetScreenSize(&width, &height);
    } else {
        surface = GetGraphTargetSurface(id, &width, &height);
    }
    DRAW.pub.target = id;
    DRAW.pub.origin = (IsWindowed() && id == SCREEN_FRONT) ? ClientRect() : ScreenRect{0, 0, 0, 0};
    DRAW.selected = surface;
    if (surface == nullptr) {
        DRAW.invalidTarget = 1;
        return -1;
    }
    DRAW.invalidTarget = 0;
    if (IsWindowed() && SCREEN.primary != nullptr) PLATFORM.screen->SetClipper(SCREEN.primary, id == SCREEN_BACK);
    DRAW.pub.targetInVideoMemory = (int)(PLATFORM.screen->GetSurfaceCaps(surface) & DDSCAPS_VIDEOMEMORY);
    DRAW.pub.targetWidth = width;
    DRAW.pub.targetHeight = height;
    SetDrawArea(0, 0, width, height);
    return 0;
}

uint32_t PackChannel(int value, int width, int shift) {
    if (width == 0 || shift >= 32) return 0;
    uint64_t v = (uint64_t)(value & 255);
    v = width <= 8 ? v >> (8 - width) : v << (width - 8);
    return (uint32_t)(v << shift);
}

int UnpackChannel(uint32_t value, uint32_t mask, int width, int shift) {
    if (width == 0 || shift >= 32) return 0;
    uint64_t top = (1ull << width) - 1;
    return (int)(((uint64_t)((value & mask) >> shift)) * 255 / top);
}

int NearestPaletteIndex(int r, int g, int b) {
    r &= 255;
    g &= 255;
    b &= 255;
    int best = 0, bestDistance = 0xFFFFFF;
    for (int i = 0; i < 256; i++) {
        const PlatformPaletteEntry& e = SCREEN.paletteEntries[i];
        int distance = (e.red - r) * (e.red - r) + (e.green - g) * (e.green - g) + (e.blue - b) * (e.blue - b);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

int IsPaletteScreen(void) { return SCREEN.colorInfo.colorBitDepth == 8; }

}  // namespace

ScreenRect VisibleClientRect(void) { return Intersect(ClientRect(), DesktopRect()); }

const DrawState* GetDrawState(void) { return &DRAW.pub; }
ScreenSurface* GetDrawSurface(void) { return DRAW.invalidTarget ? nullptr : DRAW.selected; }
int GetDrawTarget(void) { return DRAW.pub.target; }
int IsWindowPrimaryTarget(void) {
    return IsWindowed() && DRAW.selected != nullptr && DRAW.selected == SCREEN.primary;
}

int SetAlphaPlaneFlag(int flag) {
    DRAW.pub.alphaPlaneFlag = flag;
    return 0;
}

int SetDrawBlendState(int mode, int param) {
    DRAW.pub.blendMode = mode;
    DRAW.pub.blendParam = param;
    return 0;
}

// Back in front, the window's Reactivated hook restores what the device lost
// meanwhile (RestoreAllGraphs).
int WaitWhileInactive(void) {
    if (SCREEN.shuttingDown) return 0;
    return WaitForActiveWindow();
}

int SetDrawTarget(int id) {
    if (!DRAW.graphManagementStarted) return -1;
    WaitWhileInactive();
    // Only the two screens and live graph handles: anything else would read a
    // record that is not there.
    if (id != SCREEN_FRONT && id != SCREEN_BACK && !IsValidGraphHandle(id)) return -1;
    int old = DRAW.pub.target;
    if (SelectTarget(id) != 0) {
        // Back to the old target once; if that fails too, the back surface.
        if (SelectTarget(old) != 0) SelectTarget(SCREEN_BACK);
    }
    return 0;
}

int SetDrawArea(int x1, int y1, int x2, int y2) {
    WaitWhileInactive();
    DRAW.lastAreaX1 = x1;
    DRAW.lastAreaY1 = y1;
    DRAW.lastAreaX2 = x2;
    DRAW.lastAreaY2 = y2;
    int low[2] = {0, 0};
    int high[2] = {DRAW.pub.targetWidth, DRAW.pub.targetHeight};
    if (DRAW.pub.target == SCREEN_FRONT) {
        GetScreenSize(&high[0], &high[1]);
        if (IsWindowed()) {
            // Only the part of the window on the desktop can be drawn on.
            ScreenRect client = ClientRect();
            ScreenRect desktop = DesktopRect();
            if (client.left < 0) low[0] = -client.left;
            if (client.top < 0) low[1] = -client.top;
            if (client.right >= desktop.right) high[0] = desktop.right - client.left;
            if (client.bottom >= desktop.bottom) high[1] = desktop.bottom - client.top;
        }
    } else if (DRAW.pub.target == SCREEN_BACK) {
        GetScreenSize(&high[0], &high[1]);
    }
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    for (int i = 0; i < 2; i++) {
        high[i] = std::max(high[i], 0);
        low[i] = std::min(low[i], high[i]);
    }
    x1 = std::clamp(x1, low[0], high[0]);
    x2 = std::clamp(x2, low[0], high[0]);
    y1 = std::clamp(y1, low[1], high[1]);
    y2 = std::clamp(y2, low[1], high[1]);
    DRAW.pub.drawArea = ScreenRect{x1, y1, x2, y2};
    DRAW.pub.drawAreaEmpty = (x1 == x2 || y1 == y2) ? 1 : 0;
    return 0;
}

// The window moved: the front surface's origin follows, and the last asked
// draw area is applied again against the new position.
int FollowWindowMove(void) {
    if (!DRAW.graphManagementStarted) return 0;
    if (DRAW.pub.target == SCREEN_FRONT && IsWindowed()) DRAW.pub.origin = ClientRect();
    return SetDrawArea(DRAW.lastAreaX1, DRAW.lastAreaY1, DRAW.lastAreaX2, DRAW.lastAreaY2);
}

int ClipRectToArea(ScreenRect* rect, const ScreenRect* area) {
    rect->bottom = std::max(std::min(rect->bottom, area->bottom), area->top);
    rect->top = std::max(std::min(rect->top, area->bottom), area->top);
    rect->right = std::max(std::min(rect->right, area->right), area->left);
    rect->left = std::max(std::min(rect->left, area->right), area->left);
    return 0;
}

int ClearDrawTarget(void) {
    WaitWhileInactive();
    if (DRAW.invalidTarget || !SCREEN.device || DRAW.selected == nullptr) return -1;
    ScreenRect r;
    if (DRAW.pub.target == SCREEN_FRONT && IsWindowed()) {
        r = VisibleClientRect();
    } else if (DRAW.pub.target == SCREEN_FRONT || DRAW.pub.target == SCREEN_BACK) {
        r = ScreenRect{0, 0, ScreenWidth(), ScreenHeight()};
    } else {
        r = ScreenRect{0, 0, DRAW.pub.targetWidth, DRAW.pub.targetHeight};
    }
    if (IsEmpty(r)) return 0;
    PlatformRect fill = {r.left, r.top, r.right, r.bottom};
    PLATFORM.screen->Fill(DRAW.selected, &fill, 0);
    return 0;
}

int DrawBox(int x1, int y1, int x2, int y2, uint32_t color, int fill) {
    WaitWhileInactive();
    if (DRAW.invalidTarget || !SCREEN.device || DRAW.selected == nullptr) return -1;
    if (DRAW.pub.drawAreaEmpty) return 0;
    // Far outside every target either way: kept there so that the edges below
    // cannot overflow.
    const int far = 1 << 30;
    x1 = std::clamp(x1, -far, far);
    y1 = std::clamp(y1, -far, far);
    x2 = std::clamp(x2, -far, far);
    y2 = std::clamp(y2, -far, far);
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    ScreenRect parts[4] = {{x1, y1, x2, y2}};
    int count = 1;
    if (!fill) {
        // The outline as four bars, none drawn twice.
        parts[0] = ScreenRect{x1, y1, x2, std::min(y1 + 1, y2)};
        parts[1] = ScreenRect{x1, std::max(y2 - 1, y1 + 1), x2, y2};
        parts[2] = ScreenRect{x1, y1 + 1, std::min(x1 + 1, x2), y2 - 1};
        parts[3] = ScreenRect{std::max(x2 - 1, x1 + 1), y1 + 1, x2, y2 - 1};
        count = 4;
    }
    // On the window's screen the draw area lies at the client area's place.
    int dx = 0, dy = 0;
    if (DRAW.pub.target == SCREEN_FRONT && IsWindowed()) {
        dx = DRAW.pub.origin.left;
        dy = DRAW.pub.origin.top;
    }
    for (int i = 0; i < count; i++) {
        ScreenRect r = Intersect(parts[i], DRAW.pub.drawArea);
        if (IsEmpty(r)) continue;
        PlatformRect where = {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
        PLATFORM.screen->Fill(DRAW.selected, &where, color);
    }
    return 0;
}

int SetTransColor(int red, int green, int blue) {
    DRAW.pub.transColor = (red & 0xFF) << 16 | (green & 0xFF) << 8 | (blue & 0xFF);
    return 0;
}

int BlitPresent(void) {
    if (!SCREEN.device) return -1;
    const PlatformScreenOps* ops = PLATFORM.screen;
    if (DRAW.pub.target == SCREEN_FRONT) {
        WaitWhileInactive();
        ops->WaitForVerticalBlank();
        return ProcessWindowMessages() != 0 ? -1 : 0;
    }
    WaitWhileInactive();
    if (SCREEN.primary == nullptr || SCREEN.back == nullptr) return 0;
    int w = ScreenWidth(), h = ScreenHeight();
    if (IsWindowed()) {
        // The part of the back surface whose window pixels lie on the desktop.
        ScreenRect client = ClientRect();
        ScreenRect visible = VisibleClientRect();
        if (SCREEN.vsyncWait) ops->WaitForVerticalBlank();
        if (IsEmpty(visible)) return 0;
        PlatformRect source = {visible.left - client.left, visible.top - client.top, visible.right - client.left,
                               visible.bottom - client.top};
        ops->Blit(SCREEN.primary, visible.left, visible.top, SCREEN.back, &source, 0);
        return 0;
    }
    PlatformRect source = {0, 0, w, h};
    if (SCREEN.vsyncWait) ops->WaitForVerticalBlank();
    // Only while the device says it is still drawing: an error ends the wait.
    while (ops->GetBlitStatus(SCREEN.primary) == 1) {
    }
    ops->Blit(SCREEN.primary, 0, 0, SCREEN.back, &source, 0);
    return 0;
}

int PresentScreen(void) {
    if (!SCREEN.device) return -1;
    WaitWhileInactive();
    if (IsWindowed() || SCREEN.use3DOff || !SCREEN.flipChain) return BlitPresent();
    if (DRAW.pub.target == SCREEN_FRONT && SCREEN.vsyncWait) {
        PLATFORM.screen->WaitForVerticalBlank();
        return ProcessWindowMessages() != 0 ? -1 : 0;
    }
    if (SCREEN.vsyncWait) PLATFORM.screen->WaitForVerticalBlank();
    PLATFORM.screen->Flip(SCREEN.primary);
    return 0;
}

// ---- Colours ---------------------------------------------------------------------

uint32_t MakeColorForFormat(const ColorInfo* info, int red, int green, int blue) {
    if (IsPaletteScreen()) return (uint32_t)NearestPaletteIndex(red, green, blue);
    return PackChannel(red, info->redWidth, info->redShift) | PackChannel(green, info->greenWidth, info->greenShift) |
           PackChannel(blue, info->blueWidth, info->blueShift);
}

uint32_t MakeColor(int red, int green, int blue) { return MakeColorForFormat(&SCREEN.colorInfo, red, green, blue); }

int GetColorComponents(uint32_t color, int* red, int* green, int* blue) {
    int r, g, b;
    if (IsPaletteScreen()) {
        if (color > 255) return -1;
        const PlatformPaletteEntry& e = SCREEN.paletteEntries[color];
        r = e.red;
        g = e.green;
        b = e.blue;
    } else {
        const ColorInfo& c = SCREEN.colorInfo;
        r = UnpackChannel(color, c.redMask, c.redWidth, c.redShift);
        g = UnpackChannel(color, c.greenMask, c.greenWidth, c.greenShift);
        b = UnpackChannel(color, c.blueMask, c.blueWidth, c.blueShift);
    }
    if (red != nullptr) *red = r;
    if (green != nullptr) *green = g;
    if (blue != nullptr) *blue = b;
    return 0;
}

uint32_t ConvertColorFormat(const ColorInfo* dst, const ColorInfo* src, uint32_t value) {
    const uint32_t srcMasks[4] = {src->redMask, src->greenMask, src->blueMask, src->alphaMask};
    const int srcWidths[4] = {src->redWidth, src->greenWidth, src->blueWidth, src->alphaWidth};
    const int srcShifts[4] = {src->redShift, src->greenShift, src->blueShift, src->alphaShift};
    const int dstWidths[4] = {dst->redWidth, dst->greenWidth, dst->blueWidth, dst->alphaWidth};
    const int dstShifts[4] = {dst->redShift, dst->greenShift, dst->blueShift, dst->alphaShift};
    uint32_t out = 0;
    for (int i = 0; i < 4; i++) {
        if (i == 3 && srcWidths[3] == 0) {
            out |= dst->alphaMask;
            break;
        }
        if (srcShifts[i] >= 32 || dstShifts[i] >= 32) continue;
        uint64_t v = (value & srcMasks[i]) >> srcShifts[i];
        if (srcWidths[i] < dstWidths[i]) v <<= (dstWidths[i] - srcWidths[i]);
        else v >>= (srcWidths[i] - dstWidths[i]);
        out |= (uint32_t)(v << dstShifts[i]);
    }
    return out;
}

// ---- Pixel access --------------------------------------------------------------------

int LockScreenSurface(ScreenSurface* s, uint8_t** pixels, int* pitch, ScreenRect* visible) {
    if (s == nullptr || !SCREEN.device) return -1;
    uint8_t* memory = nullptr;
    int memoryPitch = 0, width = 0, height = 0;
    if (PLATFORM.screen->Lock(s, &memory, &memoryPitch, &width, &height) != 0) return -1;
    ScreenRect v = {0, 0, width, height};
    uint8_t* start = memory;
    if (s->primary && IsWindowed()) {
        // The window's memory, placed on the desktop and cut to it.
        ScreenRect client = ClientRect();
        ScreenRect window = {client.left, client.top, client.left + width, client.top + height};
        v = Intersect(window, DesktopRect());
        if (IsEmpty(v)) {
            PLATFORM.screen->Unlock(s);
            return -1;
        }
        start = memory + (size_t)(v.top - window.top) * memoryPitch +
                (size_t)(v.left - window.left) * SCREEN.colorInfo.bytesPerPixel;
    }
    *pixels = start;
    *pitch = memoryPitch;
    if (visible != nullptr) *visible = v;
    return 0;
}

void UnlockScreenSurface(ScreenSurface* s) {
    if (s != nullptr && SCREEN.device) PLATFORM.screen->Unlock(s);
}

int FillScreenSurface(ScreenSurface* s, uint32_t color) {
    if (s == nullptr || !SCREEN.device) return -1;
    return PLATFORM.screen->Fill(s, nullptr, color);
}

int DrawImageToTarget(int image, int x, int y, int transparent, const ScreenRect* clip) {
    if (DRAW.invalidTarget || DRAW.selected == nullptr || !SCREEN.device) return -1;
    ScreenSurface* surface = GetImageSurface(image);
    ScreenRect piece;
    if (surface == nullptr || GetImageRect(image, &piece) != 0) return -1;
    if (DRAW.pub.drawAreaEmpty) return 0;
    ScreenRect to = {x, y, x + piece.right - piece.left, y + piece.bottom - piece.top};
    ScreenRect cut = Intersect(to, DRAW.pub.drawArea);
    if (clip != nullptr) cut = Intersect(cut, *clip);
    if (IsEmpty(cut)) return 0;
    PlatformRect source = {piece.left + cut.left - x, piece.top + cut.top - y, piece.left + cut.right - x,
                           piece.top + cut.bottom - y};
    int dx = cut.left, dy = cut.top;
    if (DRAW.pub.target == SCREEN_FRONT && IsWindowed()) {
        dx += DRAW.pub.origin.left;
        dy += DRAW.pub.origin.top;
    }
    return PLATFORM.screen->Blit(DRAW.selected, dx, dy, surface, &source, transparent ? 1 : 0);
}
