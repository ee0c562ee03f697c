// screen_setup.cpp: the screen settings, the display device, the main
// surfaces, the pixel format and the palette; their start-up and shut-down and
// the screen mode change that rebuilds them.
//
// In a window the display mode is never changed: the screen takes the
// desktop's format. In full screen the mode is set with fallbacks.
#include <cstring>

#include "core/core.h"
#include "platform/platform.h"
#include "screen/screen_internal.h"

ScreenDevice SCREEN = {};

const ColorInfo RGB24_COLOR_INFO = {24, 3, 8, 8, 8, 0, 16, 8, 0, 0, 0xFF0000, 0xFF00, 0xFF, 0};

namespace {

enum { DEFAULT_WIDTH = 640, DEFAULT_HEIGHT = 480, DEFAULT_COLOR_BITS = 16, FULL_SCREEN_SETTLE_MS = 1000 };
enum { SMALL_VIDEO_MEMORY = 0x800000 };


const char* COOPERATIVE_LEVEL_FATAL = "DirectDrawの協調レベルの設定に失敗しました、ソフトを終了します";

int IsAcceptedFullScreenLevel(uint32_t result) {
    return result == 0 || result == DDERR_EXCLUSIVEMODEALREADYSET || result == DDERR_HWNDALREADYSET ||
           result == DDERR_HWNDSUBCLASSED;
}

void ReleaseSurfaceOnce(ScreenSurface** holder) {
    if (*holder == nullptr) return;
    PLATFORM.screen->ReleaseSurface(*holder);
    *holder = nullptr;
}

const char* MemoryPlace(ScreenSurface* s) {
    return s != nullptr && (PLATFORM.screen->GetSurfaceCaps(s) & DDSCAPS_VIDEOMEMORY) ? "VIDEOMEMORY" : "SYSTEMMEMORY";
}

// The primary and back surface go; the work surface after them.
void DropMainSurfaces(void) {
    if (SCREEN.primary != nullptr) {
        WriteLog("メインサーフェスを破棄をします... 完了しました\n");
        PLATFORM.screen->SetClipper(SCREEN.primary, 0);
        // An attached back buffer goes with its primary.
        if (SCREEN.flipChain) SCREEN.back = nullptr;
        ReleaseSurfaceOnce(&SCREEN.back);
        ReleaseSurfaceOnce(&SCREEN.primary);
    }
    ReleaseSurfaceOnce(&SCREEN.back);
    ReleaseSurfaceOnce(&SCREEN.work);
    SCREEN.flipChain = 0;
    DRAW.selected = nullptr;
}

void ReleaseDeviceOnce(void) {
    if (!SCREEN.device) return;
    PLATFORM.screen->ReleaseDevice();
    SCREEN.device = 0;
}

void StoreSettings(int width, int height, int bits, int rate) {
    SCREEN.settings = ScreenSettings{width, height, bits, rate};
}

int SameSettings(const ScreenSettings& a, const ScreenSettings& b) {
    return a.width == b.width && a.height == b.height && a.colorBits == b.colorBits && a.refreshRate == b.refreshRate;
}

}  // namespace

// ---- Settings ------------------------------------------------------------------

ScreenFontHooks FONT_HOOKS = {};

void SetScreenFontHooks(const ScreenFontHooks* hooks) { FONT_HOOKS = hooks != nullptr ? *hooks : ScreenFontHooks{}; }

ScreenSettings GetScreenSettings(void) {
    ScreenSettings effective = SCREEN.settings;
    if (effective.width == 0) effective.width = DEFAULT_WIDTH;
    if (effective.height == 0) effective.height = DEFAULT_HEIGHT;
    if (effective.colorBits == 0) effective.colorBits = DEFAULT_COLOR_BITS;
    return effective;
}

int ScreenWidth(void) { return SCREEN.settings.width != 0 ? SCREEN.settings.width : DEFAULT_WIDTH; }
int ScreenHeight(void) { return SCREEN.settings.height != 0 ? SCREEN.settings.height : DEFAULT_HEIGHT; }
int IsWindowed(void) { return GetMainWindowState()->windowed; }

