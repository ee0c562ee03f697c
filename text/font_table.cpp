// font_table.cpp: the font table, the default font, and font creation, release
// and re-creation with the screen's depth and work image.
//
// Configuration: MAX_FONT_HANDLES entries. Every font owns its engine font,
// its glyph cache and its work image; releasing the font releases all three.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "platform/font_engine.h"
#include "screen/screen.h"
#include "text/text_internal.h"

namespace {

struct FontTable {
    FontRecord* fonts[MAX_FONT_HANDLES];
    int defaultHandle;  // keeps its value when its font is released
    int missingFontReported;  // the standard error line is written once per run
};

FontTable FONTS = {{}, -1, 0};

// Standard error is read by people whatever the log says: one line, in UTF-8.
const char* NO_FONT_LINE =
    "Ravlin: no usable font was found; texts cannot be drawn. Install the Japanese font IPAGothic (Debian package "
    "fonts-ipafont-gothic).\n";
const char* NO_JAPANESE_LINE =
    "Ravlin: no font with Japanese characters was found; Japanese texts are drawn blank. Install the Japanese font "
    "IPAGothic (Debian package fonts-ipafont-gothic).\n";

const char* HANDLE_ERROR = "フォントハンドル値が異常です終了します\n";

int ScreenBits(void) {
    const ColorInfo* info = GetColorInfo();
    return info && info->colorBitDepth ? info->colorBitDepth : 16;
}

void ReleaseEntry(int handle) {
    FontRecord* font = FONTS.fonts[handle];
    FreeFontRecordParts(font);
    if (font->workImage >= 0) ReleaseImage(font->workImage);
    free(font);
    FONTS.fonts[handle] = nullptr;
}

// A work image in system memory; with an alpha plane for a smooth font (and
// for any font when new images get one anyway).
int AddFontWorkImage(int width, int height, int smooth) {
    int videoMemory = GetUseVideoMemory();
    int alphaPlane = GetDrawState()->alphaPlaneFlag;
    SetUseVideoMemory(0);
    if (smooth) SetAlphaPlaneFlag(1);
    int image = AddBmpData(width, height, 0, 0, -1, 0, 0, 0, 0);
    SetAlphaPlaneFlag(alphaPlane);
    SetUseVideoMemory(videoMemory);
    return image;
}

[[noreturn]] void BadHandle(void) {
    ExitWithError("");
}

void ReportMissingFont(const char* line) {
    if (FONTS.missingFontReported) return;
    FONTS.missingFontReported = 1;
    fputs(line, stderr);
    fflush(stderr);
}

// The default font must exist and draw kana: a failure is in the log (a font
// that cannot be made logs it as it fails) and once on standard error.
void CheckDefaultFont(void) {
    if (!IsFontHandleValid(FONTS.defaultHandle)) {
        ReportMissingFont(NO_FONT_LINE);
        return;
    }
    PlatformGlyphCoverage info;
    const FontRecord* font = FONTS.fonts[FONTS.defaultHandle];
    // "あ": any face that covers Japanese has it.
    if (PLATFORM.font->GetCharCoverage(font->font, 0x82A0, &info, nullptr, 0) != 0 || info.size <= 0) {
        WriteLog("日本語の文字を持つフォントが見つかりません\n");
        ReportMissingFont(NO_JAPANESE_LINE);
    }
}

}  // namespace

int IsFontHandleValid(int handle) {
    return handle >= 0 && handle < MAX_FONT_HANDLES && FONTS.fonts[handle] != nullptr;
}

int GetDefaultFontHandle(void) {
    return FONTS.defaultHandle;
}

int CFont(const char* name, int size, int thickness, int type, int handle) {
    if (!IsScreenDeviceReady()) return -1;
    if (type == -1) type = FONT_PLAIN;
    if (type < FONT_PLAIN || type > FONT_SMOOTH_EDGED) return -1;
    if (handle == -1) {
        for (handle = 0; handle < MAX_FONT_HANDLES && FONTS.fonts[handle]; handle++) {
        }
        if (handle == MAX_FONT_HANDLES) {
            char message[128];
            snprintf(message, sizeof message, "作成できるフォントハンドル数 %d の限界を超えました", (int)MAX_FONT_HANDLES);
            ExitWithError(message);
        }
    } else if (handle < 0 || handle >= MAX_FONT_HANDLES || FONTS.fonts[handle]) {
        return -1;
    }
    FontRecord* font = (FontRecord*)calloc(1, sizeof(FontRecord));
    if (!font) ExitWithError("フォント管理用メモリ領域の確保に失敗しました");
    FONTS.fonts[handle] = font;
    font->workImage = -1;
    if (BuildFontRecord(font, name, size, thickness, type, ScreenBits()) != 0) {
        ReleaseEntry(handle);
        return -1;
    }
    // The work image is as wide as the screen and one row taller than a cell;
    // smooth fonts keep their coverage in its alpha plane.
    font->workWidth = ScreenWidth();
    font->workHeight = font->cellSize + 1;
    font->workImage = AddFontWorkImage(font->workWidth, font->workHeight, (font->type & FONT_TYPE_SMOOTH) != 0);
    return handle;
}

