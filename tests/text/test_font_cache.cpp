// The glyph cache on the fake font engine: geometry, round-robin eviction,
// the string walk and the pixel rules over guarded memory.
#include <cstdlib>
#include <cstring>
#include <string>

#include "text_test_support.h"

namespace {

// Ink of a one-colour fake character as the cache must give it.
bool PlainInk(unsigned code, int x, int y) {
    return FakeGlyphInk(code, x, y) != 0;
}

// The whole cache: every write of a font must stay inside it (the sanitizer
// watches the exact allocation), and every cell must hold its whole glyph.
void FillEverySlot(FontRecord* font) {
    std::vector<uint8_t> list;
    for (int i = 0; i < font->slotCount; i++) {
        // Double-byte characters: lead 0x88 and up, trail 0x40 and up.
        list.push_back((uint8_t)(0x88 + i / 0xBC));
        list.push_back((uint8_t)(0x40 + i % 0xBC));
        list.push_back(0);
    }
    AddCharsToFontCache(font, font->slotCount, list.data());
}

}  // namespace

TEST(FontCacheGeometry, CellsSlotsAndColumns) {
    FontCacheGeometry plain = ComputeFontCacheGeometry(16, FONT_PLAIN);
    EXPECT_EQ(plain.slotCount, 1024);
    EXPECT_EQ(plain.width, 16);
    EXPECT_EQ(plain.height, 16384);
    for (int type = FONT_EDGED; type <= FONT_SMOOTH_EDGED; type++) {
        FontCacheGeometry g = ComputeFontCacheGeometry(16, type);
        EXPECT_EQ(g.slotCount, 1280);
        EXPECT_EQ(g.width, 32);
        EXPECT_EQ(g.height, 10240);
        EXPECT_EQ(g.cellsPerColumn, 640);
    }
    EXPECT_EQ(ComputeFontCacheGeometry(16, FONT_SMOOTH_EDGED).bits, 16);
    // Halving leaves one cell too few for these: the slot count follows the cells.
    for (int cell : {14, 18}) {
        for (int type = FONT_EDGED; type <= FONT_SMOOTH_EDGED; type++) {
            FontCacheGeometry g = ComputeFontCacheGeometry(cell, type);
            EXPECT_LE(g.slotCount, (g.width / cell) * g.cellsPerColumn) << cell << " " << type;
            EXPECT_LE(g.height, FONT_CACHE_MAX_HEIGHT);
        }
    }
    EXPECT_EQ(ComputeFontCacheGeometry(574, FONT_PLAIN).slotCount, 0);
    // Cells of huge fonts: their square does not fit an int (65536 squared wraps to 0).
    for (int cell : {46341, 65536, 65546}) {
        for (int type = FONT_PLAIN; type <= FONT_SMOOTH_EDGED; type++) {
            EXPECT_EQ(ComputeFontCacheGeometry(cell, type).slotCount, 0) << cell;
        }
    }
}

TEST_F(FakeFontTest, FontRecordGeometryAndTypes) {
    FakeFont plain(FONT_PLAIN, 16);
    ASSERT_EQ(plain.built, 0);
    EXPECT_EQ(plain.record->cellSize, 16 + 10);
    EXPECT_EQ(plain.record->slotCount, 327680 / (26 * 26));
    EXPECT_EQ(FAKE_FONT.lastWeight, 600);
    EXPECT_EQ(FAKE_FONT.lastHeight, 16);

    FAKE_FONT.maxCharWidth = 15;  // odd: made even, then the edge room
    FakeFont edged(FONT_EDGED);
    EXPECT_EQ(edged.record->cellSize, 16 + 2 + 10);

    FakeFont smooth8(FONT_SMOOTH, 8), smoothEdged8(FONT_SMOOTH_EDGED, 8);
    EXPECT_EQ(smooth8.record->type, FONT_PLAIN);
    EXPECT_EQ(smoothEdged8.record->type, FONT_EDGED);

    // A cell of 574 holds no slot at all: the font is refused, nothing divides by zero.
    FAKE_FONT.maxCharWidth = 564;
    FakeFont huge(FONT_PLAIN);
    EXPECT_EQ(huge.built, -1);
    FAKE_FONT.maxCharWidth = 65526;  // a cell of 65536 pixels
    FakeFont giant(FONT_PLAIN);
    EXPECT_EQ(giant.built, -1);

    FAKE_FONT.maxCharWidth = 16;
    FAKE_FONT.createFails = 1;
    FakeFont none(FONT_PLAIN);
    EXPECT_EQ(none.built, -1);
}