int GetScreenSize(int* width, int* height) {
    if (width != nullptr) *width = ScreenWidth();
    if (height != nullptr) *height = ScreenHeight();
    return 0;
}

int GetColorBitDepth(void) { return SCREEN.settings.colorBits != 0 ? SCREEN.settings.colorBits : DEFAULT_COLOR_BITS; }

const ColorInfo* GetColorInfo(void) { return &SCREEN.colorInfo; }

int IsScreenDeviceReady(void) { return SCREEN.device; }

int SetVSyncWait(int flag) {
    SCREEN.vsyncWait = flag;
    return 0;
}

// ---- Device and surfaces -------------------------------------------------------

int CreateDisplayDevice(void) {
    WriteLog("DirectDraw オブジェクトの取得を行います....  ");
    if (PLATFORM.screen->CreateDevice() != 0) {
        WriteLog("オブジェクトの取得に失敗しました\n");
        return -1;
    }
    WriteLog("成功\n");
    WriteLog("引き続き初期化処理... ");
    WriteLog("初期化に成功しました\n");
    WriteLog("ビデオカードの情報\n");
    IncreaseLogIndent();
    if (!PLATFORM.screen->IsNonConvertKeyHeld()) {
        PlatformDeviceIdentifier id = {};
        if (PLATFORM.screen->GetDeviceIdentifier(&id) == 0) {
            WriteLogFormat("ビデオカードドライバ:%s バージョン:%u.%u.%u.%u ", id.driver, id.version[0], id.version[1],
                           id.version[2], id.version[3]);
            WriteLogFormat("ドライバ記述:%s \n", id.description);
        }
    }
    uint32_t total = 0, freeBytes = 0;
    PLATFORM.screen->GetVideoMemory(&total, &freeBytes);
    WriteLogFormat("ビデオメモリ総量:%.2fMB ビデオメモリ空き容量:%.2fMB", total / 1048576.0, freeBytes / 1048576.0);
    DecreaseLogIndent();
    SCREEN.device = 1;
    return 0;
}

void CreateScreenClipper(const char* fatalMessage) {
    if (SCREEN.clipper) return;
    if (PLATFORM.screen->CreateClipper() != 0) {
        WriteLog("ＤｉｒｅｃｔＤｒａｗＣｌｉｐｐｅｒオブジェクトの作成に失敗しました\n");
        ExitWithError(fatalMessage);
    }
    SCREEN.clipper = 1;
}

void ReleaseScreenClipper(void) {
    if (!SCREEN.clipper) return;
    PLATFORM.screen->ReleaseClipper();
    SCREEN.clipper = 0;
}