int ReleaseFontHandle(int handle) {
    if (!IsScreenDeviceReady()) return -1;
    if (!IsFontHandleValid(handle)) return -1;
    ReleaseEntry(handle);
    return 0;
}

int StartFontSystem(void) {
    if (!IsScreenDeviceReady()) return -1;
    WriteLog("フォントの初期化を行います");
    IncreaseLogIndent();
    char name[256] = "";
    int size = 16, thickness = 6;
    if (IsFontHandleValid(FONTS.defaultHandle)) {
        const FontRecord* old = FONTS.fonts[FONTS.defaultHandle];
        memcpy(name, old->name, sizeof name);
        size = old->size;
        thickness = old->thickness;
    }
    for (int i = 0; i < MAX_FONT_HANDLES; i++) {
        if (FONTS.fonts[i]) ReleaseEntry(i);
    }
    FONTS.defaultHandle = CFont(name, size, thickness, FONT_PLAIN, -1);
    CheckDefaultFont();
    DecreaseLogIndent();
    WriteLog("フォントの初期化は正常に終了しました\n");
    return 0;
}

int ResetDefaultFont(const char* name, int size, int thickness) {
    if (!IsScreenDeviceReady()) return -1;
    if (IsFontHandleValid(FONTS.defaultHandle)) ReleaseEntry(FONTS.defaultHandle);
    FONTS.defaultHandle = CFont(name, size, thickness, FONT_PLAIN, -1);
    return 0;
}

int RecreateAllFonts(void) {
    for (int i = 0; i < MAX_FONT_HANDLES; i++) {
        if (!FONTS.fonts[i]) continue;
        char name[256];
        memcpy(name, FONTS.fonts[i]->name, sizeof name);
        int size = FONTS.fonts[i]->size, thickness = FONTS.fonts[i]->thickness, type = FONTS.fonts[i]->type;
        ReleaseEntry(i);
        CFont(name, size, thickness, type, i);
    }
    RunGraphRestoreCallback();
    return 0;
}

int GetFontStateToHandle(char* name, int* size, int* thickness, int handle) {
    if (!IsScreenDeviceReady()) return -1;
    if (!IsFontHandleValid(handle)) {
        WriteLog(HANDLE_ERROR);
        // The name buffer is the caller's empty buffer: its address, never its bytes.
        char where[32] = "(null)";
        if (name) snprintf(where, sizeof where, "%p", (void*)name);
        WriteLogFormat("\tin GetFontStateToHandle  FontName = %s  Size = %p  Thinck = %p  FontHandle = %d ", where,
                       (void*)size, (void*)thickness, handle);
        BadHandle();
    }
    const FontRecord* font = FONTS.fonts[handle];
    if (name) memcpy(name, font->name, strlen(font->name) + 1);
    if (thickness) *thickness = font->thickness;
    if (size) *size = font->size;
    return 0;
}

FontRecord* GetFontManageDataToHandle(int handle) {
    if (!IsScreenDeviceReady()) return nullptr;
    if (!IsFontHandleValid(handle)) {
        WriteLog(HANDLE_ERROR);
        WriteLogFormat("\tin GetFontManageDataToHandle  FontHanle =%d   ", handle);
        BadHandle();
    }
    return FONTS.fonts[handle];
}

CacheSlot* FontCacheCharAddToHandle(int count, const uint8_t* list, int handle) {
    if (!IsScreenDeviceReady()) return nullptr;
    if (!IsFontHandleValid(handle)) {
        WriteLog(HANDLE_ERROR);
        WriteLogFormat("\tin FontCacheCharAddToHandle  AddNum = %d   CharData = %s  FontHandle = %d  ", count,
                       list ? (const char*)list : "(null)", handle);
        BadHandle();
    }
    if (!list || count <= 0) return nullptr;
    FontRecord* font = FONTS.fonts[handle];
    if (count > font->slotCount) count = font->slotCount;
    return AddCharsToFontCache(font, count, list);
}
