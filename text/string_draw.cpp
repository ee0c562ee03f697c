// string_draw.cpp: drawing strings into the draw target, straight into its
// surface or through the font's work image, and the blend setting.
//
// There is no 3D device in this library, so every string goes the software
// way; blend modes other than 0 and smooth fonts go through the work image.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "screen/screen.h"
#include "text/text_internal.h"

namespace {

int LockSurface(void* context, uint8_t** pixels, int* pitch, PlatformRect* visible) {
    ScreenRect r;
    if (LockScreenSurface((ScreenSurface*)context, pixels, pitch, &r) != 0) return -1;
    *visible = PlatformRect{r.left, r.top, r.right, r.bottom};
    return 0;
}

void UnlockSurface(void* context) {
    UnlockScreenSurface((ScreenSurface*)context);
}

enum { FAR_OFF = 1 << 30 };

int Clamp(int v, int low, int high) {
    return v < low ? low : v > high ? high : v;
}

// Copies text into out (capacity bytes with the terminator) without cutting a
// character. A Shift-JIS lead byte without its trail is dropped: kept, it would
// pair with whatever is appended after it.
int CopyWholeCharacters(char* out, int capacity, const char* text) {
    int n = CutToWholeCharacters(text, capacity - 1);
    if (n > 0) memcpy(out, text, (size_t)n);
    out[n] = '\0';
    return n;
}

// Digits of value in radix 2..36; radix 10 writes a sign, the others the 32-bit pattern.
int FormatNumber(char* out, int number, int radix) {
    char digits[40];
    int n = 0, length = 0;
    uint32_t magnitude = (uint32_t)number;
    if (radix == 10 && number < 0) {
        out[length++] = '-';
        magnitude = 0u - magnitude;
    }
    do {
        uint32_t d = magnitude % (uint32_t)radix;
        digits[n++] = (char)(d < 10 ? '0' + d : 'a' + d - 10);
        magnitude /= (uint32_t)radix;
    } while (magnitude);
    while (n) out[length++] = digits[--n];
    out[length] = '\0';
    return length;
}

int SoftDrawStringToHandle(int x, int y, const char* text, uint32_t color, int handle, uint32_t edgeColor) {
    FontRecord* font = GetFontManageDataToHandle(handle);
    if (!font) return -1;
    const DrawState* state = GetDrawState();
    ScreenSurface* surface = GetDrawSurface();
    if (!surface) return -1;
    const ColorInfo* info = GetColorInfo();
    int bits = info->colorBitDepth;
    int smooth = (font->type & FONT_TYPE_SMOOTH) != 0;
    // Far outside every surface either way: kept there so that the sums below
    // (position + width, + window origin) cannot overflow.
    x = Clamp(x, -FAR_OFF, FAR_OFF);
    y = Clamp(y, -FAR_OFF, FAR_OFF);

    if ((state->blendMode != 0 && bits != 8) || smooth) {
        if (font->workImage < 0) return -1;
        ScreenSurface* work = GetImageSurface(font->workImage);
        if (!work) return -1;
        // A key colour the string's own colours are unlikely to have.
        uint32_t key = 0;
        if ((state->blendMode == 1 || smooth) && bits != 8) {
            uint32_t v = ~(color + edgeColor + 100);
            key = MakeColor((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF) &
                  (info->redMask | info->greenMask | info->blueMask);
        }
        SetImageColorKey(font->workImage, key);
        uint32_t keyValue = bits == 8 ? 0 : MakeColor((key >> 16) & 0xFF, (key >> 8) & 0xFF, key & 0xFF);
        FillScreenSurface(work, keyValue);
        int alphaPitch = 0;
        uint8_t* alpha = GetImageAlphaPlane(font->workImage, &alphaPitch);
        // Only the string's own rows: the rest of the cell would be drawn as well
        // when the image is copied without its key.
        int rows = std::min(font->lineHeight, font->workHeight);
        // The work image is only as wide as the screen: it starts at the string's
        // first visible pixel, so a string begun left of the draw area keeps its
        // visible part whole.
        int start = std::max(x, state->drawArea.left);
        ScreenRect cut = {0, 0, font->workWidth, rows};
        int width = FontCacheStringDrawToHandle(x - start, 0, text, color, work, alpha, alphaPitch, &cut, bits, 1,
                                                handle, edgeColor);
        if (width == -1) return -1;
        // Only the string's own width of the work image, inside the draw area. The
        // draw area itself is left alone: it is what the program asked for, and
        // what a window move applies again.
        ScreenRect piece = {start, y, x + width, y + rows};
        DrawImageToTarget(font->workImage, start, y, state->blendMode == 1 || smooth, &piece);
        return 0;
    }

    ScreenRect clip = {state->drawArea.left + state->origin.left, state->drawArea.top + state->origin.top,
                       state->drawArea.right + state->origin.left, state->drawArea.bottom + state->origin.top};
    int width = FontCacheStringDrawToHandle(x + state->origin.left, y + state->origin.top, text, color, surface,
                                            nullptr, 0, &clip, bits, 1, handle, edgeColor);
    return width == -1 ? -1 : 0;
}

}  // namespace

int FontCacheStringDrawToHandle(int x, int y, const char* text, uint32_t color, ScreenSurface* destination,
                                uint8_t* alpha, int alphaPitch, const ScreenRect* clip, int bitsPerPixel,
                                int transparent, int handle, uint32_t edgeColor) {
    if (!IsScreenDeviceReady()) return -1;
    if (!text || !text[0]) return 0;
    if (!IsFontHandleValid(handle)) {
        WriteLog("フォントハンドル値が異常です終了します\n");
        WriteLogFormat("\tin FontCacheStringDrawToHandle  StrData = %s   FontHandle = %d  ", text, handle);
        ExitWithError("");
    }
    const ColorInfo* info = GetColorInfo();
    FontDrawTarget target = {LockSurface, UnlockSurface, destination, info->redMask, info->greenMask, info->blueMask};
    PlatformRect area = {clip->left, clip->top, clip->right, clip->bottom};
    return FontCacheStringDraw(GetFontManageDataToHandle(handle), x, y, text, color, &target, alpha, alphaPitch, &area,
                               bitsPerPixel, transparent, edgeColor);
}

int DrawStringToHandle(int x, int y, const char* text, uint32_t color, int handle, uint32_t edgeColor) {
    if (!IsScreenDeviceReady()) return -1;
    if (GetDrawState()->drawAreaEmpty) return 0;
    if (!text) return 0;
    if (!IsFontHandleValid(handle)) {
        WriteLog("フォントハンドル値が異常です終了します\n");
        WriteLogFormat("\tin DrawStringToHandle  x = %d , y = %d , String = %s  Color = %d , FontHandle = %d  ", x, y,
                       text, (int)color, handle);
        ExitWithError("");
    }
    if (WaitWhileInactive() != 0) return 0;
    // No drawing mask exists in this library (DrawState.maskFlag stays 0), so
    // there is no mask rectangle to refresh around the string.
    return SoftDrawStringToHandle(x, y, text, color, handle, edgeColor);
}

int DrawText(int x, int y, const char* text, uint32_t color, uint32_t edgeColor) {
    // No default font could be made (reported when it was tried): nothing to draw with.
    if (GetDefaultFontHandle() == -1) return -1;
    return DrawStringToHandle(x, y, text, color, GetDefaultFontHandle(), edgeColor);
}

int DrawLabeledNumber(int x, int y, const char* label, int number, int radix, uint32_t color, uint32_t edgeColor) {
    if (radix < 2 || radix > 36 || GetDefaultFontHandle() == -1) return 0;
    // Label (cut to 255 bytes on a whole character), "=", and up to 32 digits or a sign and 10.
    char text[FONT_STRING_LIMIT + 1 + 33 + 1];
    int n = CopyWholeCharacters(text, FONT_STRING_LIMIT, label);
    text[n++] = '=';
    FormatNumber(text + n, number, radix);
    DrawStringToHandle(x, y, text, color, GetDefaultFontHandle(), edgeColor);
    return 0;
}

int SetBlendMode(int mode, int param) {
    const DrawState* state = GetDrawState();
    if (mode == state->blendMode && param == state->blendParam) return 0;
    WaitWhileInactive();
    // Mode 6 goes to the drawing backends only; there is none besides the surfaces here.
    if (mode == 6) return 0;
    SetDrawBlendState(mode, std::clamp(param, 0, 255));
    return 0;
}
