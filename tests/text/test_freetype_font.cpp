// The FreeType font engine with the installed Japanese face: metrics, advances,
// and the ink of a drawn string against FreeType's own one-colour glyphs.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BITMAP_H

#include <string>

#include "text_test_support.h"

namespace {

class FreeTypeFontTest : public ::testing::Test {
protected:
    void SetUp() override { PLATFORM.font = &FREETYPE_FONT_OPS; }
};

// One property of the face fontconfig matches to a pattern; empty when none.
std::string MatchedFaceProperty(const char* pattern, const char* property) {
    FcPattern* p = FcNameParse((const FcChar8*)pattern);
    FcConfigSubstitute(nullptr, p, FcMatchPattern);
    FcDefaultSubstitute(p);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, p, &result);
    FcChar8* value = nullptr;
    std::string found;
    if (match && FcPatternGetString(match, property, 0, &value) == FcResultMatch) found = (const char*)value;
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(p);
    return found;
}

// The face fontconfig gives for the default font, opened here on its own.
std::string DefaultFaceFile() { return MatchedFaceProperty(":lang=ja:spacing=mono:pixelsize=16", FC_FILE); }

}  // namespace

TEST_F(FreeTypeFontTest, DefaultFontMetricsAndAdvances) {
    PlatformFont* font = FREETYPE_FONT_OPS.CreateFont("", 16, 600);
    ASSERT_NE(font, nullptr);
    PlatformFontMetrics m;
    ASSERT_EQ(FREETYPE_FONT_OPS.GetFontMetrics(font, &m), 0);
    EXPECT_EQ(m.ascent, 15);
    EXPECT_EQ(m.descent, 2);
    EXPECT_EQ(m.height, 17);
    EXPECT_EQ(m.maxCharWidth, 17);
    int w, h;
    struct {
        unsigned code;
        int width;
    } cases[] = {{'A', 9}, {0xB1, 9}, {0x8CBB, 17}, {0x8140, 17}, {0x835C, 17}, {0x85A0, 17}, {'\t', 9}, {0x80, 9}};
    for (auto c : cases) {
        ASSERT_EQ(FREETYPE_FONT_OPS.GetCharExtent(font, c.code, &w, &h), 0);
        EXPECT_EQ(w, c.width) << std::hex << c.code;
        EXPECT_EQ(h, 17);
    }
    // An unmapped pair and a character without a glyph draw nothing.
    for (unsigned code : {0x85A0u, (unsigned)'\t', (unsigned)'\n'}) {
        uint8_t box[17 * 17] = {};
        EXPECT_EQ(FREETYPE_FONT_OPS.DrawCharMono(font, code, box, 17, 17, 17), 0);
        EXPECT_EQ(std::string((char*)box, sizeof box), std::string(sizeof box, '\0')) << code;
        PlatformGlyphCoverage blank;
        ASSERT_EQ(FREETYPE_FONT_OPS.GetCharCoverage(font, code, &blank, nullptr, 0), 0);
        EXPECT_EQ(blank.size, 0);
    }
    FREETYPE_FONT_OPS.DeleteFont(font);

    // A regular weight is not made bold; a name fontconfig does not know still finds kana.
    font = FREETYPE_FONT_OPS.CreateFont("NoSuchFace", 16, 400);
    ASSERT_NE(font, nullptr);
    ASSERT_EQ(FREETYPE_FONT_OPS.GetCharExtent(font, 0x82A0, &w, &h), 0);
    EXPECT_EQ(w, 16);
    PlatformGlyphCoverage info;
    ASSERT_EQ(FREETYPE_FONT_OPS.GetCharCoverage(font, 0x82A0, &info, nullptr, 0), 0);
    EXPECT_GT(info.size, 0);
    EXPECT_EQ(info.stride, (info.blackBoxWidth + 3) & ~3);
    std::vector<uint8_t> levels((size_t)info.size);
    ASSERT_EQ(FREETYPE_FONT_OPS.GetCharCoverage(font, 0x82A0, &info, levels.data(), info.size), 0);
    int full = 0;
    for (uint8_t v : levels) {
        EXPECT_LE(v, 16);
        full += v == 16;
    }
    EXPECT_GT(full, 0);
    ASSERT_EQ(FREETYPE_FONT_OPS.GetCharCoverage(font, 0x20, &info, nullptr, 0), 0);
    EXPECT_EQ(info.size, 0);
    EXPECT_EQ(info.blackBoxWidth, 1);
    EXPECT_EQ(info.blackBoxHeight, 1);
    FREETYPE_FONT_OPS.DeleteFont(font);
}

