// font_cache.cpp: a font's record and glyph cache: geometry, filling cells in
// round-robin order, and the split of a string (Shift-JIS, or a UTF-8
// program's) into characters.
//
// Everything written into a cell stays inside that cell: a glyph larger than
// its cell is cut, never spilled into the next cell or past the cache.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "platform/font_engine.h"
#include "platform/utf8.h"
#include "text/text_internal.h"

namespace {

// The engine names a character lead x 256 + trail; the cache key is the other
// way round. A Unicode key is the code point, marked as one for the engine.
unsigned CodeOfKey(const FontRecord* font, uint32_t key) {
    if (font->unicode) return FONT_CODE_UNICODE | key;
    uint8_t first = key & 0xFF, second = (key >> 8) & 0xFF;
    return second ? (unsigned)first << 8 | second : first;
}

uint32_t KeyOfEntry(const FontRecord* font, const uint8_t* entry) {
    if (font->unicode) return (uint32_t)entry[0] | (uint32_t)entry[1] << 8 | (uint32_t)entry[2] << 16;
    return (uint32_t)(entry[0] | (IsLeadByte(entry[0]) ? entry[1] << 8 : 0));
}

// The entry a character takes: its place in the index, or beyond U+FFFF the
// wide entry that holds it, else the next one in turn (whose character then
// leaves the cache).
CharIndexEntry* TakeCharEntry(FontRecord* font, uint32_t key) {
    if (key < FONT_CHAR_KEYS) return &font->index[key];
    CharIndexEntry* held = FindCharEntry(font, key);
    if (held) return held;
    int k = font->nextWide;
    font->nextWide = (k + 1) % FONT_WIDE_KEYS;
    CharIndexEntry* entry = &font->wideIndex[k];
    if (entry->present && entry->slot && entry->slot->entry == entry) entry->slot->entry = nullptr;
    entry->present = 0;
    entry->slot = nullptr;
    font->wideKeys[k] = key;
    return entry;
}

// Cache pixel access within one cell; writes outside the cell are dropped.
struct Cell {
    FontRecord* font;
    int originX, originY;  // cache pixels

