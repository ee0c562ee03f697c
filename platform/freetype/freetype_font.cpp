// freetype_font.cpp: the font engine on FreeType, with fontconfig choosing the face.
//
// One FT_Library for the process; faces are opened once per file and shared,
// each font object has an FT_Size of its own. Load flags and hinting are fixed
// so that pictures drawn with these glyphs stay the same from run to run:
// one-colour glyphs are hinted for monochrome and rendered in MONO mode, the
// coverage glyphs rendered in NORMAL mode and brought down to 17 levels.
// Weights of 600 and more on a face without a bold style are made bold the way
// the system this library was designed for does it: the bitmap one pixel
// wider to the right and one pixel more advance (the glyph keeps its height).
// A character the chosen face lacks is drawn from the next face of fontconfig's
// sorted list that has it, at the same pixel height and on the same baseline.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BITMAP_H
#include FT_SIZES_H

#include <iconv.h>

#include <cstdlib>
#include <cstring>

#include "platform/font_engine.h"
#include "platform/platform.h"
#include "platform/utf8.h"

// Faces of one font: the chosen face first, then the ones that fill its gaps.
enum { MAX_FONT_FACES = 4 };

struct PlatformFont {
    int faceCount;
    FT_Face faces[MAX_FONT_FACES];
    FT_Size sizes[MAX_FONT_FACES];  // one per face, all of the same pixel height
    int pixelHeight;
    int embolden;  // 1: one pixel wider ink and advance
};

namespace {

// Room for the faces of every font of the font table and one being made; a
// face no font uses is closed when its slot is wanted for another file.
enum { MAX_OPEN_FACES = 24, MAX_FACE_PATH = 1024 };

struct OpenFace {
    char path[MAX_FACE_PATH];
    int index;
    FT_Face face;
    int users;  // fonts made on this face and not yet deleted
};

// Shift-JIS code -> Unicode, filled as codes are asked for.
enum : uint32_t { CODE_NOT_LOOKED_UP = 0, CODE_UNMAPPED = 0xFFFFFFFFu };

struct FreeTypeState {
    FT_Library library;
    int libraryFailed;
    OpenFace faces[MAX_OPEN_FACES];
    int faceCount;
    iconv_t toUnicode;
    int converterOpen;
    uint32_t unicodePlusOne[65536];  // code point + 1, or CODE_UNMAPPED
    // The glyph in its face's slot, loaded (not yet rendered) with these flags:
    // measuring a character and then drawing it loads it once.
    FT_Size loadedSize;
    int loadedGlyph;
    FT_Int32 loadedFlags;
};

FreeTypeState FREETYPE = {};

const FT_Int32 MONO_LOAD_FLAGS = FT_LOAD_TARGET_MONO;
const FT_Int32 COVERAGE_LOAD_FLAGS = FT_LOAD_TARGET_NORMAL | FT_LOAD_NO_BITMAP;

int StartLibrary(void) {
    if (FREETYPE.library) return 0;
    if (FREETYPE.libraryFailed) return -1;
    if (FT_Init_FreeType(&FREETYPE.library) != 0) {
        FREETYPE.library = nullptr;
        FREETYPE.libraryFailed = 1;
        return -1;
    }
    return 0;
}

// A slot for a new face: an empty one, else one whose face no font uses (closed
// here); null when every face is in use.
OpenFace* FreeFaceSlot(void) {
    if (FREETYPE.faceCount < MAX_OPEN_FACES) return &FREETYPE.faces[FREETYPE.faceCount];
    for (OpenFace& open : FREETYPE.faces) {
        if (open.users == 0) {
            FT_Done_Face(open.face);
            open.face = nullptr;
            open.path[0] = '\0';
            return &open;
        }
    }
    return nullptr;
}

OpenFace* OpenFaceFile(const char* path, int index) {
    for (int i = 0; i < FREETYPE.faceCount; i++) {
        OpenFace* open = &FREETYPE.faces[i];
        if (open->face != nullptr && open->index == index && strcmp(open->path, path) == 0) return open;
    }
    if (strlen(path) >= MAX_FACE_PATH) return nullptr;
    OpenFace* slot = FreeFaceSlot();
    if (slot == nullptr) return nullptr;
    FT_Face face = nullptr;
    if (FT_New_Face(FREETYPE.library, path, index, &face) != 0) return nullptr;
    if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) != 0 || !FT_IS_SCALABLE(face)) {
        FT_Done_Face(face);
        return nullptr;
    }
    if (slot == &FREETYPE.faces[FREETYPE.faceCount]) FREETYPE.faceCount++;
    strcpy(slot->path, path);
    slot->index = index;
    slot->face = face;
    slot->users = 0;
    return slot;
}

