// The text module inside the library, on the fake platform and fake display:
// the font table, re-creation, string drawing into the draw target (direct and
// through the work image), the labelled number, and the status screen against
// its reference pictures.
#include <fontconfig/fontconfig.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "core_test_support.h"
#include "platform/fake/fake_screen.h"
#include "screen/screen.h"
#include "text_test_support.h"

namespace {

const PlatformPixelFormat FORMAT_32 = {32, 0xFF0000, 0x00FF00, 0x0000FF, 0};
const PlatformPixelFormat FORMAT_16 = {16, 0xF800, 0x07E0, 0x001F, 0};

class TextLibraryTest : public FakePlatformTest {
protected:
    void Start(const PlatformPixelFormat& format, int fakeFont = 0) {
        PLATFORM.font = &FREETYPE_FONT_OPS;
        if (fakeFont) InstallFakeFontEngine();
        FAKE_SCREEN.desktopFormat = format;
        SetScreenMode(350, 120, 16, -1);
        ASSERT_EQ(InitLibrary(), 0);
        ASSERT_EQ(SetDrawTarget(SCREEN_BACK), 0);
        ClearDrawTarget();
    }
    void TearDown() override {
        FakePlatformTest::TearDown();
        PLATFORM.font = &FREETYPE_FONT_OPS;
    }

    // The back surface as 0xRRGGBB, row by row.
    static std::vector<uint32_t> Picture() {
        ScreenSurface* s = GetDrawSurface();
        const ColorInfo* info = GetColorInfo();
        std::vector<uint32_t> rgb;
        for (int y = 0; y < s->height; y++) {
            for (int x = 0; x < s->width; x++) {
                uint32_t p = ReadFakePixel(s, x, y);
                int r, g, b;
                if (info->colorBitDepth == 16) {
                    r = (p >> 11 & 31) << 3 | (p >> 13 & 7);
                    g = (p >> 5 & 63) << 2 | (p >> 9 & 3);
                    b = (p & 31) << 3 | (p >> 2 & 7);
                } else {
                    r = p >> 16 & 255;
                    g = p >> 8 & 255;
                    b = p & 255;
                }
                rgb.push_back((uint32_t)(r << 16 | g << 8 | b));
            }
        }
        return rgb;
    }

    static std::vector<uint32_t> ReadPpm(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::string magic;
        int w = 0, h = 0, max = 0;
        in >> magic >> w >> h >> max;
        in.get();
        std::vector<uint32_t> rgb;
        for (int i = 0; in && i < w * h; i++) {
            unsigned char c[3];
            if (!in.read((char*)c, 3)) break;
            rgb.push_back((uint32_t)(c[0] << 16 | c[1] << 8 | c[2]));
        }
        return rgb;
    }

    static void WritePpm(const std::string& path, const std::vector<uint32_t>& rgb, int w, int h) {
        FILE* f = fopen(path.c_str(), "wb");
        if (!f) return;
        fprintf(f, "P6\n%d %d\n255\n", w, h);
        for (uint32_t p : rgb) {
            unsigned char c[3] = {(unsigned char)(p >> 16), (unsigned char)(p >> 8), (unsigned char)p};
            fwrite(c, 1, 3, f);
        }
        fclose(f);
    }

    // What a text drew: the picture after drawing it on a cleared target.
    std::vector<uint32_t> Drawn(const char* text) {
        ClearDrawTarget();
        DrawText(0, 0, text, MakeColor(255, 255, 255), 0);
        return Picture();
    }
};

// The status screen of the demonstration program and the player.
void DrawStatusScreen() {
    DrawText(0, 20, "sample_music_file.ogg", MakeColor(200, 200, 255), 0);
    DrawLabeledNumber(0, 0, "現在の周波数", 44100, 10, MakeColor(255, 255, 255), 0);
    DrawText(0, 60, "キーボード左右で周波数変更(上下で高速)", MakeColor(255, 200, 200), 0);
    DrawText(0, 80, "エンターキーで停止、再開", MakeColor(255, 200, 200), 0);
    DrawText(0, 100, "音楽データはwav,ogg,mp3のみ対応", MakeColor(255, 200, 200), 0);
}

}  // namespace

