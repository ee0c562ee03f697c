// start_up.cpp: core's own part of the library's start-up and shut-down (the
// start directory, the log, the file streams, COM, the window's end), the
// hooks the parts above core register, and the fatal exit.
//
// Core knows nothing above it: the library's start-up (library/) starts and
// ends the subsystems and registers what core must call of them as hooks.
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "core/core_internal.h"
#include "platform/platform.h"

namespace {

struct CoreState {
    char startDirectory[START_DIRECTORY_SIZE];
    int comStarted;
    int libraryStarted;
    int exiting;         // ExitWithError runs: a second fatal error ends at once
    FileStreamOps fileStreams;
    CoreHooks hooks;     // as registered; null entries fall back to the defaults below
};

CoreState CORE = {};

const char* WINDOW_CLASS_NAME = "Ravlin";

long StreamTell(void* stream) { return ftell((FILE*)stream); }
int StreamSeek(void* stream, long offset, int origin) { return fseek((FILE*)stream, offset, origin); }
size_t StreamRead(void* buffer, size_t size, size_t count, void* stream) {
    return fread(buffer, size, count, (FILE*)stream);
}
size_t StreamWrite(const void* buffer, size_t size, size_t count, void* stream) {
    return fwrite(buffer, size, count, (FILE*)stream);
}
int StreamAtEnd(void* stream) { return feof((FILE*)stream); }

// The pump answers -1 exactly when the quit flag is set.
void PumpUntilEnd(void) {
    while (ProcessWindowMessages() == 0) {
    }
}

// Defaults for hooks nobody registered: no screen above, nothing to rebuild.
void DefaultScreenSize(int* width, int* height) {
    *width = 640;
    *height = 480;
}
int DefaultColorBits(void) { return 16; }
int DefaultNo(void) { return 0; }
void DefaultNothing(void) {}
int DefaultZero(void) { return 0; }

}  // namespace

const char* GetStartDirectory(void) { return CORE.startDirectory; }

const FileStreamOps* GetFileStreamOps(void) { return &CORE.fileStreams; }

int IsLibraryStarted(void) { return CORE.libraryStarted; }

void SetLibraryStarted(int started) {
    CORE.libraryStarted = started;
    if (started) FinishWindowStartUp(1);
}

void SetCoreHooks(const CoreHooks* hooks) {
    CoreHooks h = hooks != nullptr ? *hooks : CoreHooks{};
    if (h.GetScreenSize == nullptr) h.GetScreenSize = DefaultScreenSize;
    if (h.GetScreenColorBits == nullptr) h.GetScreenColorBits = DefaultColorBits;
    if (h.CanRestoreGraphs == nullptr) h.CanRestoreGraphs = DefaultNo;
    if (h.RebuildAfterDeviceLoss == nullptr) h.RebuildAfterDeviceLoss = DefaultNothing;
    if (h.ApplyWindowMode == nullptr) h.ApplyWindowMode = DefaultZero;
    if (h.FollowWindowMove == nullptr) h.FollowWindowMove = DefaultNothing;
    if (h.Reactivated == nullptr) h.Reactivated = DefaultNothing;
    if (h.ShutDown == nullptr) h.ShutDown = EndCore;
    CORE.hooks = h;
}

const CoreHooks* GetCoreHooks(void) {
    if (CORE.hooks.GetScreenSize == nullptr) SetCoreHooks(nullptr);
    return &CORE.hooks;
}

int StartCore(void) {
    if (PLATFORM.system->GetCurrentDir(CORE.startDirectory, START_DIRECTORY_SIZE) != 0) {
        CORE.startDirectory[0] = '\0';
    }
    CORE.exiting = 0;
    ResetLogFile();
    WriteSystemReport();

    CORE.fileStreams = FileStreamOps{StreamTell, StreamSeek, StreamRead, StreamWrite, StreamAtEnd};

    if (CORE.comStarted) return -1;
    WriteLog("ＣＯＭの初期化... ");
    if (PLATFORM.system->StartCom() != 0) {
        WriteLog("ＣＯＭの初期化に失敗しました\n");
        return -1;
    }
    WriteLog("成功しました\n");
    CORE.comStarted = 1;
    return 0;
}

void EndCore(void) {
    FinishWindowStartUp(0);
    ResetDesktop();
    const MainWindowState* window = GetMainWindowState();
    if (window->hasWindow && !window->destroyed) {
        PostCloseRequest();
        PumpUntilEnd();
        PLATFORM.window->UnregisterWindowClass(WINDOW_CLASS_NAME);
    }

    if (CORE.comStarted) {
        PLATFORM.system->EndCom();
        WriteLog("ＣＯＭを終了... 完了\n");
        CORE.comStarted = 0;
    }
    CORE.libraryStarted = 0;
    PumpUntilEnd();
    PLATFORM.system->SetCurrentDir(CORE.startDirectory);
}

void ExitWithError(const char* message) {
    WriteLog(message);
    WriteLog("\n");
    // The shut-down itself failed fatally: nothing more is tried, or the two
    // would call each other without end.
    if (!CORE.exiting) {
        CORE.exiting = 1;
        GetCoreHooks()->ShutDown();
        PumpUntilEnd();
    }
    WriteLog("ソフトをエラー終了します");
    PLATFORM.system->ExitProcess(-1);
    __builtin_unreachable();
}
