// A UTF-8 program's strings through the glyph cache: the walk by code point
// (malformed sequences, the byte limit), glyphs by code point on the fake
// engine, and characters beyond the 16-bit index.
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "text_test_support.h"

namespace {

// Fonts made while it lives take their keys from UTF-8.
struct Utf8Strings {
    Utf8Strings() { SetStringEncoding(STRING_UTF8); }
    ~Utf8Strings() { SetStringEncoding(STRING_SHIFT_JIS); }
};

std::vector<uint32_t> Keys(const std::string& text) {
    uint32_t keys[FONT_STRING_LIMIT];
    int count = SplitTextIntoKeys(text.c_str(), keys, 1);
    return std::vector<uint32_t>(keys, keys + count);
}

// UTF-8 of one code point.
std::string Utf8Of(uint32_t c) {
    std::string s;
    if (c < 0x80) {
        s += (char)c;
    } else if (c < 0x800) {
        s += (char)(0xC0 | c >> 6);
        s += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += (char)(0xE0 | c >> 12);
        s += (char)(0x80 | (c >> 6 & 0x3F));
        s += (char)(0x80 | (c & 0x3F));
    } else {
        s += (char)(0xF0 | c >> 18);
        s += (char)(0x80 | (c >> 12 & 0x3F));
        s += (char)(0x80 | (c >> 6 & 0x3F));
        s += (char)(0x80 | (c & 0x3F));
    }
    return s;
}

std::string Utf8Of(const std::vector<uint32_t>& codes) {
    std::string s;
    for (uint32_t c : codes) s += Utf8Of(c);
    return s;
}

const uint32_t FFFD = 0xFFFD;

}  // namespace

TEST(Utf8StringWalk, CodePointsReplacementsAndTheByteLimit) {
    EXPECT_EQ(Keys("a\xC3\xA9\xE2\x82\xAC\xE4\xB8\x82\xF0\x9F\x98\x80"),
              (std::vector<uint32_t>{'a', 0xE9, 0x20AC, 0x4E02, 0x1F600}));
    // Each malformed piece is one U+FFFD, and the byte after it is read again
    // as a character of its own.
    EXPECT_EQ(Keys("a\x80" "b"), (std::vector<uint32_t>{'a', FFFD, 'b'}));
    EXPECT_EQ(Keys("\xE3\x81" "x"), (std::vector<uint32_t>{FFFD, 'x'}));         // a character cut short
    EXPECT_EQ(Keys("\xC0\xAF"), (std::vector<uint32_t>{FFFD, FFFD}));           // overlong '/'
    EXPECT_EQ(Keys("\xED\xA0\x80"), (std::vector<uint32_t>{FFFD, FFFD, FFFD}));  // a surrogate
    EXPECT_EQ(Keys("\xF4\x90\x80\x80"), (std::vector<uint32_t>{FFFD, FFFD, FFFD, FFFD}));  // above U+10FFFF
    EXPECT_EQ(Keys("\xE3\x81\x82\xFF"), (std::vector<uint32_t>{0x3042, FFFD}));

    // A string that ends inside a character: one U+FFFD, and not a byte read
    // past its end (the sanitizer build watches this allocation).
    char* cut = (char*)malloc(5);
    memcpy(cut, "a\xF0\x9F\x98", 5);
    uint32_t keys[FONT_STRING_LIMIT];
    ASSERT_EQ(SplitTextIntoKeys(cut, keys, 1), 2);
    EXPECT_EQ(keys[1], FFFD);
    free(cut);

    // The first 256 bytes, ending after the last whole character in them.
    EXPECT_EQ(Keys(std::string(255, 'a') + "\xC3\xA9").size(), 255u);
    EXPECT_EQ(Keys(std::string(254, 'a') + "\xC3\xA9").size(), 255u);
    std::string euros;
    for (int i = 0; i < 90; i++) euros += "\xE2\x82\xAC";
    EXPECT_EQ(Keys(euros).size(), 85u);  // 85 x 3 = 255 bytes
}

