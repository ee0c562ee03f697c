// library.cpp: start-up and shut-down of the library layer.
//
// InitLibrary brings the parts up in a fixed order; the failure branch of
// InitLibrary, EndLibrary and ExitWithError all take them down through
// RunShutDownSequence, step for step the same. The hooks registered here let
// the window (core) and the screen reach the parts above them without
// including them.
#include "library/library.h"

#include "core/core.h"
#include "input/input.h"
#include "screen/screen.h"
#include "sound/sound.h"
#include "text/text.h"

namespace {

int LOG_FONT_HANDLE = -1;  // font of the on-screen log (the log itself is never shown)

void RunShutDownSequence(void) {
    EndScreen();
    EndInput();
    EndSoundDevice();
    EndCore();
}

int FailInitLibrary(void) {
    RunShutDownSequence();
    return -1;
}

// ---- What the window asks of the screen, the fonts and input ----

void HookScreenSize(int* width, int* height) { GetScreenSize(width, height); }

// The device, surfaces, images and fonts made again; input starts again on its next query.
void HookRebuildAfterDeviceLoss(void) {
    RebuildScreenDevice();
    RecreateAllFonts();  // and then the graphs' restore callback
    EndInput();
}

int HookApplyWindowMode(void) { return ApplyScreenMode(-1, -1, -1, 1, -1); }

void HookFollowWindowMove(void) { FollowWindowMove(); }

void HookReactivated(void) { RestoreAllGraphs(); }

// ---- What the screen asks of the fonts ----

void HookStartFonts(void) { StartFontSystem(); }

void HookEndFonts(void) {
    for (int handle = 0; handle < MAX_FONT_HANDLES; handle++) {
        if (IsFontHandleValid(handle)) ReleaseFontHandle(handle);
    }
}

void HookSaveDefaultFont(SavedFont* keep) {
    int handle = GetDefaultFontHandle();
    keep->saved = IsFontHandleValid(handle) &&
                  GetFontStateToHandle(keep->name, &keep->size, &keep->thickness, handle) == 0;
}

void HookRestoreFonts(const SavedFont* keep) {
    if (keep->saved) ResetDefaultFont(keep->name, keep->size, keep->thickness);
    // The on-screen log's old entry went with the fonts' restart, so it takes
    // the first free one again.
    LOG_FONT_HANDLE = CFont(nullptr, 16, 4, FONT_EDGED, -1);
}

void RegisterHooks(void) {
    CoreHooks core = {};
    core.GetScreenSize = HookScreenSize;
    core.GetScreenColorBits = GetColorBitDepth;
    core.CanRestoreGraphs = HasGraphRestoreCallback;
    core.RebuildAfterDeviceLoss = HookRebuildAfterDeviceLoss;
    core.ApplyWindowMode = HookApplyWindowMode;
    core.FollowWindowMove = HookFollowWindowMove;
    core.Reactivated = HookReactivated;
    core.ShutDown = RunShutDownSequence;
    SetCoreHooks(&core);
    ScreenFontHooks fonts = {HookStartFonts, HookEndFonts, HookSaveDefaultFont, HookRestoreFonts};
    SetScreenFontHooks(&fonts);
}

}  // namespace

int InitLibrary(void) {
    RegisterHooks();
    SetGraphRestoreCallback(nullptr);
    if (StartCore() != 0) return FailInitLibrary();
    if (InitMainWindow() == -1) return FailInitLibrary();
    if (InitInput() == -1) return FailInitLibrary();
    InitSoundDevice();  // a machine without sound output still runs
    if (InitScreen() == -1) return FailInitLibrary();

    WriteLog("文字コードバッファの初期化を行います... ");
    WriteLog("完了しました\n");

    SetLibraryStarted(1);
    SetVSyncWait(1);
    return 0;
}

int EndLibrary(void) {
    RunShutDownSequence();
    return 0;
}
