// fake_font.h: a font engine for unit tests, with metrics the test chooses.
//
// InstallFakeFontEngine() puts FAKE_FONT_OPS into PLATFORM.font and resets
// FAKE_FONT to a 16-pixel font: ascent 14, descent 2, advances 8 (single-byte)
// and 16 (double-byte). Its glyphs are patterns that differ from code to code
// (FakeGlyphInk), so a test can tell characters apart and compute what a cell
// must hold. Codes 0x20 and 0x8140 (the blanks) and the codes in blankCodes
// have no ink. The engine counts the fonts it made and deleted.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/font_engine.h"

struct FakeFontEngine {
    int ascent, descent;       // pixels
    int halfAdvance;           // advance of a single-byte character
    int fullAdvance;           // advance of a double-byte character
    int maxCharWidth;          // reported as the font's widest advance
    int coverageHeight;        // rows of a coverage glyph's black box (default: ascent)
    int coverageWidth;         // columns of it (0: the advance - 2)
    std::vector<unsigned> blankCodes;
    int createFails;           // CreateFont fails while nonzero
    int created, deleted;      // font objects made and deleted
    int lastWeight, lastHeight;
    int coverageCalls, monoCalls;
};

extern FakeFontEngine FAKE_FONT;
extern const PlatformFontOps FAKE_FONT_OPS;

void InstallFakeFontEngine(void);
// 1 where the one-colour glyph of code has ink at (x, y) of its extent box.
int FakeGlyphInk(unsigned code, int x, int y);
// Level 0..16 of the coverage glyph of code at (x, y) of its black box.
int FakeGlyphLevel(unsigned code, int x, int y);