TEST_F(FakeFontTest, EveryCellHoldsItsGlyphAndNothingSpills) {
    // Cells of 14 and 18 (types 1-3) and a font far taller than it is wide.
    struct Case {
        int maxWidth, ascent, descent;
    } cases[] = {{2, 10, 1}, {6, 14, 2}, {8, 40, 2}};
    for (const Case& c : cases) {
        for (int type = FONT_PLAIN; type <= FONT_SMOOTH_EDGED; type++) {
            InstallFakeFontEngine();
            FAKE_FONT.maxCharWidth = c.maxWidth;
            FAKE_FONT.halfAdvance = FAKE_FONT.fullAdvance = c.maxWidth;
            FAKE_FONT.ascent = c.ascent;
            FAKE_FONT.descent = c.descent;
            FakeFont font(type);
            ASSERT_EQ(font.built, 0);
            FontRecord* f = font.record;
            EXPECT_GE(f->cellSize, c.ascent + c.descent + ((type & 1) ? 2 : 0) + 1);
            FillEverySlot(f);
            EXPECT_TRUE(font.IndexConsistent());
            // The last cell ends the cache: drawing it reads nothing past it.
            int last = f->slotCount - 1;
            char text[3] = {(char)(0x88 + last / 0xBC), (char)(0x40 + last % 0xBC), 0};
            GuardedMemory m(64, 64, 32);
            EXPECT_EQ(DrawInto(f, m, 0, 0, text, 0xFFFFFF), c.maxWidth + ((type & 1) ? 2 : 0));
            EXPECT_TRUE(m.GuardsHold());
            // The last slot's glyph is whole: its lowest ink row is in its cell.
            if (type == FONT_EDGED) {
                int k = f->slotCount - 1;
                int cx = (k / f->cellsPerColumn) * f->cellSize, cy = (k % f->cellsPerColumn) * f->cellSize;
                unsigned code = 0x8800u + (0x40 + k % 0xBC) + (unsigned)(k / 0xBC) * 256;
                for (int y = 0; y < c.ascent + c.descent; y++) {
                    for (int x = 0; x < c.maxWidth; x++) {
                        uint8_t v = f->cachePixels[(size_t)(cy + 1 + y) * f->cachePitch + cx + 1 + x];
                        EXPECT_EQ(v == 3, PlainInk(code, x, y)) << x << "," << y;
                    }
                }
            }
        }
    }
}