TEST_F(TextLibraryTest, StatusScreenEqualsItsReferencePictures) {
    for (int bits : {16, 32}) {
        if (bits == 16) {
            Start(FORMAT_16);
        } else {
            EndLibrary();
            Start(FORMAT_32);
        }
        ASSERT_EQ(GetColorBitDepth(), bits);
        DrawStatusScreen();
        std::vector<uint32_t> picture = Picture();
        std::string name = "status_" + std::to_string(bits) + ".ppm";
        std::vector<uint32_t> reference = ReadPpm(std::string(RAVLIN_SOURCE_DIR) + "/tests/text/golden/" + name);
        if (picture != reference) {
            WritePpm("/tmp/ravlin-text-" + name, picture, 350, 120);
            ADD_FAILURE() << bits << "-bit status screen differs; written to /tmp/ravlin-text-" << name;
        }
    }
}

TEST_F(TextLibraryTest, FrequencyLineIsWhiteInsideItsBox) {
    Start(FORMAT_32);
    int handle = GetDefaultFontHandle();
    ASSERT_EQ(IsFontHandleValid(handle), 1);
    FontRecord* font = GetFontManageDataToHandle(handle);
    EXPECT_EQ(font->cellSize, 28);
    EXPECT_EQ(font->type, FONT_PLAIN);
    EXPECT_EQ(DrawLabeledNumber(0, 0, "現在の周波数", 44100, 10, MakeColor(255, 255, 255), 0), 0);
    std::vector<uint32_t> picture = Picture();
    int ink = 0;
    for (int y = 0; y < 120; y++) {
        for (int x = 0; x < 350; x++) {
            uint32_t p = picture[y * 350 + x];
            ASSERT_TRUE(p == 0 || p == 0xFFFFFF);
            if (p) {
                EXPECT_TRUE(x < 156 && y < 17) << x << "," << y;
                ink++;
            }
        }
    }
    EXPECT_GT(ink, 300);
    // The same string through the font record straight into memory.
    GuardedMemory m(350, 120, 32);
    memset(m.bytes.data(), 0, m.bytes.size());
    EXPECT_EQ(DrawInto(font, m, 0, 0, "現在の周波数=44100", 0xFFFFFF), 156);
    for (int y = 0; y < 120; y++) {
        for (int x = 0; x < 350; x++) ASSERT_EQ(m.Pixel(x, y), picture[y * 350 + x]) << x << "," << y;
    }
}

TEST_F(TextLibraryTest, LabeledNumberTextsAndLimits) {
    Start(FORMAT_32);
    std::vector<uint32_t> blank = Drawn("");
    EXPECT_EQ(DrawText(0, 0, "", 0xFFFFFF, 0), 0);
    EXPECT_EQ(DrawText(0, 0, nullptr, 0xFFFFFF, 0), 0);
    auto labeled = [&](const char* label, int number, int radix) {
        ClearDrawTarget();
        EXPECT_EQ(DrawLabeledNumber(0, 0, label, number, radix, MakeColor(255, 255, 255), 0), 0);
        return Picture();
    };
    EXPECT_EQ(labeled("L", -5, 10), Drawn("L=-5"));
    EXPECT_EQ(labeled("L", INT_MIN, 10), Drawn("L=-2147483648"));
    EXPECT_EQ(labeled("L", -1, 2), Drawn("L=11111111111111111111111111111111"));
    EXPECT_EQ(labeled("L", 255, 16), Drawn("L=ff"));
    EXPECT_EQ(labeled("L", 35, 36), Drawn("L=z"));
    for (int radix : {0, 1, 37, -10}) EXPECT_EQ(labeled("L", 12, radix), blank) << radix;
    // A label longer than the buffer is cut on a whole character.
    std::string label(300, 'A');
    EXPECT_EQ(labeled(label.c_str(), 7, 10), Drawn((std::string(255, 'A') + "=").c_str()));
    std::string kana;
    for (int i = 0; i < 150; i++) kana += "あ";
    EXPECT_EQ(labeled(kana.c_str(), 7, 10), Drawn((kana.substr(0, 254) + "=7").c_str()));
}

