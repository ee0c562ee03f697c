// text_test_support.h: font records on the fake font engine and pixel memory
// with guard bytes after every row and after the last one.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/fake/fake_font.h"
#include "text/text_internal.h"

const uint8_t GUARD = 0xA5;
const uint8_t BACKGROUND = 0x3C;

struct GuardedMemory {
    int width, height, bytesPerPixel;
    int pitch;                    // row bytes + 8 guard bytes
    std::vector<uint8_t> bytes;   // height x pitch + 64 guard bytes
    PlatformRect visible;
    int locks = 0, unlocks = 0;

    GuardedMemory(int w, int h, int bitsPerPixel) : width(w), height(h), bytesPerPixel(bitsPerPixel / 8) {
        pitch = w * bytesPerPixel + 8;
        bytes.assign((size_t)pitch * h + 64, GUARD);
        for (int y = 0; y < h; y++) memset(&bytes[(size_t)y * pitch], BACKGROUND, (size_t)w * bytesPerPixel);
        visible = {0, 0, w, h};
    }
    uint32_t Pixel(int x, int y) const {
        uint32_t v = 0;
        memcpy(&v, &bytes[(size_t)y * pitch + (size_t)x * bytesPerPixel], (size_t)bytesPerPixel);
        return v;
    }
    uint32_t Background() const {
        uint32_t v = 0;
        memset(&v, BACKGROUND, (size_t)bytesPerPixel);
        return v;
    }
    bool GuardsHold() const {
        for (int y = 0; y < height; y++) {
            for (int i = width * bytesPerPixel; i < pitch; i++) {
                if (bytes[(size_t)y * pitch + i] != GUARD) return false;
            }
        }
        for (size_t i = (size_t)height * pitch; i < bytes.size(); i++) {
            if (bytes[i] != GUARD) return false;
        }
        return true;
    }

    static int Lock(void* context, uint8_t** pixels, int* pitch, PlatformRect* visible) {
        GuardedMemory* m = (GuardedMemory*)context;
        m->locks++;
        *pixels = m->bytes.data() + (size_t)m->visible.top * m->pitch + (size_t)m->visible.left * m->bytesPerPixel;
        *pitch = m->pitch;
        *visible = m->visible;
        return 0;
    }
    static void Unlock(void* context) { ((GuardedMemory*)context)->unlocks++; }

    FontDrawTarget Target(uint32_t red = 0xF800, uint32_t green = 0x07E0, uint32_t blue = 0x001F) {
        if (bytesPerPixel == 4) {
            red = 0xFF0000;
            green = 0xFF00;
            blue = 0xFF;
        }
        return FontDrawTarget{Lock, Unlock, this, red, green, blue};
    }
};

// A font record made on the fake engine; freed with the test.
struct FakeFont {
    FontRecord* record;

    FakeFont(int type, int screenBits = 32) {
        record = (FontRecord*)calloc(1, sizeof(FontRecord));
        built = BuildFontRecord(record, nullptr, 16, 6, type, screenBits);
    }
    ~FakeFont() {
        FreeFontRecordParts(record);
        free(record);
    }
    int built;

    // Every present entry points at an in-use slot that points back at it.
    bool IndexConsistent() const {
        for (int key = 0; key < FONT_CHAR_KEYS; key++) {
            const CharIndexEntry& e = record->index[key];
            if (!e.present) continue;
            if (!e.slot || !e.slot->inUse || e.slot->entry != &e) return false;
        }
        return record->nextSlot >= 0 && record->nextSlot < record->slotCount;
    }
};

inline int DrawInto(FontRecord* font, GuardedMemory& m, int x, int y, const char* text, uint32_t color,
                    uint32_t edge = 0, const PlatformRect* clip = nullptr, int transparent = 1,
                    uint8_t* alpha = nullptr, int alphaPitch = 0) {
    PlatformRect whole = {0, 0, m.width, m.height};
    FontDrawTarget target = m.Target();
    return FontCacheStringDraw(font, x, y, text, color, &target, alpha, alphaPitch, clip ? clip : &whole,
                               m.bytesPerPixel * 8, transparent, edge);
}

class FakeFontTest : public ::testing::Test {
protected:
    void SetUp() override { InstallFakeFontEngine(); }
};

// What the fake engine's glyphs must look like on the target, worked out here
// from their ink and coverage (FakeGlyphInk, FakeGlyphLevel) and the pixel
// rules of each font type, not through the library's own code. Positions are
// relative to the character's pen position and the string's top.
struct ModelChannel {
    int shift, bits;
};
struct ModelFormat {
    ModelChannel ch[3];  // red, green, blue
};
const ModelFormat MODEL_32 = {{{16, 8}, {8, 8}, {0, 8}}};
const ModelFormat MODEL_565 = {{{11, 5}, {5, 6}, {0, 5}}};
const ModelFormat MODEL_555 = {{{10, 5}, {5, 5}, {0, 5}}};