OpenFace* OpenFaceOfPattern(FcPattern* font) {
    FcChar8* file = nullptr;
    int index = 0;
    if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) return nullptr;
    FcPatternGetInteger(font, FC_INDEX, 0, &index);
    return OpenFaceFile((const char*)file, index);
}

int HasFace(OpenFace* const* faces, int count, const OpenFace* face) {
    for (int i = 0; i < count; i++) {
        if (faces[i] == face) return 1;
    }
    return 0;
}

// The pattern of a font: Japanese is always asked for, so that a name
// fontconfig does not know still matches a face with kana. Null on failure.
FcPattern* FontPattern(const char* name, int pixelHeight) {
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return nullptr;
    FcPatternAddString(pattern, FC_LANG, (const FcChar8*)"ja");
    FcPatternAddInteger(pattern, FC_SPACING, FC_MONO);
    FcPatternAddDouble(pattern, FC_PIXEL_SIZE, (double)pixelHeight);
    if (name && name[0]) {
        char utf8[1024];
        ConvertTextToUtf8(name, utf8, sizeof utf8);
        FcPatternAddString(pattern, FC_FAMILY, (const FcChar8*)utf8);
    }
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    return pattern;
}

void AddMatch(FcPattern* pattern, OpenFace** faces, int* count) {
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    if (!match) return;
    OpenFace* face = OpenFaceOfPattern(match);
    if (face && *count < MAX_FONT_FACES && !HasFace(faces, *count, face)) faces[(*count)++] = face;
    FcPatternDestroy(match);
}

// The faces of a font, the count (0 for none): the best match for the name
// first; then, for what it lacks, the best Japanese face, and the faces of
// fontconfig's sorted list that add characters.
int MatchFaces(const char* name, int pixelHeight, OpenFace** faces) {
    int count = 0;
    FcPattern* pattern = FontPattern(name, pixelHeight);
    if (!pattern) return 0;
    AddMatch(pattern, faces, &count);
    // A named face outweighs the language in the match: a Latin face wins it.
    if (name && name[0]) {
        FcPattern* japanese = FontPattern(nullptr, pixelHeight);
        if (japanese) {
            AddMatch(japanese, faces, &count);
            FcPatternDestroy(japanese);
        }
    }
    FcResult result = FcResultNoMatch;
    FcFontSet* sorted = FcFontSort(nullptr, pattern, FcTrue, nullptr, &result);
    if (sorted) {
        for (int i = 0; i < sorted->nfont && count < MAX_FONT_FACES; i++) {
            OpenFace* face = OpenFaceOfPattern(sorted->fonts[i]);
            if (face && !HasFace(faces, count, face)) faces[count++] = face;
        }
        FcFontSetDestroy(sorted);
    }
    FcPatternDestroy(pattern);
    return count;
}

