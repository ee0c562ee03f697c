// font_draw.cpp: copying a string's cached glyphs into locked pixel memory.
//
// The string's missing characters are rasterised in one batch before the
// lock; then each character's cell is copied, cut to the clip rectangle and to
// the memory the lock gives, by the rules of its font type and the
// destination's depth (8, 16 or 32 bits per pixel).
#include <algorithm>
#include <cstring>

#include "core/core.h"
#include "text/text_internal.h"

namespace {

// The two character buffers every string shares: its characters and the ones
// missing from the cache (as character list entries).
struct StringBuffers {
    uint32_t keys[FONT_STRING_LIMIT];
    uint8_t missing[(int)FONT_STRING_LIMIT * (int)FONT_CHAR_ENTRY_BYTES + 1];
};

StringBuffers STRINGS = {};

// A Shift-JIS key's two bytes and a zero, or a code point's three low bytes.
void PutEntry(uint8_t* entry, uint32_t key) {
    entry[0] = (uint8_t)(key & 0xFF);
    entry[1] = (uint8_t)(key >> 8);
    entry[2] = (uint8_t)(key >> 16);
}

// One character's visible part: source cell pixels and destination pixels.
struct Copy {
    uint8_t* dst;          // first destination pixel
    int dstPitch;          // bytes
    uint8_t* alpha;        // first alpha byte, or null
    int alphaPitch;
    const uint8_t* src;    // first source row
    int srcPitch;          // bytes
    int srcX;              // first source pixel in the row
    int width, height;     // pixels
};

template <typename P>
void CopyPlain(const Copy& c, P color, int transparent) {
    for (int y = 0; y < c.height; y++) {
        const uint8_t* s = c.src + (size_t)y * c.srcPitch;
        P* d = (P*)(c.dst + (size_t)y * c.dstPitch);
        int i = 0;
        while (i < c.width) {
            int bit = c.srcX + i;
            int n = std::min(8 - (bit & 7), c.width - i);
            // Only the bits of this character's visible pixels: never a byte past them.
            uint8_t bits = (uint8_t)((s[bit >> 3] << (bit & 7)) & (0xFF00 >> n));
            if (transparent) {
                // Only the set bits, lowest first: glyph ink is sparse.
                for (unsigned b = bits; b != 0; b &= b - 1) {
                    d[i + 7 - __builtin_ctz(b)] = color;
                }
            } else {
                for (int k = 0; k < n; k++, bits = (uint8_t)(bits << 1)) {
                    d[i + k] = (bits & 0x80) ? color : 0;
                }
            }
            i += n;
        }
    }
}

template <typename P>
void CopyEdged(const Copy& c, P color, P edge, int transparent) {
    for (int y = 0; y < c.height; y++) {
        const uint8_t* s = c.src + (size_t)y * c.srcPitch + c.srcX;
        P* d = (P*)(c.dst + (size_t)y * c.dstPitch);
        for (int x = 0; x < c.width; x++) {
            uint8_t v = s[x];
            if (v & 2) {
                d[x] = color;
            } else if (v & 1) {
                d[x] = edge;
            } else if (!transparent) {
                d[x] = 0;
            }
        }
    }
}

template <typename P>
void CopySmooth(const Copy& c, P color, int transparent) {
    for (int y = 0; y < c.height; y++) {
        const uint8_t* s = c.src + (size_t)y * c.srcPitch + c.srcX;
        P* d = (P*)(c.dst + (size_t)y * c.dstPitch);
        uint8_t* a = c.alpha ? c.alpha + (size_t)y * c.alphaPitch : nullptr;
        for (int x = 0; x < c.width; x++) {
            uint8_t v = s[x];
            if (v) {
                d[x] = color;
                if (a) a[x] = v;
            } else if (!transparent) {
                d[x] = 0;
                if (a) a[x] = 0;
            }
        }
    }
}

struct Channel {
    int shift;
    uint32_t mask;
};

struct BlendChannels {
    Channel ch[3];
};

uint32_t Blend(uint32_t color, uint32_t edge, int w, const BlendChannels& b) {
    uint32_t out = 0;
    for (const Channel& ch : b.ch) {
        int e = (int)((edge & ch.mask) >> ch.shift);
        int c = (int)((color & ch.mask) >> ch.shift);
        int v = e + (((c - e) * w) >> 8);
        out |= ((uint32_t)v << ch.shift) & ch.mask;
    }
    return out;
}

template <typename P>
void CopySmoothEdged(const Copy& c, P color, P edge, int transparent, const BlendChannels& channels) {
    for (int y = 0; y < c.height; y++) {
        const uint16_t* s = (const uint16_t*)(c.src + (size_t)y * c.srcPitch) + c.srcX;
        P* d = (P*)(c.dst + (size_t)y * c.dstPitch);
        uint8_t* a = c.alpha ? c.alpha + (size_t)y * c.alphaPitch : nullptr;
        for (int x = 0; x < c.width; x++) {
            int body = s[x] & 0xFF, e = s[x] >> 8;
            if (body == 255) {
                d[x] = color;
                if (a) a[x] = 255;
            } else if (body) {
                int alpha = body + ((e * (256 - body)) >> 8);
                int w = (body * 256) / alpha;
                d[x] = (P)Blend(color, edge, w, channels);
                if (a) a[x] = (uint8_t)alpha;
            } else if (e) {
                d[x] = edge;
                if (a) a[x] = (uint8_t)e;
            } else if (!transparent) {
                d[x] = 0;
                if (a) a[x] = 0;
            }
        }
    }
}

// The channels a type-3 blend works on; 0 when the format has none it knows.
int ChannelsOf(const FontDrawTarget* target, int bitsPerPixel, BlendChannels* out) {
    if (bitsPerPixel == 32) {
        *out = BlendChannels{{{16, 0xFF0000u}, {8, 0xFF00u}, {0, 0xFFu}}};
        return 1;
    }
    if (target->redMask == 0xF800 && target->greenMask == 0x07E0 && target->blueMask == 0x001F) {
        *out = BlendChannels{{{11, 0xF800u}, {5, 0x07E0u}, {0, 0x001Fu}}};
        return 1;
    }
    if (target->redMask == 0x7C00 && target->greenMask == 0x03E0 && target->blueMask == 0x001F) {
        *out = BlendChannels{{{10, 0x7C00u}, {5, 0x03E0u}, {0, 0x001Fu}}};
        return 1;
    }
    return 0;
}

template <typename P>
void CopyChar(const FontRecord* font, const Copy& c, uint32_t color, uint32_t edge, int transparent,
              const FontDrawTarget* target, int bitsPerPixel) {
    switch (font->type) {
    case FONT_PLAIN:
        CopyPlain<P>(c, (P)color, transparent);
        break;
    case FONT_EDGED:
        CopyEdged<P>(c, (P)color, (P)edge, transparent);
        break;
    case FONT_SMOOTH:
        CopySmooth<P>(c, (P)color, transparent);
        break;
    case FONT_SMOOTH_EDGED: {
        BlendChannels channels;
        if (ChannelsOf(target, bitsPerPixel, &channels)) CopySmoothEdged<P>(c, (P)color, (P)edge, transparent, channels);
        break;
    }
    }
}

void LockTarget(const FontDrawTarget* target, uint8_t** pixels, int* pitch, PlatformRect* visible) {
    if (target->Lock(target->context, pixels, pitch, visible) != 0)
        ExitWithError("描画先サーフェスのロックに失敗しました in FontCacheStringDraw");
}

}  // namespace

