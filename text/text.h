// text.h: fonts, their glyph caches and string drawing into the draw target,
// as the library uses them inside; what programs call is in ravlin.h.
//
// Up to MAX_FONT_HANDLES fonts, each named by its index in the font table; one
// of them is the default font that DrawText and DrawLabeledNumber use. Texts
// are byte strings in the program's encoding; at most their first
// FONT_STRING_LIMIT bytes are drawn. Colours are packed in the screen's format
// (MakeColor).
#pragma once

#include <cstdint>

#include "ravlin.h"

int StartFontSystem(void);
int RecreateAllFonts(void);