TEST_F(FreeTypeFontTest, FrequencyLineInkIsFreeTypesMonoGlyphs) {
    FontRecord* font = (FontRecord*)calloc(1, sizeof(FontRecord));
    ASSERT_EQ(BuildFontRecord(font, nullptr, 16, 6, FONT_PLAIN, 32), 0);
    EXPECT_EQ(font->cellSize, 28);
    EXPECT_EQ(font->slotCount, 327680 / (28 * 28));
    GuardedMemory m(200, 24, 32);
    const char* line = "現在の周波数=44100";
    ASSERT_EQ(DrawInto(font, m, 0, 0, line, 0xFFFFFF), 156);
    EXPECT_TRUE(m.GuardsHold());

    // FreeType on its own: hinted for monochrome, one pixel bolder to the right.
    std::string path = DefaultFaceFile();
    ASSERT_FALSE(path.empty());
    FT_Library lib;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    FT_Face face;
    ASSERT_EQ(FT_New_Face(lib, path.c_str(), 0, &face), 0);
    FT_Set_Pixel_Sizes(face, 0, 16);
    std::vector<uint8_t> expected(200 * 24, 0);
    const char32_t* chars = U"現在の周波数=44100";
    int pen = 0;
    for (const char32_t* c = chars; *c; c++) {
        ASSERT_EQ(FT_Load_Char(face, *c, FT_LOAD_TARGET_MONO | FT_LOAD_RENDER), 0);
        FT_Bitmap b;
        FT_Bitmap_Init(&b);
        FT_Bitmap_Copy(lib, &face->glyph->bitmap, &b);
        FT_Bitmap_Embolden(lib, &b, 64, 0);
        int advance = (int)(face->glyph->advance.x >> 6) + 1;
        for (int r = 0; r < (int)b.rows; r++) {
            for (int col = 0; col < (int)b.width; col++) {
                if (!(b.buffer[r * b.pitch + (col >> 3)] & (0x80 >> (col & 7)))) continue;
                int x = pen + face->glyph->bitmap_left + col, y = 15 - face->glyph->bitmap_top + r;
                // Ink outside the character's own box is not drawn.
                if (x >= pen && x < pen + advance && y >= 0 && y < 17) expected[y * 200 + x] = 1;
            }
        }
        FT_Bitmap_Done(lib, &b);
        pen += advance;
    }
    EXPECT_EQ(pen, 156);
    FT_Done_Face(face);
    FT_Done_FreeType(lib);

    int ink = 0;
    for (int y = 0; y < 24; y++) {
        for (int x = 0; x < 200; x++) {
            uint32_t p = m.Pixel(x, y);
            ASSERT_TRUE(p == 0xFFFFFF || p == m.Background());
            if (p == 0xFFFFFF) {
                ink++;
                EXPECT_LT(x, 156);
                EXPECT_LT(y, 17);
            }
            EXPECT_EQ(p == 0xFFFFFF, expected[y * 200 + x] == 1) << x << "," << y;
        }
    }
    EXPECT_GT(ink, 300);
    FreeFontRecordParts(font);
    free(font);
}

