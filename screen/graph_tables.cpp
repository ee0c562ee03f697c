// graph_tables.cpp: the image, surface-group and graph tables, graphics
// management start-up and shut-down, and the loss and re-creation of the
// display device.
//
// An image is one device surface (or a piece of one shared with other images
// through a surface group); a graph is what drawing addresses, made of images.
// Device loss keeps every image number and sharing; only pixels are lost.
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "platform/platform.h"
#include "screen/screen_internal.h"

namespace {

enum { MAX_GRAPH_PIECES = 64, MOVIE_HANDLE_BASE = 0x30000, MAX_MOVIES = 100 };

struct GraphRecord {
    uint8_t owner;          // 0 surface backend, 1 3D backend
    uint8_t loadFlags;
    int images[MAX_GRAPH_PIECES];
    uint8_t pieceCount;
    char fileName[60];
    char directory[256];
    int16_t sourceX, sourceY;
    uint16_t width, height;
    ColorInfo colorInfo;
    int movie;              // -1 without one
    uint8_t restorePending;
};

struct ImageRecord {
    int sourceDescription;
    ScreenSurface* surface;
    uint16_t x, y;
    uint16_t value1, value2;
    uint16_t surfaceWidth, surfaceHeight;
    uint16_t width, height;
    int userWord;
    uint8_t inVideoMemory;
    uint8_t* alphaPlane;
    int alphaPitch;
    uint8_t hasAlphaPlane;
    int surfaceGroup;
    uint32_t colorKey;      // 0xRRGGBB
};

struct SurfaceGroup {
    int* array;
    ScreenSurface* surface;
    uint16_t width, height;
    uint16_t refCount;
    uint8_t byte;
    int recreated;
};

struct GraphTables {
    GraphRecord* graphs[MAX_GRAPHS];
    int graphCount, graphHighWater;
    ImageRecord* images[MAX_IMAGES];
    int imageCount, imageHighWater;
    SurfaceGroup* groups[MAX_SURFACE_GROUPS];
    int groupCount;
    int useVideoMemory;
    GraphRestoreCallback restoreCallback;
};

GraphTables TABLES = {{}, 0, 0, {}, 0, 0, {}, 0, 1, nullptr};

void ReloadGraphsFromFiles(void);

// The mark drops to the slot and further down past empty slots.
template <typename T>
void LowerHighWater(T** slots, int released, int* highWater) {
    if (released != *highWater - 1) return;
    int mark = released;
    while (mark > 0 && slots[mark - 1] == nullptr) mark--;
    *highWater = mark;
}

int AddSurfaceGroup(int n, int byte, int width, int height) {
    if (TABLES.groupCount >= MAX_SURFACE_GROUPS) {
        WriteLog("サーフェスの管理数が許容量を越えました。\n");
        return -1;
    }
    int slot = 0;
    while (slot < MAX_SURFACE_GROUPS && TABLES.groups[slot] != nullptr) slot++;
    if (slot == MAX_SURFACE_GROUPS) return -1;
    SurfaceGroup* g = (SurfaceGroup*)calloc(1, sizeof(SurfaceGroup));
    int* array = g != nullptr ? (int*)calloc((size_t)(n > 0 ? n : 1), sizeof(int)) : nullptr;
    if (array == nullptr) {
        free(g);
        WriteLog("サーフェス管理用データを保存するメモリ領域の確保に失敗しました\n");
        return -1;
    }
    g->array = array;
    g->width = (uint16_t)width;
    g->height = (uint16_t)height;
    g->refCount = (uint16_t)n;
    g->byte = (uint8_t)byte;
    TABLES.groups[slot] = g;
    TABLES.groupCount++;
    return slot;
}

int FreeSurfaceGroup(int index) {
    if (index < 0 || index >= MAX_SURFACE_GROUPS || TABLES.groups[index] == nullptr) return -1;
    free(TABLES.groups[index]->array);
    free(TABLES.groups[index]);
    TABLES.groups[index] = nullptr;
    TABLES.groupCount--;
    return 0;
}

void ClearSurfaceGroupFlags(void) {
    for (SurfaceGroup* g : TABLES.groups) {
        if (g != nullptr) g->recreated = 0;
    }
}

// One off-screen surface; video memory when allowed, else (or when refused)
// system memory. A device that refuses both ends the program.
ScreenSurface* CreateOffscreenSurface(int forceSystemMemory, int width, int height, uint8_t* inVideoMemory) {
    uint32_t system = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    uint32_t video = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | DDSCAPS_VIDEOMEMORY;
    ScreenSurface* s = PLATFORM.screen->CreateSurface(width, height, forceSystemMemory ? system : video);
    if (s == nullptr) s = PLATFORM.screen->CreateSurface(width, height, system);
    if (s == nullptr) ExitWithError("オフスクリーンサーフェスの作成に失敗しました");
    if (inVideoMemory != nullptr) *inVideoMemory = (PLATFORM.screen->GetSurfaceCaps(s) & DDSCAPS_VIDEOMEMORY) ? 1 : 0;
    return s;
}

uint32_t PackedColorKey(uint32_t rgb) {
    if (GetColorBitDepth() == 8) return 0;
    return MakeColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// The image's surface in its surface size, with its colour key; the group
// records it, so that a device loss releases it exactly once.
void CreateImageSurface(ImageRecord* image) {
    int force = !TABLES.useVideoMemory || image->surfaceWidth > ScreenWidth() || SCREEN.use3DOff;
    image->surface = CreateOffscreenSurface(force, image->surfaceWidth, image->surfaceHeight, &image->inVideoMemory);
    if (PLATFORM.screen->SetColorKey(image->surface, PackedColorKey(image->colorKey)) != 0) {
        ExitWithError("サーフェイスのカラーキーの設定に失敗しました");
    }
    SurfaceGroup* g = TABLES.groups[image->surfaceGroup];
    if (g != nullptr) g->surface = image->surface;
}

int IsValidImage(int image) { return image >= 0 && image < MAX_IMAGES && TABLES.images[image] != nullptr; }

GraphRecord* GraphOf(int handle) {
    if (handle < GRAPH_HANDLE_BASE || handle > 0x1FFFF) return nullptr;
    int slot = handle & 0xFFFF;
    if (slot >= MAX_GRAPHS) return nullptr;
    return TABLES.graphs[slot];
}

int DeleteGraphRecord(int handle, int logFlag) {
    GraphRecord* g = GraphOf(handle);
    if (g == nullptr) return -1;
    // Movies are never made in this library: an attached one has nothing to stop.
    for (int i = 0; i < g->pieceCount && i < MAX_GRAPH_PIECES; i++) ReleaseImage(g->images[i]);
    if (logFlag) WriteLogFormat("グラフィック %s の削除", g->fileName);
    int slot = handle & 0xFFFF;
    TABLES.graphCount--;
    free(g);
    TABLES.graphs[slot] = nullptr;
    LowerHighWater(TABLES.graphs, slot, &TABLES.graphHighWater);
    return 0;
}

int RestoreGraph(int handle) {
    GraphRecord* g = GraphOf(handle);
    if (g == nullptr) return -1;
    for (int i = 0; i < g->pieceCount && i < MAX_GRAPH_PIECES; i++) {
        if (!IsValidImage(g->images[i])) continue;
        ScreenSurface* s = TABLES.images[g->images[i]]->surface;
        if (s != nullptr && PLATFORM.screen->IsSurfaceLost(s)) PLATFORM.screen->RestoreSurface(s);
    }
    return 0;
}

void ReloadGraphsFromFiles(void) {
    WriteLog("グラフィックを復帰します\n");
    // Pictures are not loaded from files in this library: a graph that asks for
    // its file again is reported and keeps its (undefined) pixels.
    for (int slot = 0; slot < TABLES.graphHighWater; slot++) {
        GraphRecord* g = TABLES.graphs[slot];
        if (g == nullptr || !g->restorePending || g->fileName[0] == '\0') continue;
        WriteLogFormat("パス:%s ファイル:%s がロードできませんでした", g->directory, g->fileName);
    }
    for (int slot = 0; slot < TABLES.graphHighWater; slot++) {
        if (TABLES.graphs[slot] != nullptr) TABLES.graphs[slot]->restorePending = 0;
    }
}

}  // namespace

// ---- Images ----------------------------------------------------------------------

int AddBmpData(int w, int h, int x, int y, int userWord, int derive, int source, int value1, int value2) {
    if (!SCREEN.device) {
        WriteLog("Ravlinが初期化されていません\n");
        return -1;
    }
    if (TABLES.imageCount >= MAX_IMAGES) {
        WriteLog("２Ｄグラフィックの量が許容量を越えました\n");
        return -1;
    }
    if (derive && !IsValidImage(source)) return -1;
    if (!derive && (w <= 0 || h <= 0 || w > 0xFFFF || h > 0xFFFF)) return -1;
    int slot = 0;
    while (slot < TABLES.imageHighWater && TABLES.images[slot] != nullptr) slot++;
    ImageRecord* image = (ImageRecord*)calloc(1, sizeof(ImageRecord));
    if (image == nullptr) {
        WriteLog("メモリの確保に失敗しました in AddBmpData \n");
        return -1;
    }
    if (derive) {
        const ImageRecord* from = TABLES.images[source];
        TABLES.groups[from->surfaceGroup]->refCount++;
        image->surfaceGroup = from->surfaceGroup;
        image->surface = from->surface;
        image->sourceDescription = from->sourceDescription;
        image->surfaceWidth = from->surfaceWidth;
        image->surfaceHeight = from->surfaceHeight;
        image->inVideoMemory = from->inVideoMemory;
        image->alphaPlane = from->alphaPlane;
        image->alphaPitch = from->alphaPitch;
        image->hasAlphaPlane = from->hasAlphaPlane;
        image->colorKey = from->colorKey;
    } else {
        int group = AddSurfaceGroup(1, 0, w, h);
        if (group == -1) {
            free(image);
            return -1;
        }
        image->surfaceGroup = group;
        image->colorKey = (uint32_t)DRAW.pub.transColor & 0xFFFFFF;
        image->surfaceWidth = (uint16_t)w;
        image->surfaceHeight = (uint16_t)h;
        if (DRAW.pub.alphaPlaneFlag) {
            size_t bytes = (size_t)w * (size_t)h;
            image->alphaPlane = (uint8_t*)malloc(bytes);
            if (image->alphaPlane == nullptr) {
                WriteLog("メモリの確保に失敗しました in AddBmpData \n");
                FreeSurfaceGroup(group);
                free(image);
                return -1;
            }
            memset(image->alphaPlane, 255, bytes);
            image->alphaPitch = w;
            image->hasAlphaPlane = 1;
        }
        CreateImageSurface(image);
    }
    image->x = (uint16_t)x;
    image->y = (uint16_t)y;
    image->width = (uint16_t)w;
    image->height = (uint16_t)h;
    image->userWord = userWord;
    image->value1 = (uint16_t)value1;
    image->value2 = (uint16_t)value2;
    TABLES.images[slot] = image;
    TABLES.imageCount++;
    if (slot == TABLES.imageHighWater) TABLES.imageHighWater++;
    return slot;
}

int ReleaseImage(int index) {
    if (!IsValidImage(index)) return 0;
    ImageRecord* image = TABLES.images[index];
    SurfaceGroup* g = TABLES.groups[image->surfaceGroup];
    int last = g == nullptr || g->refCount <= 1;
    if (g != nullptr && g->refCount > 0) g->refCount--;
    if (last) {
        FreeSurfaceGroup(image->surfaceGroup);
        if (image->surface != nullptr) PLATFORM.screen->ReleaseSurface(image->surface);
        if (image->hasAlphaPlane) free(image->alphaPlane);
        // Sharers left behind (none when the count is right) must not reach it.
        for (int i = 0; image->surface != nullptr && i < TABLES.imageHighWater; i++) {
            ImageRecord* other = TABLES.images[i];
            if (other != nullptr && other != image && other->surface == image->surface) other->surface = nullptr;
        }
        if (DRAW.selected == image->surface) DRAW.selected = nullptr;
    }
    TABLES.imageCount--;
    free(image);
    TABLES.images[index] = nullptr;
    LowerHighWater(TABLES.images, index, &TABLES.imageHighWater);
    return 0;
}

void ReleaseAllImages(void) {
    for (int i = 0; i < MAX_IMAGES; i++) ReleaseImage(i);
}

int GetImageCount(void) { return TABLES.imageCount; }
int GetImageHighWater(void) { return TABLES.imageHighWater; }

ScreenSurface* GetImageSurface(int image) { return IsValidImage(image) ? TABLES.images[image]->surface : nullptr; }

uint8_t* GetImageAlphaPlane(int image, int* pitch) {
    if (!IsValidImage(image) || TABLES.images[image]->alphaPlane == nullptr) return nullptr;
    if (pitch != nullptr) *pitch = TABLES.images[image]->alphaPitch;
    return TABLES.images[image]->alphaPlane;
}

int SetImageColorKey(int image, uint32_t rgb) {
    if (!IsValidImage(image)) return -1;
    ImageRecord* r = TABLES.images[image];
    r->colorKey = rgb & 0xFFFFFF;
    if (r->surface == nullptr) return -1;
    return PLATFORM.screen->SetColorKey(r->surface, PackedColorKey(r->colorKey));
}

int GetImageRect(int image, ScreenRect* rect) {
    if (!IsValidImage(image)) return -1;
    const ImageRecord* r = TABLES.images[image];
    *rect = ScreenRect{r->x, r->y, r->x + r->width, r->y + r->height};
    return 0;
}

int SetUseVideoMemory(int flag) {
    TABLES.useVideoMemory = flag;
    return 0;
}
int GetUseVideoMemory(void) { return TABLES.useVideoMemory; }

// ---- Graphs -------------------------------------------------------------------------

int IsValidGraphHandle(int handle) { return GraphOf(handle) != nullptr; }

ScreenSurface* GetGraphTargetSurface(int handle, int* width, int* height) {
    GraphRecord* g = GraphOf(handle);
    if (g == nullptr || g->pieceCount == 0 || !IsValidImage(g->images[0])) return nullptr;
    *width = g->width;
    *height = g->height;
    return TABLES.images[g->images[0]]->surface;
}

int DeleteAllGraphs(int logFlag) {
    if (!DRAW.graphManagementStarted) return 0;
    for (int slot = 0; slot < TABLES.graphHighWater; slot++) {
        if (TABLES.graphs[slot] != nullptr) DeleteGraphRecord(GRAPH_HANDLE_BASE + slot, logFlag);
    }
    return 0;
}

// A graph of the program's: one image of its own size, in the screen's format.
int MakeGraph(int width, int height) {
    if (!DRAW.graphManagementStarted || width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) return -1;
    int slot = 0;
    while (slot < MAX_GRAPHS && TABLES.graphs[slot] != nullptr) slot++;
    if (slot == MAX_GRAPHS) {
        WriteLog("グラフィックハンドルの数が許容量を越えました\n");
        return -1;
    }
    GraphRecord* g = (GraphRecord*)calloc(1, sizeof(GraphRecord));
    if (g == nullptr) {
        WriteLog("メモリの確保に失敗しました in MakeGraph \n");
        return -1;
    }
    int image = AddBmpData(width, height, 0, 0, -1, 0, 0, 0, 0);
    if (image == -1) {
        free(g);
        return -1;
    }
    FillScreenSurface(GetImageSurface(image), 0);
    g->images[0] = image;
    g->pieceCount = 1;
    g->width = (uint16_t)width;
    g->height = (uint16_t)height;
    g->colorInfo = SCREEN.colorInfo;
    g->movie = -1;
    TABLES.graphs[slot] = g;
    TABLES.graphCount++;
    if (slot >= TABLES.graphHighWater) TABLES.graphHighWater = slot + 1;
    return GRAPH_HANDLE_BASE + slot;
}

int DeleteGraph(int handle) {
    int wasTarget = DRAW.pub.target == handle;
    if (DeleteGraphRecord(handle, 0) != 0) return -1;
    // Drawing never goes on into a picture that is gone.
    if (wasTarget) SetDrawTarget(SCREEN_BACK);
    return 0;
}

int DrawGraph(int x, int y, int handle, int transparent) {
    GraphRecord* g = GraphOf(handle);
    if (g == nullptr || g->pieceCount == 0 || handle == DRAW.pub.target) return -1;
    if (WaitWhileInactive() != 0) return 0;
    // Far outside every target: kept there so that x + width cannot overflow.
    const int far = 1 << 30;
    x = x < -far ? -far : x > far ? far : x;
    y = y < -far ? -far : y > far ? far : y;
    return DrawImageToTarget(g->images[0], x, y, transparent) == -1 ? -1 : 0;
}

int GetGraphSize(int handle, int* width, int* height) {
    if (handle == SCREEN_FRONT || handle == SCREEN_BACK) return GetScreenSize(width, height);
    GraphRecord* g = GraphOf(handle);
    if (g == nullptr) return -1;
    if (width != nullptr) *width = g->width;
    if (height != nullptr) *height = g->height;
    return 0;
}

int RestoreAllGraphs(void) {
    if (!DRAW.graphManagementStarted) return 0;
    RestoreLostMainSurfaces();
    // Images outside any graph (the fonts' work images among them) lose their
    // surfaces too; a shared surface is asked once per image, which is harmless.
    for (int i = 0; i < TABLES.imageHighWater; i++) {
        ScreenSurface* s = TABLES.images[i] != nullptr ? TABLES.images[i]->surface : nullptr;
        if (s != nullptr && PLATFORM.screen->IsSurfaceLost(s)) PLATFORM.screen->RestoreSurface(s);
    }
    for (int slot = 0; slot < TABLES.graphHighWater; slot++) {
        if (TABLES.graphs[slot] != nullptr) RestoreGraph(GRAPH_HANDLE_BASE + slot);
    }
    return 0;
}

int SetGraphRestoreCallback(GraphRestoreCallback callback) {
    TABLES.restoreCallback = callback != nullptr ? callback : ReloadGraphsFromFiles;
    return 0;
}

int HasGraphRestoreCallback(void) { return TABLES.restoreCallback != nullptr; }

void RunGraphRestoreCallback(void) {
    for (int slot = 0; slot < TABLES.graphHighWater; slot++) {
        if (TABLES.graphs[slot] != nullptr) TABLES.graphs[slot]->restorePending = 1;
    }
    if (TABLES.restoreCallback != nullptr) TABLES.restoreCallback();
}

void ResetGraphTables(void) {
    for (int slot = 0; slot < MAX_GRAPHS; slot++) {
        free(TABLES.graphs[slot]);
        TABLES.graphs[slot] = nullptr;
    }
    TABLES.graphCount = 0;
    TABLES.graphHighWater = 0;
}

// ---- Graphics management ---------------------------------------------------------

int StartGraphManagement(void) {
    if (DRAW.graphManagementStarted) return 0;
    WriteLog("グラフィック管理系の初期化を行います\n");
    IncreaseLogIndent();
    ResetGraphTables();
    DRAW.pub = DrawState{};
    DRAW.selected = nullptr;
    DRAW.invalidTarget = 0;
    DRAW.graphManagementStarted = 1;
    // There is no 3D drawing device: the screen is built once more without it.
    WriteLog("３Ｄグラフィック描画機能は使用しません\n");
    if (!SCREEN.use3DOff) SetUse3D(0);
    DRAW.pub.target = SCREEN_BACK;
    SetDrawTarget(SCREEN_FRONT);
    SetDrawArea(0, 0, DRAW.pub.targetWidth, DRAW.pub.targetHeight);
    if (FONT_HOOKS.StartFonts != nullptr) FONT_HOOKS.StartFonts();
    DecreaseLogIndent();
    WriteLog("グラフィック管理系の初期化は正常に終了しました\n");
    return 0;
}

int EndGraphManagement(void) {
    if (!DRAW.graphManagementStarted) return 0;
    WaitWhileInactive();
    DeleteAllGraphs(0);
    // The fonts go with graphics management. Nothing is made on the way out: a
    // failure to make it would end the program from inside its own shut-down.
    if (FONT_HOOKS.EndFonts != nullptr) FONT_HOOKS.EndFonts();
    DRAW.graphManagementStarted = 0;
    WriteLog("グラフィック管理系の終了処理は正常に終了しました\n");
    return 0;
}

int IsGraphManagementStarted(void) { return DRAW.graphManagementStarted; }

// ---- Device loss ---------------------------------------------------------------------

int ReleaseDisplayDevice(void) {
    WriteLog("ＤｉｒｅｃｔＤｒａｗオブジェクトを解放します\n");
    if (!SCREEN.device) {
        WriteLog("既に解放されています\n");
        return 0;
    }
    // Each group's surface goes exactly once, whichever image holds it.
    ClearSurfaceGroupFlags();
    for (ImageRecord* image : TABLES.images) {
        if (image == nullptr) continue;
        SurfaceGroup* g = TABLES.groups[image->surfaceGroup];
        if (g != nullptr && !g->recreated && g->surface != nullptr) {
            PLATFORM.screen->ReleaseSurface(g->surface);
            g->surface = nullptr;
            g->recreated = 1;
        }
        image->surface = nullptr;
    }
    DRAW.selected = nullptr;
    if (!IsWindowed() && SCREEN.displayModeChanged) {
        PLATFORM.screen->SetCooperativeLevel(DDSCL_NORMAL);
        PLATFORM.screen->RestoreDisplayMode();
        SCREEN.cooperativeLevel = DDSCL_NORMAL;
        SCREEN.displayModeChanged = 0;
    }
    ReleaseScreenPalette();
    ReleaseScreenClipper();
    PLATFORM.screen->ReleaseDevice();
    SCREEN.device = 0;
    WriteLog("ＤｉｒｅｃｔＤｒａｗオブジェクトを解放しました\n");
    return 0;
}

int RecreateDisplayDevice(void) {
    if (SCREEN.device) return 0;
    if (CreateDisplayDevice() != 0) ExitWithError("DirectDraw オブジェクトの作成処理時にエラーが発生しました");
    if (SetDeviceScreenMode(ScreenWidth(), ScreenHeight(), GetColorBitDepth(), IsWindowed()) != 0) {
        ExitWithError("予期せぬ画面モード変更不能現象が起きました\n");
    }
    // The desktop may have changed depth: colours and surfaces follow the new format.
    TakeDisplayFormat();
    // At 8 bits the images take the palette that exists when they are made.
    RecreateScreenPalette();
    ClearSurfaceGroupFlags();
    for (int i = 0; i < MAX_IMAGES; i++) {
        ImageRecord* image = TABLES.images[i];
        if (image == nullptr || image->surface != nullptr) continue;
        SurfaceGroup* g = TABLES.groups[image->surfaceGroup];
        if (g != nullptr && g->recreated) {
            image->surface = g->surface;
            continue;
        }
        CreateImageSurface(image);
        if (g != nullptr) g->recreated = 1;
    }
    CreateScreenClipper("クリッパーオブジェクトの作成失敗しました");
    return 0;
}

int RebuildScreenDevice(void) {
    if (!SCREEN.device) return -1;
    int target = DRAW.pub.target;
    ReleaseMainSurfaces();
    ReleaseDisplayDevice();
    RecreateDisplayDevice();
    CreateMainSurfaces();
    RecreateScreenPalette();
    if (SetDrawTarget(target) != 0) SetDrawTarget(SCREEN_BACK);
    ClearDrawTarget();
    PresentScreen();
    return 0;
}
