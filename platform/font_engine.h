// font_engine.h: the font engine the text module asks for glyphs.
//
// A font is a face (by name, or the engine's own choice of a fixed-pitch
// Japanese face), a pixel height and a weight. Characters are named by their
// Shift-JIS code: the byte for a single-byte character, lead byte x 256 +
// trail byte for a double-byte one; or, for a program that chose UTF-8, by
// their Unicode code point with FONT_CODE_UNICODE added. The engine measures
// them, draws them in one colour, and gives their coverage in 17 levels (0..16).
//
// Private to the library. FREETYPE_FONT_OPS (platform/freetype/) is the real
// engine (FreeType and fontconfig); FAKE_FONT_OPS (platform/fake/fake_font.h)
// draws boxes of sizes a test chooses.
#pragma once

#include <cstdint>

struct PlatformFont;  // one font object, owned by the engine

enum : unsigned { FONT_CODE_UNICODE = 0x80000000u };

struct PlatformFontMetrics {
    int ascent;        // pixels above the baseline
    int descent;       // pixels below it
    int height;        // ascent + descent: the height of a character's box
    int maxCharWidth;  // widest advance, pixels
};

struct PlatformGlyphCoverage {
    int blackBoxWidth, blackBoxHeight;  // pixels; 1 x 1 for a glyph without ink
    int originY;                        // from the baseline up to the black box's top, pixels
    int stride;                         // bytes per row, a multiple of 4
    int size;                           // stride x black box height; 0 for a glyph without ink
};

struct PlatformFontOps {
    // name: face name in the program's encoding (utf8.h), "" for the engine's
    // choice. weight: 100..900.
    // Null only when no face at all can be loaded.
    PlatformFont* (*CreateFont)(const char* name, int pixelHeight, int weight);
    void (*DeleteFont)(PlatformFont* font);
    int (*GetFontMetrics)(PlatformFont* font, PlatformFontMetrics* metrics);  // 0 or -1
    // The box one character takes: its advance and the font's height. 0 or -1.
    int (*GetCharExtent)(PlatformFont* font, unsigned code, int* width, int* height);
    // Draws the character's one-colour ink into a byte-per-pixel box whose top-left
    // is the character's pen position at the top of its extent: ink pixels become 1,
    // others are left as they are; nothing is written outside width x height. 0 or -1.
    int (*DrawCharMono)(PlatformFont* font, unsigned code, uint8_t* box, int pitch, int width, int height);
    // Coverage of the character in levels 0..16. With buffer null only fills info;
    // otherwise writes info->size bytes (rows of info->stride) when bufferSize
    // allows. 0 or -1.
    int (*GetCharCoverage)(PlatformFont* font, unsigned code, PlatformGlyphCoverage* info, uint8_t* buffer,
                           int bufferSize);
};

extern const PlatformFontOps FREETYPE_FONT_OPS;