TEST_F(TextLibraryTest, DrawAreaClipsAndEmptyAreaDrawsNothing) {
    Start(FORMAT_16);
    std::vector<uint32_t> whole = Drawn("現在の周波数");
    ClearDrawTarget();
    ASSERT_EQ(SetDrawArea(10, 3, 40, 12), 0);
    EXPECT_EQ(DrawText(0, 0, "現在の周波数", MakeColor(255, 255, 255), 0), 0);
    std::vector<uint32_t> cut = Picture();
    for (int y = 0; y < 120; y++) {
        for (int x = 0; x < 350; x++) {
            bool inside = x >= 10 && x < 40 && y >= 3 && y < 12;
            ASSERT_EQ(cut[y * 350 + x], inside ? whole[y * 350 + x] : 0u) << x << "," << y;
        }
    }
    ClearDrawTarget();
    SetDrawArea(20, 20, 20, 40);
    EXPECT_EQ(DrawText(0, 20, "現在", MakeColor(255, 255, 255), 0), 0);
    SetDrawArea(0, 0, 350, 120);
    EXPECT_EQ(Picture(), std::vector<uint32_t>(350 * 120, 0));
}

// Positions at the ends of the int range draw nothing and overflow nothing (the
// sanitizer build watches the sums), straight, blended and smooth; the cache walk
// still counts the whole advance.
TEST_F(TextLibraryTest, StringsAtTheEndsOfTheIntRangeDrawNothing) {
    Start(FORMAT_32);
    int smooth = CFont(nullptr, 16, 4, FONT_SMOOTH_EDGED, -1);
    ASSERT_NE(smooth, -1);
    const uint32_t white = MakeColor(255, 255, 255), blue = MakeColor(0, 0, 255);
    const int far[][2] = {{INT_MAX - 3, 0}, {0, INT_MAX - 3}, {INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MIN, 5}};
    for (int blend : {0, 1}) {
        SetBlendMode(blend, 128);
        for (const auto& p : far) {
            EXPECT_EQ(DrawText(p[0], p[1], "AB現", white, 0), 0);
            EXPECT_EQ(DrawStringToHandle(p[0], p[1], "AB現", white, smooth, blue), 0);
        }
    }
    SetBlendMode(0, 0);
    EXPECT_EQ(Picture(), std::vector<uint32_t>(350 * 120, 0));

    FontRecord* font = GetFontManageDataToHandle(GetDefaultFontHandle());
    GuardedMemory m(350, 120, 32);
    PlatformRect clip = {0, 0, 350, 120};
    FontDrawTarget target = m.Target();
    int whole = FontCacheStringDraw(font, 0, 200, "AB", white, &target, nullptr, 0, &clip, 32, 1, 0);
    EXPECT_GT(whole, 0);
    EXPECT_EQ(FontCacheStringDraw(font, INT_MAX - 3, 0, "AB", white, &target, nullptr, 0, &clip, 32, 1, 0), whole);
    EXPECT_EQ(FontCacheStringDraw(font, 0, INT_MAX - 3, "AB", white, &target, nullptr, 0, &clip, 32, 1, 0), whole);
    EXPECT_TRUE(m.GuardsHold());
}