int CreateMainSurfaces(void) {
    if (!SCREEN.device || SCREEN.primary != nullptr) return -1;
    WriteLog("DirectDraw メインサーフェスの作成を行います\n");
    IncreaseLogIndent();
    const PlatformScreenOps* ops = PLATFORM.screen;
    int w = ScreenWidth(), h = ScreenHeight();
    if (IsWindowed()) {
        SCREEN.primary = ops->CreatePrimarySurface(DDSCAPS_PRIMARYSURFACE | (SCREEN.use3DOff ? 0 : DDSCAPS_3DDEVICE), 0);
        if (SCREEN.primary == nullptr) ExitWithError("プライマリサーフェスの作成に失敗しました");
        uint32_t caps = SCREEN.use3DOff ? DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY : DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE;
        SCREEN.back = ops->CreateSurface(w, h, caps);
        if (SCREEN.back == nullptr) ExitWithError("バックサーフェスの作成に失敗しました");
        ops->Fill(SCREEN.back, nullptr, 0);
    } else if (!SCREEN.use3DOff) {
        uint32_t total = 0, freeBytes = 0;
        ops->GetVideoMemory(&total, &freeBytes);
        uint64_t frames = 8ull * (uint64_t)(GetColorBitDepth() / 8) * (uint64_t)w * (uint64_t)h;
        int count = (total < SMALL_VIDEO_MEMORY || total < frames) ? 1 : 2;
        SCREEN.primary = ops->CreatePrimarySurface(
            DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE, count);
        if (SCREEN.primary == nullptr) ExitWithError("プライマリサーフェスの作成に失敗しました");
        SCREEN.back = ops->GetAttachedBackBuffer(SCREEN.primary);
        if (SCREEN.back == nullptr) ExitWithError("バックバッファのポインタ取得に失敗しました");
        SCREEN.flipChain = 1;
        for (int i = 0; i < 3; i++) {
            ops->Fill(SCREEN.back, nullptr, 0);
            ops->Flip(SCREEN.primary);
        }
    } else {
        SCREEN.primary = ops->CreatePrimarySurface(DDSCAPS_PRIMARYSURFACE, 0);
        if (SCREEN.primary == nullptr) ExitWithError("プライマリサーフェスの作成に失敗しました");
        SCREEN.back = ops->CreateSurface(w, h, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY);
        if (SCREEN.back == nullptr) ExitWithError("バックサーフェスの作成に失敗しました");
        ops->Fill(SCREEN.back, nullptr, 0);
        ops->Fill(SCREEN.primary, nullptr, 0);
    }
    SCREEN.work = ops->CreateSurface(w, h, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY);
    if (SCREEN.work == nullptr) ExitWithError("作業用サーフェスの作成に失敗しました");
    ops->SetColorKey(SCREEN.work, 0);
    WriteLog("各スクリーンメモリの配置位置\n");
    IncreaseLogIndent();
    WriteLogFormat("PrimaryBuffer : %s  ", MemoryPlace(SCREEN.primary));
    WriteLogFormat("BaskBuffer : %s  ", MemoryPlace(SCREEN.back));
    DecreaseLogIndent();
    DecreaseLogIndent();
    WriteLog("DirectDraw メインサーフェスの作成は正常に終了しました\n");
    return 0;
}

int ReleaseMainSurfaces(void) {
    if (!SCREEN.device) return -1;
    DropMainSurfaces();
    return 0;
}

int RestoreLostMainSurfaces(void) {
    if (!SCREEN.device) return -1;
    ScreenSurface* surfaces[3] = {SCREEN.primary, SCREEN.back, SCREEN.work};
    for (ScreenSurface* s : surfaces) {
        if (s != nullptr && PLATFORM.screen->IsSurfaceLost(s)) PLATFORM.screen->RestoreSurface(s);
    }
    return 0;
}

int DeriveColorInfo(const PlatformPixelFormat* format, ColorInfo* info) {
    if (!SCREEN.device) return -1;
    ColorInfo c = {};
    // Bytes per pixel times 8: a 32-bit pixel whose colour uses 24 bits is 4 bytes.
    int bytes = (format->bitCount + 7) / 8;
    c.bytesPerPixel = (uint8_t)bytes;
    c.colorBitDepth = (uint8_t)(bytes * 8);
    uint32_t masks[4] = {format->redMask, format->greenMask, format->blueMask, format->alphaMask};
    uint8_t* widths[4] = {&c.redWidth, &c.greenWidth, &c.blueWidth, &c.alphaWidth};
    uint8_t* shifts[4] = {&c.redShift, &c.greenShift, &c.blueShift, &c.alphaShift};
    for (int i = 0; i < 4; i++) {
        uint32_t m = masks[i];
        if (m == 0) continue;
        int shift = __builtin_ctz(m);
        int width = 0;
        while (shift + width < 32 && (m >> (shift + width)) & 1) width++;
        *shifts[i] = (uint8_t)shift;
        *widths[i] = (uint8_t)width;
    }
    c.redMask = format->redMask;
    c.greenMask = format->greenMask;
    c.blueMask = format->blueMask;
    c.alphaMask = format->alphaMask;
    *info = c;
    return 0;
}