    bool Inside(int x, int y) const {
        return x >= 0 && y >= 0 && x < font->cellSize && y < font->cellSize;
    }
    uint8_t* Byte(int x, int y) const {
        return font->cachePixels + (size_t)(originY + y) * font->cachePitch + (originX + x);
    }
    uint16_t* Word(int x, int y) const {
        return (uint16_t*)(font->cachePixels + (size_t)(originY + y) * font->cachePitch) + (originX + x);
    }
    void SetBit(int x, int y) const {
        if (!Inside(x, y)) return;
        int bit = originX + x;
        font->cachePixels[(size_t)(originY + y) * font->cachePitch + (bit >> 3)] |= (uint8_t)(0x80 >> (bit & 7));
    }
    void Clear() const {
        int cell = font->cellSize;
        for (int y = 0; y < cell; y++) {
            if (font->cacheBits == 1) {
                for (int x = 0; x < cell; x++) {
                    int bit = originX + x;
                    font->cachePixels[(size_t)(originY + y) * font->cachePitch + (bit >> 3)] &=
                        (uint8_t)~(0x80 >> (bit & 7));
                }
            } else {
                int bytes = font->cacheBits / 8;
                memset(font->cachePixels + (size_t)(originY + y) * font->cachePitch + (size_t)originX * bytes, 0,
                       (size_t)cell * bytes);
            }
        }
    }
};

Cell CellOfSlot(FontRecord* font, int k) {
    Cell cell;
    cell.font = font;
    cell.originX = (k / font->cellsPerColumn) * font->cellSize;
    cell.originY = (k % font->cellsPerColumn) * font->cellSize;
    return cell;
}

// One-colour glyph (types 0 and 1): the engine draws into a byte box the size
// of the cell, the edge pass runs there, and the box goes into the cell.
void DrawOneColourChar(FontRecord* font, const Cell& cell, unsigned code, int extentW, int extentH, int pad,
                       uint8_t* box) {
    int side = font->cellSize;
    memset(box, 0, (size_t)side * side);
    int w = std::min(extentW, side - pad), h = std::min(extentH, side - pad);
    if (w > 0 && h > 0) PLATFORM.font->DrawCharMono(font->font, code, box + pad * side + pad, side, w, h);
    if (font->type & FONT_TYPE_EDGE) {
        for (int i = 0; i < side * side; i++) box[i] = box[i] ? 3 : 0;
        for (int y = pad; y < pad + h; y++) {
            for (int x = pad; x < pad + w; x++) {
                if (!(box[y * side + x] & 2)) continue;
                if (x > 0) box[y * side + x - 1] |= 1;
                if (x + 1 < side) box[y * side + x + 1] |= 1;
                if (y > 0) box[(y - 1) * side + x] |= 1;
                if (y + 1 < side) box[(y + 1) * side + x] |= 1;
            }
        }
        for (int y = 0; y < side; y++) memcpy(cell.Byte(0, y), box + y * side, (size_t)side);
    } else {
        for (int y = 0; y < side; y++) {
            for (int x = 0; x < side; x++) {
                if (box[y * side + x]) cell.SetBit(x, y);
            }
        }
    }
}

uint8_t LevelAt(const uint8_t* levels, const PlatformGlyphCoverage& info, int c, int r) {
    if (c < 0 || r < 0 || c >= info.blackBoxWidth || r >= info.blackBoxHeight) return 0;
    return levels[r * info.stride + c];
}

void PlaceSmooth(FontRecord* font, const Cell& cell, const PlatformGlyphCoverage& info, const uint8_t* levels,
                 int w) {
    int side = font->cellSize;
    int columns = std::min(info.blackBoxWidth, side);
    int rows = info.blackBoxHeight;
    if (font->type == FONT_SMOOTH) {
        // Every glyph sits on the font's baseline: its top lies origin-y above it.
        int x0 = (w - info.blackBoxWidth) >> 1;
        int y0 = font->ascent - info.originY;
        for (int r = 0; r < rows; r++) {
            for (int c = 0; c < columns; c++) {
                uint8_t v = LevelAt(levels, info, c, r);
                if (v && cell.Inside(x0 + c, y0 + r)) *cell.Byte(x0 + c, y0 + r) = (uint8_t)(v * 16 - 1);
            }
        }
        return;
    }
    // Body in the low byte, edge levels in the high byte, turned into coverage at the end.
    int x0 = ((w - info.blackBoxWidth) >> 1) + 1;
    int y0 = font->ascent - info.originY + 1;
    auto body = [&](int x, int y, int v) {
        if (cell.Inside(x, y)) *cell.Word(x, y) = (uint16_t)((*cell.Word(x, y) & 0xFF00) | (v * 16 - 1));
    };
    auto edgeOf = [&](int x, int y) { return cell.Inside(x, y) ? *cell.Word(x, y) >> 8 : 16; };
    auto setEdge = [&](int x, int y, int v) {
        if (cell.Inside(x, y)) *cell.Word(x, y) = (uint16_t)((*cell.Word(x, y) & 0x00FF) | v << 8);
    };
    for (int r = 0; r < rows; r++) {
        for (int c = 0; c < columns; c++) {
            int v = LevelAt(levels, info, c, r);
            if (!v) continue;
            int x = x0 + c, y = y0 + r;
            body(x, y, v);
            if (r == 0 || (edgeOf(x, y - 1) < v && LevelAt(levels, info, c, r - 1) < 16)) setEdge(x, y - 1, v);
            if (r == rows - 1 || (edgeOf(x, y + 1) < v && LevelAt(levels, info, c, r + 1) < 16)) setEdge(x, y + 1, v);
            if (c == columns - 1 || (edgeOf(x + 1, y) < v && LevelAt(levels, info, c + 1, r) < 16))
                setEdge(x + 1, y, v);
            if (c == 0 || (edgeOf(x - 1, y) < v && LevelAt(levels, info, c - 1, r) < 16)) setEdge(x - 1, y, v);
        }
    }
    for (int y = y0 - 1; y <= y0 + rows; y++) {
        for (int x = x0 - 1; x <= x0 + columns; x++) {
            int e = edgeOf(x, y);
            if (cell.Inside(x, y) && e) setEdge(x, y, e * 16 - 1);
        }
    }
}

// Smooth glyph (types 2 and 3): the slot may grow to the black box.
void DrawSmoothChar(FontRecord* font, const Cell& cell, unsigned code, CacheSlot* slot) {
    if (code == 0x20 || code == 0x8140) return;
    PlatformGlyphCoverage info;
    if (PLATFORM.font->GetCharCoverage(font->font, code, &info, nullptr, 0) != 0)
        ExitWithError("GetGlyphOutline 関数が失敗しました");
    // A glyph without ink (tab, line feed, a missing glyph) is a blank like the space.
    if (info.size <= 0 || info.blackBoxHeight <= 0 || info.blackBoxWidth <= 0) return;
    uint8_t* levels = (uint8_t*)calloc(1, (size_t)info.size);
    if (!levels) ExitWithError("アンチエイリアス文字取得用バッファの確保に失敗しました");
    if (PLATFORM.font->GetCharCoverage(font->font, code, &info, levels, info.size) != 0)
        ExitWithError("GetGlyphOutline 関数が失敗しました");
    int w = std::max(slot->width, info.blackBoxWidth);
    if (info.blackBoxWidth > font->cellSize) w = font->cellSize;
    slot->width = w;
    slot->height = std::max(slot->height, info.blackBoxHeight);
    PlaceSmooth(font, cell, info, levels, w);
    free(levels);
}

void TakeSlot(FontRecord* font, int k, uint32_t key) {
    CacheSlot* slot = &font->slots[k];
    if (slot->inUse) {
        // A character listed twice in one batch: its entry already points at the newer slot.
        CharIndexEntry* old = slot->entry;
        if (old && old->slot == slot) {
            old->present = 0;
            old->slot = nullptr;
        }
        slot->inUse = 0;
        slot->entry = nullptr;
    }
    CharIndexEntry* entry = TakeCharEntry(font, key);
    entry->present = 1;
    entry->slot = slot;
    slot->inUse = 1;
    slot->entry = entry;
}

}  // namespace