// Strings that go through the work image (smooth, or blended) leave the draw
// area as the program asked for it: a window hanging off the desktop's left edge
// and then moved back can be drawn on whole again.
TEST_F(TextLibraryTest, WorkImageStringsKeepTheAskedDrawArea) {
    Start(FORMAT_32);
    auto moveClientTo = [](int x, int y) {
        int w = FAKE.windowRect.right - FAKE.windowRect.left, h = FAKE.windowRect.bottom - FAKE.windowRect.top;
        FAKE.windowRect = PlatformRect{x - FAKE.frameLeft, y - FAKE.frameTop, x - FAKE.frameLeft + w, y - FAKE.frameTop + h};
        QueueFakeMessage(WM_MOVE, 0, (int64_t)(((uint32_t)x & 0xFFFF) | (((uint32_t)y & 0xFFFF) << 16)));
        ProcessWindowMessages();
    };
    int smooth = CFont(nullptr, 16, 4, FONT_SMOOTH, -1);
    ASSERT_NE(smooth, -1);
    for (int blend : {0, 1}) {
        moveClientTo(-100, 50);
        ASSERT_EQ(SetDrawTarget(SCREEN_FRONT), 0);
        SetDrawArea(0, 0, 350, 120);
        ASSERT_EQ(GetDrawState()->drawArea.left, 100);  // the part on the desktop
        SetBlendMode(blend, 128);
        EXPECT_EQ(DrawStringToHandle(120, 0, "あg", MakeColor(255, 255, 255), blend ? GetDefaultFontHandle() : smooth, 0), 0);
        SetBlendMode(0, 0);
        moveClientTo(10, 10);
        EXPECT_EQ(GetDrawState()->drawArea.left, 0) << blend;
        EXPECT_EQ(GetDrawState()->drawArea.right, 350) << blend;
    }
}

// Smooth fonts, and an edged one under blend mode 1, go through the work image
// and its colour key: the target shows each glyph as the model of the fake
// engine's glyphs gives it, and keeps its own pixels elsewhere.
TEST_F(TextLibraryTest, SmoothFontsGoThroughTheWorkImage) {
    for (int bits : {16, 32}) {
        EndLibrary();
        Start(bits == 16 ? FORMAT_16 : FORMAT_32, 1);
        for (int type : {FONT_SMOOTH, FONT_SMOOTH_EDGED, FONT_EDGED}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, type " << type);
            int handle = CFont(nullptr, 16, 4, type, -1);
            ASSERT_NE(handle, -1);
            FontRecord* font = GetFontManageDataToHandle(handle);
            ASSERT_GE(font->workImage, 0);
            EXPECT_EQ(GetImageAlphaPlane(font->workImage, nullptr) != nullptr, (type & FONT_TYPE_SMOOTH) != 0);
            uint32_t color = MakeColor(255, 255, 255), edge = MakeColor(0, 0, 255);
            ClearDrawTarget();
            if (type == FONT_EDGED) SetBlendMode(1, 255);  // blended: the work image too
            EXPECT_EQ(DrawStringToHandle(5, 7, "\x88\x9fgy", color, handle, edge), 0);
            SetBlendMode(0, 0);
            const unsigned codes[3] = {0x889F, 'g', 'y'};
            ModelFormat format = bits == 16 ? MODEL_565 : MODEL_32;
            ScreenSurface* s = GetDrawSurface();
            int ink = 0;
            for (int y = 0; y < 120; y++) {
                for (int x = 0; x < 350; x++) {
                    uint32_t expected = 0;
                    int pen = 5;
                    for (unsigned code : codes) {
                        GlyphModel g(type, code, color, edge, format);
                        if (x >= pen && x < pen + g.width && y >= 7 && y < 7 + g.height) {
                            ModelPixel p = g.At(x - pen, y - 7);
                            if (p.drawn) expected = p.value;
                        }
                        pen += g.width;
                    }
                    ink += expected != 0;
                    ASSERT_EQ(ReadFakePixel(s, x, y), expected) << x << "," << y;
                }
            }
            EXPECT_GT(ink, 100);
            ReleaseFontHandle(handle);
        }
    }
}