// The format in force becomes the screen's: its ColorInfo and its colour bits.
void TakeDisplayFormat(void) {
    PlatformPixelFormat format = {};
    if (PLATFORM.screen->GetDisplayMode(&format) != 0) return;
    SCREEN.pixelFormat = format;
    DeriveColorInfo(&format, &SCREEN.colorInfo);
    SCREEN.settings.colorBits = SCREEN.colorInfo.colorBitDepth;
}

// The built-in palette: a 3-3-2 colour cube, black at 0 and white at 255.
static void FillDefaultPalette(PlatformPaletteEntry entries[256]) {
    for (int i = 0; i < 256; i++) {
        entries[i].red = (uint8_t)(((i >> 5) & 7) * 255 / 7);
        entries[i].green = (uint8_t)(((i >> 2) & 7) * 255 / 7);
        entries[i].blue = (uint8_t)((i & 3) * 255 / 3);
        entries[i].flags = 0;
    }
}

int CreateScreenPalette(void) {
    if (SCREEN.palette || GetColorBitDepth() != 8) return 0;
    FillDefaultPalette(SCREEN.paletteEntries);
    if (PLATFORM.screen->CreatePalette(SCREEN.paletteEntries) != 0) ExitWithError("パレットの作成に失敗しました");
    SCREEN.palette = 1;
    PLATFORM.screen->AttachPalette(SCREEN.primary);
    PLATFORM.screen->AttachPalette(SCREEN.back);
    PLATFORM.screen->AttachPalette(SCREEN.work);
    return 0;
}

int RecreateScreenPalette(void) {
    if (GetColorBitDepth() != 8) return 0;
    PlatformPaletteEntry saved[256];
    memcpy(saved, SCREEN.paletteEntries, sizeof saved);
    CreateScreenPalette();
    memcpy(SCREEN.paletteEntries, saved, sizeof saved);
    if (SCREEN.palette) {
        PLATFORM.screen->SetPaletteEntries(SCREEN.paletteEntries);
        PLATFORM.screen->GetPaletteEntries(SCREEN.paletteEntries);
        // Main surfaces made after the palette's first making need it too.
        ScreenSurface* mains[3] = {SCREEN.primary, SCREEN.back, SCREEN.work};
        for (ScreenSurface* m : mains) {
            if (m != nullptr) PLATFORM.screen->AttachPalette(m);
        }
    }
    return 0;
}

void ReleaseScreenPalette(void) {
    if (!SCREEN.palette) return;
    PLATFORM.screen->ReleasePalette();
    SCREEN.palette = 0;
}

// ---- Start-up and shut-down ----------------------------------------------------

int InitScreen(void) {
    if (SCREEN.device) return -1;
    WriteLog("DirectDraw 関連の初期化を行います\n");
    IncreaseLogIndent();
    SCREEN.shuttingDown = 0;
    if (CreateDisplayDevice() != 0) ExitWithError("DirectDrawオブジェクトの作成に失敗しました");
    CreateScreenClipper("DirectDrawClipperオブジェクトの作成時にエラーが発生しました");
    if (SCREEN.settings.width == 0) SCREEN.settings.width = DEFAULT_WIDTH;
    if (SCREEN.settings.height == 0) SCREEN.settings.height = DEFAULT_HEIGHT;
    if (SCREEN.settings.colorBits == 0) SCREEN.settings.colorBits = DEFAULT_COLOR_BITS;

    ApplyScreenMode(-1, -1, -1, 1, -1);

    SetDrawTarget(SCREEN_BACK);
    ClearDrawTarget();
    BlitPresent();
    SetDrawTarget(SCREEN_FRONT);

    // There are no overlay surfaces on this device.
    SCREEN.overlayIndex = -1;
    WriteLog("オーバーレイサーフェスは使用しません\n");

    DecreaseLogIndent();
    WriteLog("DirectDraw 関連の初期化は正常に終了しました\n");
    SCREEN.startupComplete = 1;
    return 0;
}