TEST_F(FreeTypeFontTest, SmoothGlyphsShareOneBaseline) {
    for (int type : {FONT_SMOOTH, FONT_SMOOTH_EDGED}) {
        FontRecord* font = (FontRecord*)calloc(1, sizeof(FontRecord));
        ASSERT_EQ(BuildFontRecord(font, nullptr, 16, 4, type, 32), 0);
        GuardedMemory m(100, 24, 32);
        std::vector<uint8_t> alpha(100 * 24, 0);
        int advance = DrawInto(font, m, 0, 0, "aHxg", 0xFFFFFF, 0x0000FF, nullptr, 1, alpha.data(), 100);
        int step = advance / 4;
        // The lowest row of each character's body colour.
        int lowest[4] = {-1, -1, -1, -1};
        for (int i = 0; i < 4; i++) {
            for (int y = 0; y < 24; y++) {
                for (int x = i * step; x < (i + 1) * step; x++) {
                    uint32_t p = m.Pixel(x, y);
                    if (p != m.Background() && p != 0x0000FF) lowest[i] = y;  // body, whole or blended
                }
            }
        }
        // Flat-bottomed H and x end on one row above the baseline (row 15 of the
        // box; one row lower for the edged type, whose glyphs sit one pixel in);
        // the g's descender reaches two rows or more below them.
        int ascent = 15 + (type == FONT_SMOOTH_EDGED ? 1 : 0);
        EXPECT_EQ(lowest[1], lowest[2]) << type;
        EXPECT_LT(lowest[1], ascent) << type;
        EXPECT_LE(lowest[0], ascent) << type;
        EXPECT_GE(lowest[3] - lowest[1], 2) << type;
        EXPECT_TRUE(m.GuardsHold());
        FreeFontRecordParts(font);
        free(font);
    }
}

// A named face without kana gets them from a face that has them; its own
// characters stay its own.
TEST_F(FreeTypeFontTest, CharactersTheNamedFaceLacksComeFromAnother) {
    if (MatchedFaceProperty("DejaVu Sans", FC_FAMILY) != "DejaVu Sans") GTEST_SKIP() << "no DejaVu Sans here";

    PlatformFont* named = FREETYPE_FONT_OPS.CreateFont("DejaVu Sans", 16, 400);
    PlatformFont* unnamed = FREETYPE_FONT_OPS.CreateFont("", 16, 400);
    ASSERT_NE(named, nullptr);
    ASSERT_NE(unnamed, nullptr);
    int namedW, unnamedW, h;
    // 'W' is wider in the proportional face than in the half-width Japanese one.
    ASSERT_EQ(FREETYPE_FONT_OPS.GetCharExtent(named, 'W', &namedW, &h), 0);
    ASSERT_EQ(FREETYPE_FONT_OPS.GetCharExtent(unnamed, 'W', &unnamedW, &h), 0);
    EXPECT_NE(namedW, unnamedW);
    for (unsigned code : {0x82A0u, 0x82A2u, 0x82A4u}) {  // あいう
        uint8_t box[17 * 17] = {};
        ASSERT_EQ(FREETYPE_FONT_OPS.DrawCharMono(named, code, box, 17, 17, 17), 0);
        int ink = 0;
        for (uint8_t v : box) ink += v;
        EXPECT_GT(ink, 10) << std::hex << code;
        PlatformGlyphCoverage info;
        ASSERT_EQ(FREETYPE_FONT_OPS.GetCharCoverage(named, code, &info, nullptr, 0), 0);
        EXPECT_GT(info.size, 0) << std::hex << code;
        int w = 0;
        ASSERT_EQ(FREETYPE_FONT_OPS.GetCharExtent(named, code, &w, &h), 0);
        EXPECT_EQ(w, 16) << std::hex << code;
    }
    FREETYPE_FONT_OPS.DeleteFont(named);
    FREETYPE_FONT_OPS.DeleteFont(unnamed);
}