TEST_F(TextLibraryTest, FontTableHandlesAndRecreation) {
    Start(FORMAT_16, 1);
    int def = GetDefaultFontHandle();
    EXPECT_EQ(GetFontManageDataToHandle(def)->cellSize, 16 + 10);
    EXPECT_EQ(CFont(nullptr, -1, -1, -1, def), -1);     // in use
    EXPECT_EQ(CFont(nullptr, -1, -1, -1, 20), -1);      // outside the table
    EXPECT_EQ(CFont(nullptr, -1, -1, -1, -2), -1);
    EXPECT_EQ(ReleaseFontHandle(20), -1);
    int a = CFont("Face", 20, 3, FONT_SMOOTH_EDGED, 15);
    ASSERT_EQ(a, 15);
    DrawStringToHandle(0, 0, "abc", 0xFFFF, a, 0);
    EXPECT_TRUE(GetFontManageDataToHandle(a)->index['a'].present);
    ASSERT_EQ(RecreateAllFonts(), 0);
    char name[256];
    int size = 0, thickness = 0;
    ASSERT_EQ(GetFontStateToHandle(name, &size, &thickness, a), 0);
    EXPECT_STREQ(name, "Face");
    EXPECT_EQ(size, 20);
    EXPECT_EQ(thickness, 3);
    EXPECT_EQ(GetFontManageDataToHandle(a)->type, FONT_SMOOTH_EDGED);
    EXPECT_FALSE(GetFontManageDataToHandle(a)->index['a'].present);
    EXPECT_EQ(GetDefaultFontHandle(), def);

    // A second start keeps the default font's face, size and weight, not its type.
    ReleaseFontHandle(a);
    ResetDefaultFont("Face", 12, 9);
    GetFontManageDataToHandle(GetDefaultFontHandle())->type = FONT_EDGED;
    StartFontSystem();
    StartFontSystem();
    ASSERT_EQ(GetFontStateToHandle(name, &size, &thickness, GetDefaultFontHandle()), 0);
    EXPECT_STREQ(name, "Face");
    EXPECT_EQ(size, 12);
    EXPECT_EQ(thickness, 9);
    EXPECT_EQ(GetFontManageDataToHandle(GetDefaultFontHandle())->type, FONT_PLAIN);

    EXPECT_EQ(SetBlendMode(1, 300), 0);
    EXPECT_EQ(GetDrawState()->blendParam, 255);
    SetBlendMode(2, -3);
    EXPECT_EQ(GetDrawState()->blendParam, 0);
    SetBlendMode(0, 0);

    // Every font made is released again at the end.
    EndLibrary();
    EXPECT_EQ(FAKE_FONT.created, FAKE_FONT.deleted);
}

TEST_F(TextLibraryTest, TheTwentyFirstFontEndsTheProgram) {
    Start(FORMAT_16, 1);
    EXPECT_EXIT(
        {
            for (int i = 0; i < 21; i++) CFont(nullptr, -1, -1, -1, -1);
            exit(3);
        },
        testing::ExitedWithCode(255), "");
    EXPECT_NE(ReadLog().find("作成できるフォントハンドル数 20 の限界を超えました"), std::string::npos);
    EXPECT_EXIT(DrawStringToHandle(0, 0, "x", 0, 19, 0), testing::ExitedWithCode(255), "");
    EXPECT_NE(ReadLog().find("\tin DrawStringToHandle  x = 0 , y = 0 , String = x  Color = 0 , FontHandle = 19  "),
              std::string::npos);
}