FontCacheGeometry ComputeFontCacheGeometry(int cellSize, int type) {
    FontCacheGeometry g = {};
    g.bits = type == FONT_PLAIN ? 1 : type == FONT_SMOOTH_EDGED ? 16 : 8;
    if (cellSize <= 0) return g;
    // The square of a huge cell does not fit an int: such a cell holds no slot.
    int64_t area = (int64_t)cellSize * cellSize;
    g.slotCount = (int)std::min<int64_t>(FONT_CACHE_MAX_PIXELS / area, FONT_CACHE_MAX_SLOTS);
    if (g.slotCount == 0) return g;
    g.width = cellSize;
    g.height = cellSize * g.slotCount;
    if (g.height > FONT_CACHE_MAX_HEIGHT) {
        if (type == FONT_PLAIN) {
            g.slotCount = FONT_CACHE_MAX_HEIGHT / cellSize;
            g.height = g.slotCount * cellSize;
        } else {
            while (g.height > FONT_CACHE_MAX_HEIGHT) {
                int odd = g.height & 1;
                g.width *= 2;
                g.height = g.height / 2 + (odd ? cellSize : 0);
            }
        }
    }
    g.cellsPerColumn = g.height / cellSize;
    // Halving can leave fewer cells than slots: never more slots than cells.
    g.slotCount = std::min(g.slotCount, (g.width / cellSize) * g.cellsPerColumn);
    return g;
}

CharIndexEntry* FindCharEntry(FontRecord* font, uint32_t key) {
    if (key < FONT_CHAR_KEYS) return &font->index[key];
    for (int k = 0; k < FONT_WIDE_KEYS; k++) {
        if (font->wideKeys[k] == key) return &font->wideIndex[k];
    }
    return nullptr;
}

void EmptyFontCache(FontRecord* font) {
    memset(font->index, 0, sizeof font->index);
    memset(font->wideIndex, 0, sizeof font->wideIndex);
    memset(font->wideKeys, 0, sizeof font->wideKeys);
    font->nextWide = 0;
    memset(font->slots, 0, sizeof font->slots);
    for (int k = 0; k < FONT_CACHE_MAX_SLOTS; k++) font->slots[k].number = k;
    font->nextSlot = 0;
}