int FontCacheStringDraw(FontRecord* font, int x, int y, const char* text, uint32_t color,
                        const FontDrawTarget* target, uint8_t* alpha, int alphaPitch, const PlatformRect* clip,
                        int bitsPerPixel, int transparent, uint32_t edgeColor) {
    if (!text || !text[0]) return 0;
    int count = SplitTextIntoKeys(text, STRINGS.keys, font->unicode);
    int missing = 0;
    for (int i = 0; i < count; i++) {
        const CharIndexEntry* known = FindCharEntry(font, STRINGS.keys[i]);
        if (known && known->present) continue;
        if (missing >= FONT_STRING_LIMIT || missing >= font->slotCount) continue;
        PutEntry(STRINGS.missing + missing * FONT_CHAR_ENTRY_BYTES, STRINGS.keys[i]);
        missing++;
    }
    if (missing > 0) AddCharsToFontCache(font, missing, STRINGS.missing);

    if (bitsPerPixel == 8) {
        color &= 0xFF;
        edgeColor &= 0xFF;
    } else if (bitsPerPixel == 16) {
        color &= 0xFFFF;
        edgeColor &= 0xFFFF;
    }
    int bytesPerPixel = bitsPerPixel / 8;
    // Smooth glyphs never go to an 8-bit destination; other depths take nothing.
    int drawable = (bitsPerPixel == 8 && !(font->type & FONT_TYPE_SMOOTH)) || bitsPerPixel == 16 || bitsPerPixel == 32;

    uint8_t* pixels = nullptr;
    int pitch = 0;
    PlatformRect visible;
    PlatformRect area;
    auto lock = [&]() {
        LockTarget(target, &pixels, &pitch, &visible);
        // Only the memory the lock gives is written: the clip cut to it.
        area = {std::max(clip->left, visible.left), std::max(clip->top, visible.top),
                std::min(clip->right, visible.right), std::min(clip->bottom, visible.bottom)};
        area.right = std::max(area.left, area.right);
        area.bottom = std::max(area.top, area.bottom);
    };
    lock();

    // The pen in 64 bits: a string started near the end of the int range still
    // walks (and is cut away) without overflowing.
    int64_t pen = x;
    int total = 0;
    for (int i = 0; i < count; i++) {
        CharIndexEntry* entry = FindCharEntry(font, STRINGS.keys[i]);
        if (!entry || !entry->present) {
            // Left out of the batch, or pushed out of the cache by it.
            target->Unlock(target->context);
            uint8_t one[FONT_CHAR_ENTRY_BYTES + 1] = {};
            PutEntry(one, STRINGS.keys[i]);
            if (!AddCharsToFontCache(font, 1, one)) ExitWithError("テキストキャッシュの作成に失敗しました");
            entry = FindCharEntry(font, STRINGS.keys[i]);
            lock();
        }
        CacheSlot* slot = entry->slot;
        int side = font->cellSize;
        int left = (int)std::clamp<int64_t>(pen, area.left, area.right);
        int right = (int)std::clamp<int64_t>(pen + std::min(slot->width, side), area.left, area.right);
        int top = std::clamp(y, area.top, area.bottom);
        int bottom = (int)std::clamp<int64_t>((int64_t)y + std::min(slot->height, side), area.top, area.bottom);
        if (drawable && right > left && bottom > top) {
            int k = slot->number;
            int cellX = (k / font->cellsPerColumn) * side, cellY = (k % font->cellsPerColumn) * side;
            Copy c;
            c.dst = pixels + (size_t)(top - visible.top) * pitch + (size_t)(left - visible.left) * bytesPerPixel;
            c.dstPitch = pitch;
            c.alpha = alpha ? alpha + (size_t)top * alphaPitch + left : nullptr;
            c.alphaPitch = alphaPitch;
            c.src = font->cachePixels + (size_t)(cellY + (int64_t)top - y) * font->cachePitch;
            c.srcPitch = font->cachePitch;
            c.srcX = (int)(cellX + left - pen);
            c.width = right - left;
            c.height = bottom - top;
            if (bitsPerPixel == 8) {
                CopyChar<uint8_t>(font, c, color, edgeColor, transparent, target, bitsPerPixel);
            } else if (bitsPerPixel == 16) {
                CopyChar<uint16_t>(font, c, color, edgeColor, transparent, target, bitsPerPixel);
            } else {
                CopyChar<uint32_t>(font, c, color, edgeColor, transparent, target, bitsPerPixel);
            }
        }
        pen += slot->width;
        total += slot->width;
    }
    target->Unlock(target->context);
    return total;
}
