// text.h: fonts, their glyph caches and string drawing into the draw target.
//
// Up to MAX_FONT_HANDLES fonts, each named by its index in the font table; one
// of them is the default font that DrawText and DrawLabeledNumber use. Texts
// are Shift-JIS byte strings; at most their first FONT_STRING_LIMIT bytes are
// drawn. Colours are packed in the screen's format (MakeColor).
#pragma once

#include <cstdint>

enum {
    MAX_FONT_HANDLES = 20,
    FONT_STRING_LIMIT = 256,  // bytes of a string that are drawn
};

// Font types: bit 0 = edge, bit 1 = anti-alias.
enum {
    FONT_PLAIN = 0,
    FONT_EDGED = 1,
    FONT_SMOOTH = 2,
    FONT_SMOOTH_EDGED = 3,
};

// -1 for size, thickness and type take 16, 6 and FONT_PLAIN; handle -1 takes the
// first free entry. The handle, or -1.
int CFont(const char* name, int size, int thickness, int type, int handle);
int ReleaseFontHandle(int handle);
int StartFontSystem(void);
int ResetDefaultFont(const char* name, int size, int thickness);
int RecreateAllFonts(void);
// name receives up to 256 bytes with the terminator; any pointer may be null.
int GetFontStateToHandle(char* name, int* size, int* thickness, int handle);
int GetDefaultFontHandle(void);
int IsFontHandleValid(int handle);  // 1 or 0

int DrawText(int x, int y, const char* text, uint32_t color, uint32_t edgeColor);
int DrawLabeledNumber(int x, int y, const char* label, int number, int radix, uint32_t color, uint32_t edgeColor);
int DrawStringToHandle(int x, int y, const char* text, uint32_t color, int handle, uint32_t edgeColor);
int SetBlendMode(int mode, int param);