int EndScreen(void) {
    if (!SCREEN.device) return 0;
    // A shut-down never waits for the window to come back.
    SCREEN.shuttingDown = 1;
    WriteLog("DirectDraw 関連の終了処理をおこないます\n");
    IncreaseLogIndent();
    ReleaseScreenPalette();
    EndGraphManagement();
    ReleaseAllImages();
    DropMainSurfaces();
    ReleaseScreenClipper();
    if (SCREEN.cooperativeLevel & DDSCL_EXCLUSIVE) {
        PLATFORM.screen->SetCooperativeLevel(DDSCL_NORMAL);
        PLATFORM.screen->RestoreDisplayMode();
        SCREEN.cooperativeLevel = DDSCL_NORMAL;
    }
    SCREEN.displayModeChanged = 0;
    WriteLog("画面モードを元に戻す処理は正常に終了しました\n");
    WriteLog("ＤｉｒｅｃｔＤｒａｗオブジェクトを解放します\n");
    ReleaseDeviceOnce();
    WriteLog("ＤｉｒｅｃｔＤｒａｗオブジェクトを解放しました\n");
    DecreaseLogIndent();
    WriteLog("DirectDraw 関連の終了処理は正常に終了しました\n");
    SCREEN.startupComplete = 0;
    SCREEN.shuttingDown = 0;
    // No screen, no format: colours pack to 0 until the next start-up.
    SCREEN.colorInfo = ColorInfo{};
    return 0;
}

// ---- Mode change -----------------------------------------------------------------

int SetDeviceScreenMode(int width, int height, int bits, int windowed) {
    WriteLogFormat("画面モードの変更処理を開始します %u x %u  %u bit ", (unsigned)width, (unsigned)height, (unsigned)bits);
    IncreaseLogIndent();
    const PlatformScreenOps* ops = PLATFORM.screen;
    if (windowed) {
        WriteLog("ウインドウモードにします\n");
        const MainWindowState* window = GetMainWindowState();
        if (width > window->desktopWidth || height > window->desktopHeight) {
            ExitWithError("デスクトップ画面のサイズが足りません、ソフトを終了します");
        }
        if (SCREEN.displayModeChanged) {
            WriteLog("フルスクリーンモードから抜けます\n");
            ops->RestoreDisplayMode();
            SCREEN.displayModeChanged = 0;
        }
        int depth = ops->GetDesktopDepth();
        // 24-bit desktops are refused, and so are 8-bit ones: nothing here converts
        // a palette into the window.
        if (depth == 24 || depth == 8) {
            DecreaseLogIndent();
            return -1;
        }
        if (ops->SetCooperativeLevel(DDSCL_NORMAL) != 0) ExitWithError(COOPERATIVE_LEVEL_FATAL);
        SCREEN.cooperativeLevel = DDSCL_NORMAL;
    } else {
        if (bits == 24) {
            DecreaseLogIndent();
            return -1;
        }
        WriteLog("画面解像度を変更します... ");
        if (!IsAcceptedFullScreenLevel(ops->SetCooperativeLevel(DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE))) {
            ExitWithError(COOPERATIVE_LEVEL_FATAL);
        }
        SCREEN.cooperativeLevel = DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE;
        if (ops->SetDisplayMode(width, height, bits, SCREEN.settings.refreshRate) != 0) {
            SCREEN.settings.refreshRate = 0;
            if (ops->SetDisplayMode(width, height, bits, 0) != 0) {
                WriteLog("画面モードの変更に失敗しました\n");
                DecreaseLogIndent();
                return -1;
            }
        }
        SCREEN.displayModeChanged = 1;
        WriteLog("成功しました\n");
    }
    DecreaseLogIndent();
    WriteLog("画面モードの変更は正常に終了しました \n");
    return 0;
}