uint32_t LookUpUnicode(unsigned code) {
    code &= 0xFFFF;
    uint32_t known = FREETYPE.unicodePlusOne[code];
    if (known != CODE_NOT_LOOKED_UP) return known;
    if (!FREETYPE.converterOpen) {
        FREETYPE.toUnicode = iconv_open("UTF-32LE", "CP932");
        if (FREETYPE.toUnicode == (iconv_t)-1) return CODE_UNMAPPED;
        FREETYPE.converterOpen = 1;
    }
    char in[2];
    size_t inLeft;
    if (code < 0x100) {
        in[0] = (char)code;
        inLeft = 1;
    } else {
        in[0] = (char)(code >> 8);
        in[1] = (char)(code & 0xFF);
        inLeft = 2;
    }
    uint8_t out[8];
    char* src = in;
    char* dst = (char*)out;
    size_t outLeft = sizeof out;
    iconv(FREETYPE.toUnicode, nullptr, nullptr, nullptr, nullptr);
    uint32_t value = CODE_UNMAPPED;
    // Exactly one character out, all bytes used: anything else is not a mapping.
    if (iconv(FREETYPE.toUnicode, &src, &inLeft, &dst, &outLeft) != (size_t)-1 && inLeft == 0 &&
        outLeft == sizeof out - 4) {
        value = (uint32_t)out[0] | (uint32_t)out[1] << 8 | (uint32_t)out[2] << 16 | (uint32_t)out[3] << 24;
        value += 1;
    }
    FREETYPE.unicodePlusOne[code] = value;
    return value;
}

// Glyph index of a character in the first face that has it (*which); -1 when
// none has. Control characters are looked for in the first face only.
int FindGlyph(PlatformFont* font, uint32_t unicode, int* which) {
    int faces = unicode < 0x20 || unicode == 0x7F ? 1 : font->faceCount;
    for (int i = 0; i < faces; i++) {
        int glyph = (int)FT_Get_Char_Index(font->faces[i], unicode);
        if (glyph > 0) {
            *which = i;
            return glyph;
        }
    }
    return -1;
}

// Glyph index of a code and the face (*which) that has it; -1 when CP932 does
// not map it or no face has a glyph for it: such characters are blanks, never
// a face's box. A UTF-8 program's character that no face has is shown as the
// replacement character, as a malformed sequence is.
int GlyphIndexOf(PlatformFont* font, unsigned code, int* which) {
    *which = 0;
    if (code & FONT_CODE_UNICODE) {
        uint32_t unicode = code & ~FONT_CODE_UNICODE;
        int glyph = FindGlyph(font, unicode, which);
        if (glyph < 0 && unicode >= 0x20 && unicode != 0x7F) glyph = FindGlyph(font, UTF8_REPLACEMENT, which);
        return glyph;
    }
    uint32_t plusOne = LookUpUnicode(code);
    if (plusOne == CODE_UNMAPPED) return -1;
    return FindGlyph(font, plusOne - 1, which);
}

int Activate(PlatformFont* font, int which) {
    return FT_Activate_Size(font->sizes[which]) == 0 ? 0 : -1;
}

// Loads and renders one glyph into a bitmap the caller owns (FT_Bitmap_Done).
int LoadGlyph(PlatformFont* font, int which, int glyph, FT_Int32 loadFlags) {
    FT_Face face = font->faces[which];
    FT_Size size = font->sizes[which];
    if (FREETYPE.loadedSize == size && FREETYPE.loadedGlyph == glyph && FREETYPE.loadedFlags == loadFlags &&
        face->glyph->format != FT_GLYPH_FORMAT_BITMAP)
        return 0;
    FREETYPE.loadedSize = nullptr;
    if (Activate(font, which) != 0) return -1;
    if (FT_Load_Glyph(face, (FT_UInt)glyph, loadFlags) != 0) return -1;
    FREETYPE.loadedSize = size;
    FREETYPE.loadedGlyph = glyph;
    FREETYPE.loadedFlags = loadFlags;
    return 0;
}