int BuildFontRecord(FontRecord* font, const char* name, int size, int thickness, int type, int screenBits) {
    if (screenBits == 8) type &= ~FONT_TYPE_SMOOTH;
    font->size = size == -1 ? 16 : size;
    font->thickness = thickness == -1 ? 6 : thickness;
    font->name[0] = '\0';
    if (name) {
        // A longer name keeps its whole characters only.
        int length = CutToWholeCharacters(name, (int)sizeof font->name - 1);
        memcpy(font->name, name, (size_t)length);
        font->name[length] = '\0';
    }
    font->type = type;
    font->workImage = -1;
    font->unicode = IsUtf8Text();

    // The engine takes weights up to 900; a larger thickness would also overflow the product.
    int weight = (int)std::clamp<int64_t>((int64_t)font->thickness * 100, 0, FONT_MAX_WEIGHT);
    PlatformFont* object = PLATFORM.font->CreateFont(font->name, font->size, weight);
    if (!object && font->name[0]) {
        WriteLog("指定のフォントの作成に失敗しました\n");
        return -1;
    }
    if (!object) object = PLATFORM.font->CreateFont(font->name, font->size, weight);
    if (!object) {
        WriteLog("フォントの作成に失敗しました\n");
        return -1;
    }
    PlatformFontMetrics metrics;
    if (PLATFORM.font->GetFontMetrics(object, &metrics) != 0) {
        PLATFORM.font->DeleteFont(object);
        ExitWithError("ＤＣの取得に失敗しました");
    }
    if (font->font) PLATFORM.font->DeleteFont(font->font);
    font->font = object;
    font->ascent = metrics.ascent;

    int edgeRoom = (type & FONT_TYPE_EDGE) ? 2 : 0;
    int cell = metrics.maxCharWidth + (metrics.maxCharWidth & 1) + edgeRoom + 10;
    // A font taller than it is wide still gets whole characters in its cells.
    cell = std::max(cell, metrics.height + edgeRoom + 1);
    font->cellSize = cell;
    font->lineHeight = std::min(std::max(font->size + 1, metrics.height + edgeRoom), cell);

    FontCacheGeometry g = ComputeFontCacheGeometry(cell, type);
    if (g.slotCount <= 0) {
        WriteLog("フォントの作成に失敗しました\n");
        return -1;
    }
    font->cacheBits = g.bits;
    font->slotCount = g.slotCount;
    font->cacheWidth = g.width;
    font->cacheHeight = g.height;
    font->cellsPerColumn = g.cellsPerColumn;
    font->cachePitch = ((g.width * g.bits + 7) / 8 + 3) & ~3;
    free(font->cachePixels);
    font->cachePixels = (uint8_t*)calloc((size_t)font->cachePitch, (size_t)g.height);
    if (!font->cachePixels) ExitWithError("メモリの確保に失敗しました in CFont");
    EmptyFontCache(font);
    return 0;
}

void FreeFontRecordParts(FontRecord* font) {
    if (font->font) PLATFORM.font->DeleteFont(font->font);
    font->font = nullptr;
    free(font->cachePixels);
    font->cachePixels = nullptr;
}

CacheSlot* AddCharsToFontCache(FontRecord* font, int count, const uint8_t* list) {
    if (!font->font) ExitWithError("テキストキャッシュサーフェスのＤＣの取得に失敗しました");
    int pad = (font->type & FONT_TYPE_EDGE) ? 1 : 0;
    int extra = pad * 2;
    uint8_t* box = nullptr;
    if (!(font->type & FONT_TYPE_SMOOTH)) {
        box = (uint8_t*)malloc((size_t)font->cellSize * font->cellSize);
        if (!box) ExitWithError("テキストキャッシュサーフェスのＤＣの取得に失敗しました");
    }
    CacheSlot* last = nullptr;
    for (int i = 0; i < count; i++) {
        const uint8_t* entry = list + i * FONT_CHAR_ENTRY_BYTES;
        uint32_t key = KeyOfEntry(font, entry);
        unsigned code = CodeOfKey(font, key);
        int k = font->nextSlot;
        TakeSlot(font, k, key);
        CacheSlot* slot = &font->slots[k];
        int w = 0, h = 0;
        if (PLATFORM.font->GetCharExtent(font->font, code, &w, &h) != 0) w = h = 0;
        slot->width = w;
        slot->height = h;
        // A reused cell is cleared whole: nothing of its last glyph may show.
        Cell cell = CellOfSlot(font, k);
        cell.Clear();
        if (font->type & FONT_TYPE_SMOOTH) {
            DrawSmoothChar(font, cell, code, slot);
        } else {
            DrawOneColourChar(font, cell, code, w, h, pad, box);
        }
        slot->width += extra;
        slot->height += extra;
        font->nextSlot = k + 1 == font->slotCount ? 0 : k + 1;
        last = slot;
    }
    free(box);
    return last;
}

int SplitTextIntoKeys(const char* text, uint32_t* keys, int unicode) {
    const uint8_t* s = (const uint8_t*)text;
    int count = 0;
    if (unicode) {
        uint32_t code;
        for (int i = 0, n; i < FONT_STRING_LIMIT && (n = ReadUtf8Char(text + i, &code)) > 0; i += n) {
            if (i + n > FONT_STRING_LIMIT) break;
            keys[count++] = code;
        }
        return count;
    }
    for (int i = 0; i < FONT_STRING_LIMIT && s[i]; i++) {
        if (!IsLeadByte(s[i])) {
            keys[count++] = s[i];
            continue;
        }
        // The trail byte must be a byte of the string and within the limit.
        if (i + 1 >= FONT_STRING_LIMIT || s[i + 1] == 0) break;
        keys[count++] = (uint32_t)(s[i] | s[i + 1] << 8);
        i++;
    }
    return count;
}