// Every character of the string lands where the model of the fake engine's
// glyph for its code point puts it, at 32 bits, for each font type.
TEST_F(FakeFontTest, Utf8FontDrawsGlyphsByCodePoint) {
    Utf8Strings utf8;
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xE4\xB8\x82\xFF";  // a é € 丂 and a stray byte
    const uint32_t points[] = {'a', 0xE9, 0x20AC, 0x4E02, FFFD};
    const int X = 2, Y = 1, W = 90, H = 24;
    for (int type = FONT_PLAIN; type <= FONT_SMOOTH_EDGED; type++) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        FakeFont font(type, 32);
        ASSERT_EQ(font.built, 0);
        ASSERT_EQ(font.record->unicode, 1);
        GuardedMemory m(W, H, 32);
        std::vector<uint8_t> alpha(W * H, 0x77);
        std::vector<GlyphModel> glyphs;
        int width = 0;
        for (uint32_t p : points) {
            glyphs.emplace_back(type, FONT_CODE_UNICODE | p, 0xC12AE3u, 0x17D839u, MODEL_32);
            width += glyphs.back().width;
        }
        ASSERT_EQ(DrawInto(font.record, m, X, Y, text.c_str(), 0xC12AE3, 0x17D839, nullptr, 1, alpha.data(), W),
                  width);
        EXPECT_TRUE(m.GuardsHold());
        int drawn = 0;
        for (int y = 0; y < H; y++) {
            for (int x = 0; x < W; x++) {
                uint32_t pixel = m.Background();
                int pen = X;
                for (const GlyphModel& g : glyphs) {
                    if (x >= pen && x < pen + g.width && y >= Y && y < Y + g.height) {
                        ModelPixel p = g.At(x - pen, y - Y);
                        if (p.drawn) pixel = p.value, drawn++;
                    }
                    pen += g.width;
                }
                ASSERT_EQ(m.Pixel(x, y), pixel) << x << "," << y;
            }
        }
        EXPECT_GT(drawn, 60);
    }
}

// Characters beyond U+FFFF take wide entries, reused in turn: a string whose
// entries were taken by another is drawn again as a fresh font draws it, and
// every entry that says it is there points at a slot that points back.
TEST_F(FakeFontTest, CharactersBeyondTheSixteenBitIndex) {
    Utf8Strings utf8;
    std::vector<uint32_t> first, second;
    for (uint32_t i = 0; i < 40; i++) {
        first.push_back(0x1F300 + i);
        second.push_back(0x20000 + i * 7);
    }
    const std::string a = Utf8Of(first), b = Utf8Of(second);
    FakeFont font(FONT_EDGED), fresh(FONT_EDGED);
    const int W = 40 * 20, H = 24;
    GuardedMemory before(W, H, 16), after(W, H, 16), expected(W, H, 16), other(W, H, 16);
    int width = DrawInto(font.record, before, 0, 0, a.c_str(), 0xFFFF, 0x1234);
    // 80 characters for 64 wide entries: the second string takes 16 of the first's.
    EXPECT_EQ(DrawInto(font.record, other, 0, 0, b.c_str(), 0xFFFF, 0x1234), width);
    int held = 0;
    for (uint32_t c : first) {
        const CharIndexEntry* e = FindCharEntry(font.record, c);
        held += e != nullptr && e->present;
    }
    EXPECT_EQ(held, 24);
    EXPECT_EQ(DrawInto(font.record, after, 0, 0, a.c_str(), 0xFFFF, 0x1234), width);
    EXPECT_EQ(DrawInto(fresh.record, expected, 0, 0, a.c_str(), 0xFFFF, 0x1234), width);
    EXPECT_EQ(after.bytes, expected.bytes);
    EXPECT_EQ(before.bytes, expected.bytes);
    for (int k = 0; k < FONT_WIDE_KEYS; k++) {
        const CharIndexEntry& e = font.record->wideIndex[k];
        if (!e.present) continue;
        ASSERT_NE(e.slot, nullptr);
        EXPECT_TRUE(e.slot->inUse);
        EXPECT_EQ(e.slot->entry, &e);
    }
    EXPECT_TRUE(font.IndexConsistent());
}
