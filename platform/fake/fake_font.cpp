// fake_font.cpp: the test font engine of fake_font.h.
#include "platform/fake/fake_font.h"

#include <algorithm>
#include <cstring>

#include "platform/font_engine.h"
#include "platform/platform.h"

FakeFontEngine FAKE_FONT;

struct PlatformFont {
    int height;
    int weight;
};

namespace {

int IsBlank(unsigned code) {
    if (code == 0x20 || code == 0x8140 || code == (FONT_CODE_UNICODE | 0x20) || code == (FONT_CODE_UNICODE | 0x3000))
        return 1;
    return std::find(FAKE_FONT.blankCodes.begin(), FAKE_FONT.blankCodes.end(), code) != FAKE_FONT.blankCodes.end();
}

// Unicode characters (a UTF-8 program's) of Latin-1 are half width, the rest full.
int AdvanceOf(unsigned code) {
    return (code & ~FONT_CODE_UNICODE) < 0x100 ? FAKE_FONT.halfAdvance : FAKE_FONT.fullAdvance;
}

PlatformFont* FakeCreateFont(const char* name, int pixelHeight, int weight) {
    FAKE_FONT.lastHeight = pixelHeight;
    FAKE_FONT.lastWeight = weight;
    if (FAKE_FONT.createFails) return nullptr;
    FAKE_FONT.created++;
    return new PlatformFont{pixelHeight, weight};
}

void FakeDeleteFont(PlatformFont* font) {
    if (!font) return;
    FAKE_FONT.deleted++;
    delete font;
}

int FakeGetFontMetrics(PlatformFont* font, PlatformFontMetrics* metrics) {
    metrics->ascent = FAKE_FONT.ascent;
    metrics->descent = FAKE_FONT.descent;
    metrics->height = FAKE_FONT.ascent + FAKE_FONT.descent;
    metrics->maxCharWidth = FAKE_FONT.maxCharWidth;
    return 0;
}

int FakeGetCharExtent(PlatformFont* font, unsigned code, int* width, int* height) {
    *width = AdvanceOf(code);
    *height = FAKE_FONT.ascent + FAKE_FONT.descent;
    return 0;
}

int FakeDrawCharMono(PlatformFont* font, unsigned code, uint8_t* box, int pitch, int width, int height) {
    FAKE_FONT.monoCalls++;
    if (IsBlank(code)) return 0;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            if (FakeGlyphInk(code, x, y)) box[y * pitch + x] = 1;
        }
    }
    return 0;
}

int FakeGetCharCoverage(PlatformFont* font, unsigned code, PlatformGlyphCoverage* info, uint8_t* buffer,
                        int bufferSize) {
    FAKE_FONT.coverageCalls++;
    *info = PlatformGlyphCoverage{1, 1, 0, 4, 0};
    if (IsBlank(code)) return 0;
    int w = FAKE_FONT.coverageWidth > 0 ? FAKE_FONT.coverageWidth : std::max(1, AdvanceOf(code) - 2);
    int h = FAKE_FONT.coverageHeight > 0 ? FAKE_FONT.coverageHeight : FAKE_FONT.ascent;
    info->blackBoxWidth = w;
    info->blackBoxHeight = h;
    info->originY = FAKE_FONT.ascent;  // the black box starts at the top of the ascent
    info->stride = (w + 3) & ~3;
    info->size = info->stride * h;
    if (!buffer) return 0;
    if (bufferSize < info->size) return -1;
    memset(buffer, 0, (size_t)info->size);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) buffer[y * info->stride + x] = (uint8_t)FakeGlyphLevel(code, x, y);
    }
    return 0;
}

}  // namespace

const PlatformFontOps FAKE_FONT_OPS = {
    FakeCreateFont, FakeDeleteFont, FakeGetFontMetrics, FakeGetCharExtent, FakeDrawCharMono, FakeGetCharCoverage,
};

int FakeGlyphInk(unsigned code, int x, int y) {
    if (IsBlank(code)) return 0;
    if (y >= FAKE_FONT.ascent + FAKE_FONT.descent || x >= AdvanceOf(code)) return 0;
    return (int)((x * 7u + y * 3u + code) % 5u) == 0;
}

int FakeGlyphLevel(unsigned code, int x, int y) {
    return (int)((x * 5u + y * 3u + code) % 17u);
}

void InstallFakeFontEngine(void) {
    FAKE_FONT = FakeFontEngine{};
    FAKE_FONT.ascent = 14;
    FAKE_FONT.descent = 2;
    FAKE_FONT.halfAdvance = 8;
    FAKE_FONT.fullAdvance = 16;
    FAKE_FONT.maxCharWidth = 16;
    PLATFORM.font = &FAKE_FONT_OPS;
}
