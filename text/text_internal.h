// text_internal.h: the font record, its glyph cache and the string walk, for
// the text module's own files and its tests.
//
// The glyph cache is a plain buffer per font: a grid of square cells, one
// character per cell, filled in round-robin order. Its pixels are 1 bit (type
// 0), 8 bits (types 1 and 2) or 16 bits (type 3), rows a multiple of 4 bytes.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "text/text.h"

struct PlatformFont;

enum {
    FONT_TYPE_EDGE = 1,
    FONT_TYPE_SMOOTH = 2,
    FONT_CACHE_MAX_SLOTS = 2024,
    FONT_CACHE_MAX_PIXELS = 0x50000,   // cell size squared x slot count
    FONT_CACHE_MAX_HEIGHT = 16384,     // rows
    FONT_CHAR_KEYS = 65536,
    FONT_CHAR_ENTRY_BYTES = 3,         // a character list entry: its bytes and a terminator
    FONT_MAX_WEIGHT = 900,             // the heaviest weight the engine takes
    FONT_WIDE_KEYS = 64,               // characters beyond U+FFFF a font holds at once
};

struct CharIndexEntry;

struct CacheSlot {
    uint8_t inUse;
    int number;              // the slot's own index
    int width;               // pixels the character advances (and occupies, up to the cell)
    int height;              // pixels of the character's box
    CharIndexEntry* entry;   // the entry that points at this slot
};

struct CharIndexEntry {
    uint8_t present;
    CacheSlot* slot;
};

struct FontRecord {
    CacheSlot slots[FONT_CACHE_MAX_SLOTS];
    CharIndexEntry index[FONT_CHAR_KEYS];   // by character key: first byte + 256 x second byte, or code point
    int nextSlot;
    int slotCount;
    uint8_t* cachePixels;   // owned; top row first
    int cachePitch;         // bytes per row, a multiple of 4
    int cacheBits;          // bits per cache pixel: 1, 8 or 16
    char name[256];         // "" = the engine's choice
    int thickness;          // weight in hundreds
    int size;               // character height, pixels
    int cellSize;           // side of a cache cell, pixels
    PlatformFont* font;
    int type;               // FONT_PLAIN .. FONT_SMOOTH_EDGED
    int cacheWidth, cacheHeight;  // pixels
    int cellsPerColumn;
    int workImage;          // image table index, -1 when none
    int workWidth, workHeight;  // pixels of the work image
    int ascent;             // pixels above the baseline
    int lineHeight;         // rows a string takes: the size + 1, or the edged glyph box when taller
    // A UTF-8 program's font: keys are Unicode code points, and the ones beyond
    // the 16-bit index (rare kanji, emoji) have entries of their own, reused in turn.
    int unicode;
    int nextWide;
    uint32_t wideKeys[FONT_WIDE_KEYS];     // 0 = entry unused
    CharIndexEntry wideIndex[FONT_WIDE_KEYS];
};

struct FontCacheGeometry {
    int bits;
    int slotCount;
    int width, height;       // pixels
    int cellsPerColumn;
};

// Cache layout for a cell size and font type; slotCount 0 when no cell fits.
FontCacheGeometry ComputeFontCacheGeometry(int cellSize, int type);

// Makes the font object, measures it and makes an empty cache (no work image).
// screenBits 8 turns smooth types into their one-colour forms. 0, or -1 after
// the log line when the font cannot be made.
int BuildFontRecord(FontRecord* font, const char* name, int size, int thickness, int type, int screenBits);
// Releases the font object and the cache buffer (not the work image).
void FreeFontRecordParts(FontRecord* font);
void EmptyFontCache(FontRecord* font);

// Adds count characters (list entries FONT_CHAR_ENTRY_BYTES apart) into the
// next slots in turn; the slot of the last one. An entry holds a Shift-JIS
// character's bytes, or for a Unicode font the code point's three low bytes
// (least significant first).
CacheSlot* AddCharsToFontCache(FontRecord* font, int count, const uint8_t* list);

// The index entry of a character key; null for a key beyond U+FFFF that the
// font does not hold.
CharIndexEntry* FindCharEntry(FontRecord* font, uint32_t key);

// Splits text (at most FONT_STRING_LIMIT bytes) into character keys: Shift-JIS
// (first byte + 256 x second), or for unicode 1 the code points of UTF-8 (a
// malformed sequence is one U+FFFD). A character whose bytes would reach the
// terminator or lie past the limit ends the string.
int SplitTextIntoKeys(const char* text, uint32_t* keys, int unicode = 0);  // the count

// Where FontCacheStringDraw writes: locked memory and the screen's colour masks.
struct FontDrawTarget {
    // pixels: the top-left pixel of visible, the part of the surface the memory covers.
    int (*Lock)(void* context, uint8_t** pixels, int* pitch, PlatformRect* visible);  // 0 or -1
    void (*Unlock)(void* context);
    void* context;
    uint32_t redMask, greenMask, blueMask;
};

// Draws text into a locked target through the cache, cut to clip; the sum of
// the characters' advances.
int FontCacheStringDraw(FontRecord* font, int x, int y, const char* text, uint32_t color,
                        const FontDrawTarget* target, uint8_t* alpha, int alphaPitch, const PlatformRect* clip,
                        int bitsPerPixel, int transparent, uint32_t edgeColor);

// The same through the font table and into a screen surface; clip in the surface's
// coordinates. -1 before the display device exists.
struct ScreenSurface;
struct ScreenRect;
int FontCacheStringDrawToHandle(int x, int y, const char* text, uint32_t color, ScreenSurface* destination,
                                uint8_t* alpha, int alphaPitch, const ScreenRect* clip, int bitsPerPixel,
                                int transparent, int handle, uint32_t edgeColor);

FontRecord* GetFontManageDataToHandle(int handle);
CacheSlot* FontCacheCharAddToHandle(int count, const uint8_t* list, int handle);