// Strings through the work image begun left of the target keep everything that
// lies inside it: drawn 19 characters to the left they equal the rest of the
// string drawn at 0, smooth, or plain under blend mode 1 (which also equals the
// direct path).
TEST_F(TextLibraryTest, WorkImageStringsBegunLeftOfTheTargetDrawTheirWholeVisiblePart) {
    Start(FORMAT_32, 1);
    int smooth = CFont(nullptr, 16, 4, FONT_SMOOTH, -1);
    ASSERT_NE(smooth, -1);
    std::string all, rest;
    for (int i = 0; i < 40; i++) all += "あ";
    for (int i = 19; i < 40; i++) rest += "あ";
    const uint32_t white = MakeColor(255, 255, 255);
    struct Case {
        int handle, blend;
    } cases[] = {{smooth, 0}, {GetDefaultFontHandle(), 1}};
    for (const Case& c : cases) {
        SetBlendMode(c.blend, 255);
        ClearDrawTarget();
        EXPECT_EQ(DrawStringToHandle(-19 * 16, 3, all.c_str(), white, c.handle, 0), 0);
        std::vector<uint32_t> shifted = Picture();
        ClearDrawTarget();
        DrawStringToHandle(0, 3, rest.c_str(), white, c.handle, 0);
        std::vector<uint32_t> whole = Picture();
        EXPECT_EQ(shifted, whole) << c.handle;
        int last = -1;
        for (int y = 0; y < 120; y++) {
            for (int x = 0; x < 350; x++) {
                if (shifted[y * 350 + x]) last = std::max(last, x);
            }
        }
        EXPECT_GT(last, 330) << c.handle;
        SetBlendMode(0, 0);
        if (c.blend) {
            ClearDrawTarget();
            DrawStringToHandle(-19 * 16, 3, all.c_str(), white, c.handle, 0);
            EXPECT_EQ(Picture(), shifted);
        }
    }
}

// An opaque copy of the work image covers the font size + 1 rows, not the whole
// cell: what lies below stays.
TEST_F(TextLibraryTest, OpaqueWorkImageCopyCoversTheFontSizeAndOneRow) {
    Start(FORMAT_16, 1);
    const uint32_t white = MakeColor(255, 255, 255);
    DrawText(0, 17, "ABCDEFGH", white, 0);
    std::vector<uint32_t> below = Picture();
    SetBlendMode(2, 255);
    DrawText(0, 0, "xyz", white, 0);
    SetBlendMode(0, 0);
    std::vector<uint32_t> after = Picture();
    int changed = 0;
    for (int y = 0; y < 120; y++) {
        for (int x = 0; x < 350; x++) {
            if (y >= 17) {
                ASSERT_EQ(after[y * 350 + x], below[y * 350 + x]) << x << "," << y;
            }
            changed += after[y * 350 + x] != below[y * 350 + x];
        }
    }
    EXPECT_GT(changed, 0);
}

// The weight asked of the engine stays in its range whatever the thickness.
TEST_F(TextLibraryTest, ThicknessBecomesAWeightInTheEnginesRange) {
    Start(FORMAT_16, 1);
    const struct {
        int thickness, weight;
    } cases[] = {{3, 300}, {-1, 600}, {0, 0}, {9, 900}, {10, 900}, {30000000, 900}, {INT_MAX, 900}, {-5, 0},
                 {INT_MIN, 0}};
    for (const auto& c : cases) {
        int handle = CFont(nullptr, 16, c.thickness, FONT_PLAIN, -1);
        ASSERT_NE(handle, -1) << c.thickness;
        EXPECT_EQ(FAKE_FONT.lastWeight, c.weight) << c.thickness;
        int thickness = 0;
        GetFontStateToHandle(nullptr, nullptr, &thickness, handle);
        EXPECT_EQ(thickness, c.thickness == -1 ? 6 : c.thickness);
        ReleaseFontHandle(handle);
    }
}