namespace {

// The first mode set, and the way back from a refused run-time one: the asked
// mode, else the previous one, else 640 x 480 x 16 at the device's own rate.
int SetModeWithFallbacks(const ScreenSettings& previous) {
    int windowed = IsWindowed();
    int result = 0;
    if (!windowed) ApplyWindowStyle();
    ScreenSettings asked = SCREEN.settings;
    if (SetDeviceScreenMode(ScreenWidth(), ScreenHeight(), GetColorBitDepth(), windowed) == 0) return 0;
    result = -1;
    SCREEN.settings = previous;
    if (!windowed) ApplyWindowStyle();
    int retried = -1;
    if (!(previous.width == asked.width && previous.height == asked.height && previous.colorBits == asked.colorBits &&
          previous.refreshRate == 0)) {
        retried = SetDeviceScreenMode(ScreenWidth(), ScreenHeight(), GetColorBitDepth(), windowed);
    }
    if (retried == 0) return result;
    result = -2;
    StoreSettings(DEFAULT_WIDTH, DEFAULT_HEIGHT, DEFAULT_COLOR_BITS, 0);
    if (!windowed) ApplyWindowStyle();
    if (!SCREEN.device || SetDeviceScreenMode(DEFAULT_WIDTH, DEFAULT_HEIGHT, DEFAULT_COLOR_BITS, windowed) != 0) {
        ExitWithError("予期せぬ画面モード変更不能現象が起きました\n");
    }
    return result;
}

// A run-time change: the device is made again for the new mode.
int RecreateDeviceForMode(const ScreenSettings& previous) {
    const PlatformScreenOps* ops = PLATFORM.screen;
    WriteLog("ＤｉｒｅｃｔＤｒａｗオブジェクトを解放します\n");
    ReleaseAllImages();
    ops->SetCooperativeLevel(DDSCL_NORMAL);
    SCREEN.cooperativeLevel = DDSCL_NORMAL;
    // The clipper belongs to the device: it goes and comes back with it.
    ReleaseScreenClipper();
    ReleaseDeviceOnce();
    WriteLog("ＤｉｒｅｃｔＤｒａｗオブジェクトを解放しました\n");
    if (CreateDisplayDevice() != 0) ExitWithError("DirectDraw オブジェクトの作成処理時にエラーが発生しました");
    CreateScreenClipper("クリッパーオブジェクトの作成失敗しました");
    int windowed = IsWindowed();
    int level = windowed ? DDSCL_NORMAL : DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE;
    uint32_t answer = ops->SetCooperativeLevel(level);
    if (windowed ? answer != 0 : !IsAcceptedFullScreenLevel(answer)) ExitWithError(COOPERATIVE_LEVEL_FATAL);
    SCREEN.cooperativeLevel = level;
    SCREEN.displayModeChanged = 0;
    if (windowed) return 0;
    // The window takes the new size before the mode: a resize answered later
    // fits it to the screen in force.
    ApplyWindowStyle();
    WriteLog("画面解像度を変更します... ");
    int w = ScreenWidth(), h = ScreenHeight(), bits = GetColorBitDepth();
    if (ops->SetDisplayMode(w, h, bits, SCREEN.settings.refreshRate) != 0) {
        SCREEN.settings.refreshRate = 0;
        if (ops->SetDisplayMode(w, h, bits, 0) != 0) {
            WriteLog("失敗しました\n");
            // Not left without surfaces: back to the previous mode, or the fallback.
            int fallback = SetModeWithFallbacks(previous);
            return fallback == 0 ? -1 : fallback;
        }
    }
    SCREEN.displayModeChanged = 1;
    WriteLog("成功しました\n");
    return 0;
}

}  // namespace