struct ModelPixel {
    bool drawn;      // false: the target keeps its pixel (transparent) or gets 0 (opaque)
    uint32_t value;
    int alpha;       // the alpha byte, -1 when it is not written
};

struct GlyphModel {
    int type;
    unsigned code;
    int advance;       // the fake engine's advance of the code
    int width, height; // the character's box on the target
    uint32_t color, edge;
    ModelFormat format;

    GlyphModel(int t, unsigned c, uint32_t colour, uint32_t edgeColour, const ModelFormat& f)
        : type(t), code(c), color(colour), edge(edgeColour), format(f) {
        advance = (c & ~FONT_CODE_UNICODE) < 0x100 ? FAKE_FONT.halfAdvance : FAKE_FONT.fullAdvance;
        int room = (t & FONT_TYPE_EDGE) ? 2 : 0;
        width = advance + room;
        height = FAKE_FONT.ascent + FAKE_FONT.descent + room;
    }

    // Type 1: the body one pixel in; the ring is every empty 4-neighbour of it.
    bool Body(int x, int y) const { return FakeGlyphInk(code, x - 1, y - 1) != 0 && x >= 1 && y >= 1; }

    // Types 2 and 3: coverage level of the black box (advance - 2 wide, ascent
    // high, its top on the string's top) at box pixel (c, r).
    int Level(int c, int r) const {
        int bw = advance - 2, bh = FAKE_FONT.ascent;
        if (c < 0 || r < 0 || c >= bw || r >= bh) return 0;
        return FakeGlyphLevel(code, c, r);
    }

    // Type 3 edge levels of the whole box: each inked pixel raises its four
    // neighbours to its level, unless the neighbour is fully covered itself; the
    // box's outer sides always get it.
    std::vector<int> EdgeLevels() const {
        std::vector<int> e((size_t)width * height, 0);
        int bw = advance - 2, bh = FAKE_FONT.ascent, x0 = 2, y0 = 1;
        auto raise = [&](int x, int y, int v, bool always, int neighbour) {
            int& cell = e[(size_t)y * width + x];
            if (always || (cell < v && neighbour < 16)) cell = v;
        };
        for (int r = 0; r < bh; r++) {
            for (int c = 0; c < bw; c++) {
                int v = Level(c, r);
                if (!v) continue;
                int x = x0 + c, y = y0 + r;
                raise(x, y - 1, v, r == 0, Level(c, r - 1));
                raise(x, y + 1, v, r == bh - 1, Level(c, r + 1));
                raise(x + 1, y, v, c == bw - 1, Level(c + 1, r));
                raise(x - 1, y, v, c == 0, Level(c - 1, r));
            }
        }
        return e;
    }

    uint32_t Mix(int w) const {
        uint32_t out = 0;
        for (const ModelChannel& ch : format.ch) {
            int mask = (1 << ch.bits) - 1;
            int c = (int)(color >> ch.shift) & mask, e = (int)(edge >> ch.shift) & mask;
            out |= (uint32_t)((e + (((c - e) * w) >> 8)) & mask) << ch.shift;
        }
        return out;
    }

    ModelPixel At(int x, int y) const {
        const ModelPixel none = {false, 0, -1};
        switch (type) {
        case FONT_PLAIN:
            return FakeGlyphInk(code, x, y) ? ModelPixel{true, color, -1} : none;
        case FONT_EDGED: {
            if (Body(x, y)) return {true, color, -1};
            bool ring = Body(x - 1, y) || Body(x + 1, y) || Body(x, y - 1) || Body(x, y + 1);
            return ring ? ModelPixel{true, edge, -1} : none;
        }
        case FONT_SMOOTH: {
            int v = Level(x - 1, y);
            return v ? ModelPixel{true, color, v * 16 - 1} : ModelPixel{false, 0, 0};
        }
        default: {
            int v = Level(x - 2, y - 1);
            int level = EdgeLevels()[(size_t)y * width + x];
            int b = v ? v * 16 - 1 : 0, e = level ? level * 16 - 1 : 0;
            if (b == 255) return {true, color, 255};
            if (b) {
                int a = b + ((e * (256 - b)) >> 8);
                return {true, Mix((b * 256) / a), a};
            }
            if (e) return {true, edge, e};
            return {false, 0, 0};
        }
        }
    }
};