int RenderGlyph(PlatformFont* font, int which, int glyph, FT_Int32 loadFlags, FT_Render_Mode mode, FT_Bitmap* out,
                int* left, int* top) {
    if (LoadGlyph(font, which, glyph, loadFlags) != 0) return -1;
    FT_GlyphSlot slot = font->faces[which]->glyph;
    FREETYPE.loadedSize = nullptr;  // rendering changes the slot
    if (FT_Render_Glyph(slot, mode) != 0) return -1;
    FT_Bitmap_Init(out);
    if (FT_Bitmap_Copy(FREETYPE.library, &slot->bitmap, out) != 0) return -1;
    if (font->embolden && out->width > 0 && out->rows > 0) {
        if (FT_Bitmap_Embolden(FREETYPE.library, out, 64, 0) != 0) {
            FT_Bitmap_Done(FREETYPE.library, out);
            return -1;
        }
    }
    *left = slot->bitmap_left;
    *top = slot->bitmap_top;
    return 0;
}

void FtDeleteFont(PlatformFont* font) {
    if (!font) return;
    for (int k = 0; k < font->faceCount; k++) {
        if (FREETYPE.loadedSize == font->sizes[k]) FREETYPE.loadedSize = nullptr;
        FT_Done_Size(font->sizes[k]);
        for (int i = 0; i < FREETYPE.faceCount; i++) {
            if (FREETYPE.faces[i].face == font->faces[k] && FREETYPE.faces[i].users > 0) FREETYPE.faces[i].users--;
        }
    }
    free(font);
}

PlatformFont* FtCreateFont(const char* name, int pixelHeight, int weight) {
    if (pixelHeight <= 0 || StartLibrary() != 0) return nullptr;
    OpenFace* open[MAX_FONT_FACES];
    int count = MatchFaces(name, pixelHeight, open);
    if (count == 0) return nullptr;
    PlatformFont* font = (PlatformFont*)calloc(1, sizeof(PlatformFont));
    if (!font) return nullptr;
    for (int k = 0; k < count; k++) {
        FT_Face face = open[k]->face;
        FT_Size size = nullptr;
        if (FT_New_Size(face, &size) != 0) continue;
        if (FT_Activate_Size(size) != 0 || FT_Set_Pixel_Sizes(face, 0, (FT_UInt)pixelHeight) != 0) {
            FT_Done_Size(size);
            continue;
        }
        font->faces[font->faceCount] = face;
        font->sizes[font->faceCount] = size;
        font->faceCount++;
        open[k]->users++;
    }
    if (font->faceCount == 0) {
        free(font);
        return nullptr;
    }
    font->pixelHeight = pixelHeight;
    font->embolden = weight >= 600 && !(font->faces[0]->style_flags & FT_STYLE_FLAG_BOLD);
    return font;
}

int FtGetFontMetrics(PlatformFont* font, PlatformFontMetrics* metrics) {
    if (!font || Activate(font, 0) != 0) return -1;
    const FT_Size_Metrics& m = font->sizes[0]->metrics;
    metrics->ascent = (int)((m.ascender + 63) >> 6);
    metrics->descent = (int)((-m.descender + 63) >> 6);
    metrics->height = metrics->ascent + metrics->descent;
    // The hinted widest advance; the face's bounding box would count its widest ink.
    metrics->maxCharWidth = (int)((m.max_advance + 63) >> 6) + font->embolden;
    return 0;
}

int AdvanceOf(PlatformFont* font, int which, int glyph) {
    if (LoadGlyph(font, which, glyph, MONO_LOAD_FLAGS) != 0) return -1;
    return (int)((font->faces[which]->glyph->advance.x + 32) >> 6) + font->embolden;
}