int ApplyScreenMode(int width, int height, int colorBits, int force, int refreshRate) {
    int savedTransColor = SCREEN.startupComplete ? DRAW.pub.transColor : 0;
    ScreenSettings current = SCREEN.settings;
    ScreenSettings asked = {width != -1 ? width : current.width, height != -1 ? height : current.height,
                            colorBits != -1 ? colorBits : current.colorBits,
                            refreshRate != -1 ? refreshRate : current.refreshRate};
    if (SameSettings(asked, current) && !force) return 0;
    WriteLog("画面モード変更処理を開始します\n");
    IncreaseLogIndent();
    // The default font is made again after the rebuild with its face, size and weight.
    SavedFont font = {};
    if (FONT_HOOKS.SaveDefaultFont != nullptr) FONT_HOOKS.SaveDefaultFont(&font);
    ScreenSettings previous = current;
    SCREEN.settings = asked;
    if (!SCREEN.device) {
        DecreaseLogIndent();
        return 0;
    }

    DeleteAllGraphs(0);
    EndGraphManagement();
    ReleaseScreenPalette();
    DropMainSurfaces();

    int result;
    if (SCREEN.startupComplete) {
        result = RecreateDeviceForMode(previous);
    } else {
        if (SCREEN.settings.width == 0) SCREEN.settings.width = DEFAULT_WIDTH;
        if (SCREEN.settings.height == 0) SCREEN.settings.height = DEFAULT_HEIGHT;
        if (SCREEN.settings.colorBits == 0) SCREEN.settings.colorBits = DEFAULT_COLOR_BITS;
        result = SetModeWithFallbacks(previous);
    }

    TakeDisplayFormat();
    WriteLog("カラー情報\n");
    IncreaseLogIndent();
    WriteLogFormat("A:%08x  B:%08x  G:%08x  B:%08x", SCREEN.colorInfo.alphaMask, SCREEN.colorInfo.redMask,
                   SCREEN.colorInfo.greenMask, SCREEN.colorInfo.blueMask);
    DecreaseLogIndent();
    if (IsWindowed()) ApplyWindowStyle();
    CreateMainSurfaces();
    // Images take the palette that exists when they are made: it comes first.
    CreateScreenPalette();
    StartGraphManagement();
    if (FONT_HOOKS.RestoreFonts != nullptr) FONT_HOOKS.RestoreFonts(&font);
    if (!IsWindowed()) PLATFORM.clock->Sleep(FULL_SCREEN_SETTLE_MS);
    if (SCREEN.startupComplete) DRAW.pub.transColor = savedTransColor;
    DecreaseLogIndent();
    WriteLog("画面モード変更処理は正常に終了しました\n");
    ProcessWindowMessages();
    return result;
}

int SetScreenMode(int width, int height, int colorBits, int refreshRate) {
    DeleteAllGraphs(0);
    ScreenSettings previous = SCREEN.settings;
    ScreenSettings asked = {width != -1 ? width : previous.width, height != -1 ? height : previous.height,
                            colorBits != -1 ? colorBits : previous.colorBits,
                            refreshRate != -1 ? refreshRate : previous.refreshRate};
    ApplyScreenMode(asked.width, asked.height, asked.colorBits, 0, asked.refreshRate);
    const ScreenSettings& now = SCREEN.settings;
    // In a window the screen takes the desktop's colour bits, whatever was asked.
    int bitsCount = !(SCREEN.device && IsWindowed());
    auto same = [bitsCount](const ScreenSettings& a, const ScreenSettings& b) {
        return a.width == b.width && a.height == b.height && (!bitsCount || a.colorBits == b.colorBits) &&
               a.refreshRate == b.refreshRate;
    };
    if (same(now, asked)) return 0;
    if (same(now, previous)) return -1;
    if (now.width == DEFAULT_WIDTH && now.height == DEFAULT_HEIGHT && now.colorBits == DEFAULT_COLOR_BITS &&
        now.refreshRate == 0) {
        return -2;
    }
    return -1;
}

int SetUse3D(int flag) {
    SCREEN.use3DOff = !flag;
    if (!SCREEN.device) return 0;
    DeleteAllGraphs(0);
    int target = DRAW.pub.target;
    ApplyScreenMode(-1, -1, -1, 1, -1);
    if (target == SCREEN_FRONT || target == SCREEN_BACK) SetDrawTarget(target);
    return 0;
}