TEST_F(FakeFontTest, RoundRobinEvictionKeepsTheIndexTrue) {
    FakeFont font(FONT_PLAIN);
    FontRecord* f = font.record;
    int n = f->slotCount;
    // slot count + 1 single characters one after another: the first goes.
    for (int i = 0; i <= n; i++) {
        uint8_t entry[4] = {(uint8_t)0x88, (uint8_t)(0x40 + i % 0xBC), 0, 0};
        entry[0] = (uint8_t)(0x88 + i / 0xBC);
        AddCharsToFontCache(f, 1, entry);
    }
    EXPECT_FALSE(f->index[0x88 | 0x40 << 8].present);
    EXPECT_EQ(f->index[(0x88 + n / 0xBC) | (0x40 + n % 0xBC) << 8].slot, &f->slots[0]);
    EXPECT_TRUE(font.IndexConsistent());

    // A character four times in one batch: recycling its older slots never clears the live entry.
    FakeFont twice(FONT_PLAIN);
    GuardedMemory m(200, 20, 32);
    DrawInto(twice.record, m, 0, 0, "ああああ", 0xFFFFFF);
    const CharIndexEntry& a = twice.record->index[0x82 | 0xA0 << 8];
    for (int i = 0; i < twice.record->slotCount - 3; i++) {
        uint8_t entry[4] = {(uint8_t)(0x89 + i / 0xBC), (uint8_t)(0x40 + i % 0xBC), 0, 0};
        AddCharsToFontCache(twice.record, 1, entry);
        ASSERT_TRUE(a.present) << i;
        ASSERT_EQ(a.slot, &twice.record->slots[3]);
    }

    FakeFont again(FONT_PLAIN);
    const char* aaaa = "ああああ";
    for (int round = 0; round < again.record->slotCount + 4; round++) {
        DrawInto(again.record, m, 0, 0, round % 3 == 0 ? aaaa : "xyz", 0xFFFFFF);
        ASSERT_TRUE(again.IndexConsistent()) << round;
        ASSERT_TRUE(again.record->index[(uint8_t)aaaa[0] | (uint8_t)aaaa[1] << 8].present || round % 3 != 0);
    }
}

TEST_F(FakeFontTest, ASmallCacheDrawsLongStringsRight) {
    // Seven slots, ten distinct characters never seen: drawn as a big cache draws them.
    FAKE_FONT.maxCharWidth = 200;
    FakeFont small(FONT_EDGED);
    ASSERT_EQ(small.record->slotCount, 7);
    InstallFakeFontEngine();
    FakeFont big(FONT_EDGED);
    const char* text = "ABCDEFGHIJ";
    GuardedMemory a(200, 20, 16), b(200, 20, 16);
    EXPECT_EQ(DrawInto(small.record, a, 1, 1, text, 0xFFFF, 0x1234), 100);
    EXPECT_EQ(DrawInto(big.record, b, 1, 1, text, 0xFFFF, 0x1234), 100);
    EXPECT_EQ(a.bytes, b.bytes);
    EXPECT_TRUE(small.IndexConsistent());

    // A reused edged slot shows only its new glyph.
    FakeFont reused(FONT_EDGED), fresh(FONT_EDGED);
    for (int i = 0; i < reused.record->slotCount; i++) {
        uint8_t entry[4] = {(uint8_t)(0x89 + i / 0xBC), (uint8_t)(0x40 + i % 0xBC), 0, 0};
        AddCharsToFontCache(reused.record, 1, entry);
    }
    GuardedMemory c(40, 20, 32), d(40, 20, 32);
    DrawInto(reused.record, c, 0, 0, ".", 0xFFFFFF, 0x0000FF);
    DrawInto(fresh.record, d, 0, 0, ".", 0xFFFFFF, 0x0000FF);
    EXPECT_EQ(c.bytes, d.bytes);
}

TEST(FontStringWalk, LimitsLeadBytesAndHalfWidth) {
    uint32_t keys[FONT_STRING_LIMIT];
    // A lead byte before the terminator ends the string; nothing after the terminator is read.
    char* tail = (char*)malloc(4);
    memcpy(tail, "AB\x82", 4);
    EXPECT_EQ(SplitTextIntoKeys(tail, keys), 2);
    free(tail);
    // A lead byte as the 256th byte: its trail would lie past the limit.
    char* limit = (char*)malloc(FONT_STRING_LIMIT);
    memset(limit, 'A', FONT_STRING_LIMIT);
    limit[255] = (char)0x82;
    EXPECT_EQ(SplitTextIntoKeys(limit, keys), 255);
    free(limit);
    EXPECT_EQ(SplitTextIntoKeys("\xB1\xB2", keys), 2);  // two half-width katakana
    ASSERT_EQ(SplitTextIntoKeys("\x83\x5C", keys), 1);  // one character, no backslash
    EXPECT_EQ(keys[0], 0x5C83);
    EXPECT_EQ(SplitTextIntoKeys("", keys), 0);
    std::string many(300, 'A');
    EXPECT_EQ(SplitTextIntoKeys(many.c_str(), keys), 256);
}