// A UTF-8 program's string: kana, characters Shift-JIS lacks (é, €, the kanji
// 丂 outside JIS X 0208), a malformed byte and a character no face has (the
// last private-use point). Each is FreeType's own glyph of the face fontconfig
// matches for the default font's pattern with that character asked for; the
// last two are the replacement character U+FFFD.
TEST_F(FreeTypeFontTest, Utf8CharactersAreFreeTypesGlyphsFromTheFaceThatHasThem) {
    SetStringEncoding(STRING_UTF8);
    FontRecord* font = (FontRecord*)calloc(1, sizeof(FontRecord));
    ASSERT_EQ(BuildFontRecord(font, nullptr, 16, 4, FONT_PLAIN, 32), 0);
    SetStringEncoding(STRING_SHIFT_JIS);
    const int W = 140, H = 24;
    GuardedMemory m(W, H, 32);
    const char* text = "\xE3\x81\x8B\xC3\xA9\xE2\x82\xAC\xE4\xB8\x82\xFF\xF4\x8F\xBF\xBD";
    const uint32_t points[] = {0x304B, 0xE9, 0x20AC, 0x4E02, 0xFFFD, 0xFFFD};
    int width = DrawInto(font, m, 0, 0, text, 0xFFFFFF);
    EXPECT_TRUE(m.GuardsHold());

    FT_Library lib;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    // Every face's glyphs stand on the baseline of the font's first face.
    FT_Face first;
    ASSERT_EQ(FT_New_Face(lib, DefaultFaceFile().c_str(), 0, &first), 0);
    FT_Set_Pixel_Sizes(first, 0, 16);
    int ascent = (int)((first->size->metrics.ascender + 63) >> 6);
    int height = ascent + (int)((-first->size->metrics.descender + 63) >> 6);
    std::vector<uint8_t> expected(W * H, 0);
    int pen = 0;
    for (uint32_t c : points) {
        char pattern[80];
        snprintf(pattern, sizeof pattern, ":lang=ja:spacing=mono:pixelsize=16:charset=%x", c);
        std::string file = MatchedFaceProperty(pattern, FC_FILE);
        ASSERT_FALSE(file.empty()) << std::hex << c;
        FT_Face face;
        ASSERT_EQ(FT_New_Face(lib, file.c_str(), 0, &face), 0);
        FT_Set_Pixel_Sizes(face, 0, 16);
        ASSERT_GT(FT_Get_Char_Index(face, c), 0u) << std::hex << c;
        ASSERT_EQ(FT_Load_Char(face, c, FT_LOAD_TARGET_MONO | FT_LOAD_RENDER), 0);
        const FT_Bitmap& b = face->glyph->bitmap;
        int advance = (int)((face->glyph->advance.x + 32) >> 6);
        int ink = 0;
        for (int r = 0; r < (int)b.rows; r++) {
            for (int col = 0; col < (int)b.width; col++) {
                if (!(b.buffer[r * b.pitch + (col >> 3)] & (0x80 >> (col & 7)))) continue;
                int x = pen + face->glyph->bitmap_left + col, y = ascent - face->glyph->bitmap_top + r;
                // Ink outside the character's own box is not drawn.
                if (x >= pen && x < pen + advance && y >= 0 && y < height) expected[y * W + x] = 1, ink++;
            }
        }
        EXPECT_GT(ink, 8) << std::hex << c;
        FT_Done_Face(face);
        pen += advance;
    }
    FT_Done_Face(first);
    FT_Done_FreeType(lib);
    EXPECT_EQ(width, pen);
    for (int y = 0; y < H; y++) {
        for (int x = 0; x < W; x++) {
            uint32_t p = m.Pixel(x, y);
            ASSERT_TRUE(p == 0xFFFFFF || p == m.Background());
            EXPECT_EQ(p == 0xFFFFFF, expected[y * W + x] == 1) << x << "," << y;
        }
    }
    FreeFontRecordParts(font);
    free(font);
}
