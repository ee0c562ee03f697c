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