// A label ending in a lead byte without its trail: the byte is dropped, "=" stays.
TEST_F(TextLibraryTest, LabelEndingInAStrayLeadByteKeepsTheEqualsSign) {
    // The fake engine draws every pair, so a lead byte that swallowed the "=" shows.
    Start(FORMAT_32, 1);
    const uint32_t white = MakeColor(255, 255, 255);
    const char* cases[][2] = {{"AB\x82", "AB=5"}, {"あ\x82", "あ=5"}};
    for (const auto& c : cases) {
        ClearDrawTarget();
        EXPECT_EQ(DrawLabeledNumber(0, 0, c[0], 5, 10, white, 0), 0);
        std::vector<uint32_t> labeled = Picture();
        EXPECT_EQ(labeled, Drawn(c[1])) << c[1];
    }
}

// In UTF-8 a label that ends inside a character keeps its "=": the cut
// sequence is drawn as one U+FFFD, as a whole label's would be.
TEST_F(TextLibraryTest, Utf8LabelEndingInACutCharacterKeepsTheEqualsSign) {
    struct Utf8Run {
        Utf8Run() { SetStringEncoding(STRING_UTF8); }
        ~Utf8Run() {
            EndLibrary();
            SetStringEncoding(STRING_SHIFT_JIS);
        }
    } utf8;
    Start(FORMAT_32, 1);
    const uint32_t white = MakeColor(255, 255, 255);
    const char* cases[][2] = {{"A\xC3\xA9\xE3", "A\xC3\xA9\xEF\xBF\xBD=5"}, {"\xE3\x81", "\xEF\xBF\xBD=5"}};
    for (const auto& c : cases) {
        ClearDrawTarget();
        EXPECT_EQ(DrawLabeledNumber(0, 0, c[0], 5, 10, white, 0), 0);
        std::vector<uint32_t> labeled = Picture();
        EXPECT_EQ(labeled, Drawn(c[1])) << c[1];
    }
}

// Without a Japanese font, or without any font, the program goes on: the
// failure is in the log and one line on standard error names the font to
// install; texts the fonts cannot draw are left out. fontconfig reads a
// configuration of the test's own in a child process.
TEST_F(TextLibraryTest, MissingFontsAreReportedAndDoNotEndTheProgram) {
    std::string latin = "/usr/share/fonts/truetype/dejavu";
    std::string empty = dir + "/no-fonts";
    ASSERT_EQ(system(("mkdir -p '" + empty + "'").c_str()), 0);
    struct Case {
        std::string fonts;
        const char* logged;
    } cases[] = {{empty, "フォントの作成に失敗しました"}, {latin, "日本語の文字を持つフォントが見つかりません"}};
    for (const Case& c : cases) {
        if (c.fonts == latin && !std::ifstream(latin + "/DejaVuSans.ttf")) continue;
        std::string config = dir + "/fonts.conf";
        std::ofstream(config) << "<?xml version=\"1.0\"?>\n<fontconfig><dir>" << c.fonts << "</dir><cachedir>" << dir
                              << "/fc-cache</cachedir></fontconfig>\n";
        EXPECT_EXIT(
            {
                setenv("FONTCONFIG_FILE", config.c_str(), 1);
                FcInitReinitialize();
                Start(FORMAT_32);
                const uint32_t white = MakeColor(255, 255, 255);
                DrawText(0, 0, "あいう", white, 0);
                int kanaInk = 0;
                for (uint32_t p : Picture()) kanaInk += p != 0;
                int result = DrawText(0, 0, "ABC", white, 0);
                int latinInk = 0;
                for (uint32_t p : Picture()) latinInk += p != 0;
                int labeled = DrawLabeledNumber(0, 20, "L", 5, 10, white, 0);
                EndLibrary();
                // No font: DrawText fails and draws nothing. Latin only: Latin text is drawn.
                bool right = c.fonts == empty ? result == -1 && latinInk == 0 : result == 0 && latinInk > 0;
                exit(right && kanaInk == 0 && labeled == 0 ? 7 : 8);
            },
            testing::ExitedWithCode(7), "fonts-ipafont-gothic");
        EXPECT_NE(ReadLog().find(c.logged), std::string::npos) << c.fonts;
    }
}