// Every font type at every depth (and both 16-bit formats), transparent and
// opaque: each pixel of the target and of the alpha plane is what the model of
// the glyph gives, and nothing outside the memory is touched.
TEST_F(FakeFontTest, PixelRulesAtEveryDepthStayInsideTheirMemory) {
    const char* text = "a\x88\x9f";  // a half-width and a full-width character
    const unsigned codes[2] = {'a', 0x889F};
    struct Depth {
        int bits;
        uint32_t red, green, blue;
        ModelFormat format;
        uint32_t color, edge;  // channels on both sides of each other
    } depths[] = {
        {8, 0, 0, 0, MODEL_32, 0xC1, 0x17},
        {16, 0xF800, 0x07E0, 0x001F, MODEL_565, 0xC1D2, 0x1738},
        {16, 0x7C00, 0x03E0, 0x001F, MODEL_555, 0x41D2, 0x1738},
        {32, 0xFF0000, 0xFF00, 0xFF, MODEL_32, 0x00C12AE3, 0x0017D839},
    };
    const int X = 3, Y = 2, W = 48, H = 24;
    for (const Depth& d : depths) {
        for (int type = FONT_PLAIN; type <= FONT_SMOOTH_EDGED; type++) {
            if (d.bits == 8 && (type & FONT_TYPE_SMOOTH)) continue;
            for (int transparent : {1, 0}) {
                SCOPED_TRACE(testing::Message() << d.bits << " bits, masks " << std::hex << d.red << ", type "
                                                << type << ", transparent " << transparent);
                FakeFont font(type, d.bits);
                GuardedMemory m(W, H, d.bits);
                std::vector<uint8_t> alpha(W * H, 0x77);
                FontDrawTarget target = FontDrawTarget{GuardedMemory::Lock, GuardedMemory::Unlock, &m, d.red,
                                                       d.green, d.blue};
                PlatformRect whole = {0, 0, W, H};
                int advance = FontCacheStringDraw(font.record, X, Y, text, d.color, &target, alpha.data(), W, &whole,
                                                  d.bits, transparent, d.edge);
                GlyphModel glyphs[2] = {GlyphModel(type, codes[0], d.color, d.edge, d.format),
                                        GlyphModel(type, codes[1], d.color, d.edge, d.format)};
                EXPECT_EQ(advance, glyphs[0].width + glyphs[1].width);
                EXPECT_TRUE(m.GuardsHold());
                int drawn = 0, blended = 0;
                for (int y = 0; y < H; y++) {
                    for (int x = 0; x < W; x++) {
                        uint32_t pixel = m.Background();
                        int a = 0x77;
                        int pen = X;
                        for (const GlyphModel& g : glyphs) {
                            if (x >= pen && x < pen + g.width && y >= Y && y < Y + g.height) {
                                ModelPixel p = g.At(x - pen, y - Y);
                                if (p.drawn) {
                                    pixel = p.value;
                                    drawn++;
                                    blended += p.value != d.color && p.value != d.edge;
                                } else if (!transparent) {
                                    pixel = 0;
                                }
                                if (p.alpha >= 0 && (p.drawn || !transparent)) a = p.alpha;
                            }
                            pen += g.width;
                        }
                        ASSERT_EQ(m.Pixel(x, y), pixel) << x << "," << y;
                        ASSERT_EQ(alpha[y * W + x], a) << x << "," << y;
                    }
                }
                EXPECT_GT(drawn, 40);
                if (type == FONT_SMOOTH_EDGED) {
                    EXPECT_GT(blended, 20);
                }
            }
        }
    }
}

