// text_draw_bench.cpp: what string drawing costs with the real font engine.
//
//   - FiveLinesCached: the player's five status lines drawn into a 350 x 120
//     16-bit (5:6:5) picture once their characters are in the cache; the
//     per-frame cost of its text (goal: under 30 us).
//   - FiveLinesDrawText: the same through DrawText and DrawLabeledNumber into
//     the back surface of a started library (fake window and display device).
//   - First100Kanji: one string of 100 kanji none of which is cached yet, into
//     a fresh font: rasterising and drawing.
//   - FreeType100Glyphs: FreeType alone rendering the same 100 glyphs the same
//     way (hinted for monochrome, MONO, one pixel bolder), for comparison.
#include <benchmark/benchmark.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BITMAP_H

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "library/library.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/fake_screen.h"
#include "platform/font_engine.h"
#include "screen/screen.h"
#include "text/text_internal.h"

namespace {

struct Picture {
    int width = 350, height = 120, pitch = 350 * 2;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(350 * 2 * 120);

    static int Lock(void* context, uint8_t** pixels, int* pitch, PlatformRect* visible) {
        Picture* p = (Picture*)context;
        *pixels = p->pixels.data();
        *pitch = p->pitch;
        *visible = {0, 0, p->width, p->height};
        return 0;
    }
    static void Unlock(void*) {}
};

FontRecord* MakeDefaultFont() {
    PLATFORM.font = &FREETYPE_FONT_OPS;
    FontRecord* font = (FontRecord*)calloc(1, sizeof(FontRecord));
    if (BuildFontRecord(font, nullptr, 16, 6, FONT_PLAIN, 16) != 0) abort();
    return font;
}

void FreeFont(FontRecord* font) {
    FreeFontRecordParts(font);
    free(font);
}

struct Line {
    int x, y;
    const char* text;
    uint32_t color;
};

const Line LINES[] = {
    {0, 20, "sample_music_file.ogg", 0xCE5F},
    {0, 0, "現在の周波数=44100", 0xFFFF},
    {0, 60, "キーボード左右で周波数変更(上下で高速)", 0xFE59},
    {0, 80, "エンターキーで停止、再開", 0xFE59},
    {0, 100, "音楽データはwav,ogg,mp3のみ対応", 0xFE59},
};

std::string HundredKanji() {
    std::string s;
    int lead = 0x88, trail = 0x9F;  // from 0x889F on, the first kanji of the code page
    for (int i = 0; i < 100; i++) {
        s += (char)lead;
        s += (char)trail;
        if (++trail == 0x7F) trail++;  // never a trail byte
        if (trail > 0xFC) {
            lead++;
            trail = 0x40;
        }
    }
    return s;
}

void FiveLinesCached(benchmark::State& state) {
    FontRecord* font = MakeDefaultFont();
    Picture picture;
    FontDrawTarget target = {Picture::Lock, Picture::Unlock, &picture, 0xF800, 0x07E0, 0x001F};
    PlatformRect clip = {0, 0, 350, 120};
    for (const Line& l : LINES) FontCacheStringDraw(font, l.x, l.y, l.text, l.color, &target, nullptr, 0, &clip, 16, 1, 0);
    for (auto _ : state) {
        for (const Line& l : LINES) {
            benchmark::DoNotOptimize(
                FontCacheStringDraw(font, l.x, l.y, l.text, l.color, &target, nullptr, 0, &clip, 16, 1, 0));
        }
        benchmark::ClobberMemory();
    }
    FreeFont(font);
}

void FiveLinesDrawText(benchmark::State& state) {
    InstallFakePlatform();
    PLATFORM.font = &FREETYPE_FONT_OPS;
    FAKE.currentDirectory = "/tmp";
    FAKE_SCREEN.desktopFormat = {16, 0xF800, 0x07E0, 0x001F, 0};
    SetLogOutputEnabled(0);
    SetScreenMode(350, 120, 16, -1);
    if (InitLibrary() != 0) abort();
    SetDrawTarget(SCREEN_BACK);
    auto draw = [] {
        DrawText(0, 20, "sample_music_file.ogg", MakeColor(200, 200, 255), 0);
        DrawLabeledNumber(0, 0, "現在の周波数", 44100, 10, MakeColor(255, 255, 255), 0);
        DrawText(0, 60, "キーボード左右で周波数変更(上下で高速)", MakeColor(255, 200, 200), 0);
        DrawText(0, 80, "エンターキーで停止、再開", MakeColor(255, 200, 200), 0);
        DrawText(0, 100, "音楽データはwav,ogg,mp3のみ対応", MakeColor(255, 200, 200), 0);
    };
    draw();
    for (auto _ : state) draw();
    EndLibrary();
}

void First100Kanji(benchmark::State& state) {
    std::string text = HundredKanji();
    Picture picture;
    picture.width = 1800;
    picture.pitch = 1800 * 2;
    picture.pixels.assign((size_t)picture.pitch * 120, 0);
    FontDrawTarget target = {Picture::Lock, Picture::Unlock, &picture, 0xF800, 0x07E0, 0x001F};
    PlatformRect clip = {0, 0, 1800, 120};
    for (auto _ : state) {
        state.PauseTiming();
        FontRecord* font = MakeDefaultFont();
        state.ResumeTiming();
        benchmark::DoNotOptimize(FontCacheStringDraw(font, 0, 0, text.c_str(), 0xFFFF, &target, nullptr, 0, &clip, 16, 1, 0));
        state.PauseTiming();
        FreeFont(font);
        state.ResumeTiming();
    }
}

void FreeType100Glyphs(benchmark::State& state) {
    std::string text = HundredKanji();
    FcPattern* p = FcNameParse((const FcChar8*)":lang=ja:spacing=mono:pixelsize=16");
    FcConfigSubstitute(nullptr, p, FcMatchPattern);
    FcDefaultSubstitute(p);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, p, &result);
    FcChar8* file = nullptr;
    FcPatternGetString(match, FC_FILE, 0, &file);
    FT_Library lib;
    FT_Init_FreeType(&lib);
    FT_Face face;
    if (FT_New_Face(lib, (const char*)file, 0, &face) != 0) abort();
    FcPatternDestroy(match);
    FcPatternDestroy(p);
    FT_Set_Pixel_Sizes(face, 0, 16);
    // The same characters as Unicode, converted once outside the timing.
    std::vector<char32_t> chars;
    for (int i = 0; i < 100; i++) {
        char utf8[8];
        char sjis[3] = {text[2 * i], text[2 * i + 1], 0};
        ConvertSjisToUtf8(sjis, utf8, sizeof utf8);
        const uint8_t* u = (const uint8_t*)utf8;
        chars.push_back((char32_t)((u[0] & 0x0F) << 12 | (u[1] & 0x3F) << 6 | (u[2] & 0x3F)));
    }
    for (auto _ : state) {
        for (char32_t c : chars) {
            FT_Load_Glyph(face, FT_Get_Char_Index(face, c), FT_LOAD_TARGET_MONO);
            FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO);
            FT_Bitmap b;
            FT_Bitmap_Init(&b);
            FT_Bitmap_Copy(lib, &face->glyph->bitmap, &b);
            FT_Bitmap_Embolden(lib, &b, 64, 0);
            benchmark::DoNotOptimize(b.buffer);
            FT_Bitmap_Done(lib, &b);
        }
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
}

}  // namespace

BENCHMARK(FiveLinesCached)->Unit(benchmark::kMicrosecond);
BENCHMARK(FiveLinesDrawText)->Unit(benchmark::kMicrosecond);
BENCHMARK(First100Kanji)->Unit(benchmark::kMicrosecond);
BENCHMARK(FreeType100Glyphs)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