int FtGetCharExtent(PlatformFont* font, unsigned code, int* width, int* height) {
    if (!font) return -1;
    int which = 0;
    int glyph = GlyphIndexOf(font, code, &which);
    int advance;
    if (glyph < 0) {
        // Not a character of the code page or of the faces: the room of a blank of its width.
        unsigned blank = (code & ~FONT_CODE_UNICODE) < 0x100 ? 0x20u : 0x3000u;
        advance = AdvanceOf(font, 0, (int)FT_Get_Char_Index(font->faces[0], blank));
    } else {
        advance = AdvanceOf(font, which, glyph);
    }
    if (advance < 0) return -1;
    const FT_Size_Metrics& m = font->sizes[0]->metrics;
    *width = advance;
    *height = (int)((m.ascender + 63) >> 6) + (int)((-m.descender + 63) >> 6);
    return 0;
}

int FtDrawCharMono(PlatformFont* font, unsigned code, uint8_t* box, int pitch, int width, int height) {
    if (!font) return -1;
    int which = 0;
    int glyph = GlyphIndexOf(font, code, &which);
    if (glyph < 0) return 0;  // nothing to draw
    FT_Bitmap bitmap;
    int left, top;
    if (RenderGlyph(font, which, glyph, MONO_LOAD_FLAGS, FT_RENDER_MODE_MONO, &bitmap, &left, &top) != 0) return -1;
    // Every face's glyphs stand on the first face's baseline.
    int ascent = (int)((font->sizes[0]->metrics.ascender + 63) >> 6);
    for (int r = 0; r < (int)bitmap.rows; r++) {
        int y = ascent - top + r;
        if (y < 0 || y >= height) continue;
        const uint8_t* row = bitmap.buffer + (ptrdiff_t)r * bitmap.pitch;
        for (int c = 0; c < (int)bitmap.width; c++) {
            int x = left + c;
            if (x < 0 || x >= width) continue;
            if (row[c >> 3] & (0x80 >> (c & 7))) box[(ptrdiff_t)y * pitch + x] = 1;
        }
    }
    FT_Bitmap_Done(FREETYPE.library, &bitmap);
    return 0;
}

int FtGetCharCoverage(PlatformFont* font, unsigned code, PlatformGlyphCoverage* info, uint8_t* buffer,
                      int bufferSize) {
    if (!font) return -1;
    *info = PlatformGlyphCoverage{1, 1, 0, 4, 0};
    int which = 0;
    int glyph = GlyphIndexOf(font, code, &which);
    if (glyph < 0) return 0;  // no ink
    FT_Bitmap bitmap;
    int left, top;
    if (RenderGlyph(font, which, glyph, COVERAGE_LOAD_FLAGS, FT_RENDER_MODE_NORMAL, &bitmap, &left, &top) != 0)
        return -1;
    if (bitmap.width > 0 && bitmap.rows > 0) {
        info->blackBoxWidth = (int)bitmap.width;
        info->blackBoxHeight = (int)bitmap.rows;
        info->originY = top;
        info->stride = ((int)bitmap.width + 3) & ~3;
        info->size = info->stride * (int)bitmap.rows;
    }
    int result = 0;
    if (buffer && info->size > 0) {
        if (bufferSize < info->size) {
            result = -1;
        } else {
            int levels = bitmap.num_grays > 1 ? bitmap.num_grays - 1 : 255;
            for (int r = 0; r < info->blackBoxHeight; r++) {
                const uint8_t* src = bitmap.buffer + (ptrdiff_t)r * bitmap.pitch;
                uint8_t* dst = buffer + (ptrdiff_t)r * info->stride;
                memset(dst, 0, (size_t)info->stride);
                for (int c = 0; c < info->blackBoxWidth; c++) {
                    // 0..255 to 0..16: full coverage gives 16, never 17.
                    int v = levels == 255 ? src[c] : src[c] * 255 / levels;
                    dst[c] = (uint8_t)((v * 17) >> 8);
                }
            }
        }
    }
    FT_Bitmap_Done(FREETYPE.library, &bitmap);
    return result;
}

}  // namespace

const PlatformFontOps FREETYPE_FONT_OPS = {
    FtCreateFont, FtDeleteFont, FtGetFontMetrics, FtGetCharExtent, FtDrawCharMono, FtGetCharCoverage,
};