// A reused cell shows only its new glyph, whatever the type: the cell is
// cleared whole, not only where the new glyph has ink.
TEST_F(FakeFontTest, AReusedCellShowsOnlyItsNewGlyph) {
    for (int type = FONT_PLAIN; type <= FONT_SMOOTH_EDGED; type++) {
        FakeFont reused(type), fresh(type);
        // Full-width glyphs in every slot; the next character takes slot 0 again.
        for (int i = 0; i < reused.record->slotCount; i++) {
            uint8_t entry[4] = {(uint8_t)(0x89 + i / 0xBC), (uint8_t)(0x40 + i % 0xBC), 0, 0};
            AddCharsToFontCache(reused.record, 1, entry);
        }
        std::vector<uint8_t> alphaA(40 * 20, 0), alphaB(40 * 20, 0);
        GuardedMemory a(40, 20, 32), b(40, 20, 32);
        DrawInto(reused.record, a, 0, 0, ".", 0xFFFFFF, 0x0000FF, nullptr, 1, alphaA.data(), 40);
        DrawInto(fresh.record, b, 0, 0, ".", 0xFFFFFF, 0x0000FF, nullptr, 1, alphaB.data(), 40);
        EXPECT_EQ(a.bytes, b.bytes) << type;
        EXPECT_EQ(alphaA, alphaB) << type;
    }
}

TEST_F(FakeFontTest, ClipCutsGlyphsAndTheAdvanceStaysWhole) {
    FakeFont font(FONT_PLAIN);
    GuardedMemory whole(64, 24, 32), cut(64, 24, 32);
    DrawInto(font.record, whole, 0, 0, "ABCD", 0xFFFFFF);
    PlatformRect clip = {5, 3, 21, 12};
    EXPECT_EQ(DrawInto(font.record, cut, 0, 0, "ABCD", 0xFFFFFF, 0, &clip), 32);
    for (int y = 0; y < 24; y++) {
        for (int x = 0; x < 64; x++) {
            bool inside = x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
            EXPECT_EQ(cut.Pixel(x, y), inside ? whole.Pixel(x, y) : cut.Background()) << x << "," << y;
        }
    }
    // The locked memory covers only part of the surface: nothing is written outside it.
    GuardedMemory part(64, 24, 32);
    part.visible = {0, 0, 12, 10};
    DrawInto(font.record, part, -3, -2, "ABCD", 0xFFFFFF);
    for (int y = 0; y < 24; y++) {
        for (int x = 0; x < 64; x++) {
            if (x >= 12 || y >= 10) {
                EXPECT_EQ(part.Pixel(x, y), part.Background());
            }
        }
    }
    // Opaque drawing clears the background of the character boxes.
    GuardedMemory opaque(64, 24, 16);
    DrawInto(font.record, opaque, 0, 0, "A", 0xFFFF, 0, nullptr, 0);
    for (int y = 0; y < 16; y++) {
        for (int x = 0; x < 8; x++) EXPECT_EQ(opaque.Pixel(x, y), PlainInk('A', x, y) ? 0xFFFFu : 0u) << x << "," << y;
    }
    EXPECT_EQ(opaque.Pixel(8, 0), opaque.Background());
}

TEST_F(FakeFontTest, BlankCharactersTakeRoomAndDrawNothing) {
    FAKE_FONT.blankCodes = {'\t'};
    for (int type : {FONT_SMOOTH, FONT_SMOOTH_EDGED}) {
        FakeFont font(type);
        GuardedMemory m(64, 24, 32);
        int extra = type == FONT_SMOOTH_EDGED ? 2 : 0;
        // Tab, space and the full-width space, then a letter.
        EXPECT_EQ(DrawInto(font.record, m, 0, 0, "\t \x81\x40" "A", 0xFFFFFF, 0x0000FF), 8 + 8 + 16 + 8 + 4 * extra);
        for (int y = 0; y < 24; y++) {
            for (int x = 0; x < 32 + 3 * extra; x++) ASSERT_EQ(m.Pixel(x, y), m.Background()) << x << "," << y;
        }
        EXPECT_TRUE(m.GuardsHold());
        const CacheSlot* tab = font.record->index['\t'].slot;
        EXPECT_EQ(tab->width, 8 + extra);
        EXPECT_EQ(tab->height, 16 + extra);
    }
}
