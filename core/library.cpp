// library.cpp: start-up and shut-down of the library layer.
//
// InitLibrary brings the parts up in a fixed order; the failure branch of
// InitLibrary, EndLibrary and ExitWithError all take them down through
// RunShutDownSequence, step for step the same.
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "core/core_internal.h"
#include "input/input.h"
#include "platform/platform.h"
#include "screen/screen.h"
#include "sound/sound.h"

namespace {

struct LibraryState {
    char startDirectory[START_DIRECTORY_SIZE];
    int comStarted;
    int libraryStarted;
    FileStreamOps fileStreams;
};

LibraryState LIBRARY = {};

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

void RunShutDownSequence(void) {
    EndScreen();
    EndInput();
    EndSoundDevice();

    const MainWindowState* window = GetMainWindowState();
    if (window->hasWindow && !window->destroyed) {
        PostCloseRequest();
        PumpUntilEnd();
        PLATFORM.window->UnregisterWindowClass(WINDOW_CLASS_NAME);
    }

    if (LIBRARY.comStarted) {
        PLATFORM.system->EndCom();
        WriteLog("ＣＯＭを終了... 完了\n");
        LIBRARY.comStarted = 0;
    }
    LIBRARY.libraryStarted = 0;
    PumpUntilEnd();
    PLATFORM.system->SetCurrentDir(LIBRARY.startDirectory);
}

int FailInitLibrary(void) {
    RunShutDownSequence();
    return -1;
}

}  // namespace

const char* GetStartDirectory(void) { return LIBRARY.startDirectory; }

const FileStreamOps* GetFileStreamOps(void) { return &LIBRARY.fileStreams; }

int IsLibraryStarted(void) { return LIBRARY.libraryStarted; }

int InitLibrary(void) {
    if (PLATFORM.system->GetCurrentDir(LIBRARY.startDirectory, START_DIRECTORY_SIZE) != 0) {
        LIBRARY.startDirectory[0] = '\0';
    }
    ResetLogFile();
    WriteSystemReport();

    LIBRARY.fileStreams = FileStreamOps{StreamTell, StreamSeek, StreamRead, StreamWrite, StreamAtEnd};
    SetGraphRestoreCallback(nullptr);

    if (LIBRARY.comStarted) return FailInitLibrary();
    WriteLog("ＣＯＭの初期化... ");
    if (PLATFORM.system->StartCom() != 0) {
        WriteLog("ＣＯＭの初期化に失敗しました\n");
        return FailInitLibrary();
    }
    WriteLog("成功しました\n");
    LIBRARY.comStarted = 1;

    if (InitMainWindow() == -1) return FailInitLibrary();
    if (InitInput() == -1) return FailInitLibrary();
    InitSoundDevice();  // a machine without sound output still runs
    if (InitScreen() == -1) return FailInitLibrary();

    WriteLog("文字コードバッファの初期化を行います... ");
    WriteLog("完了しました\n");

    LIBRARY.libraryStarted = 1;
    SetVSyncWait(1);
    return 0;
}

int EndLibrary(void) {
    RunShutDownSequence();
    return 0;
}

void ExitWithError(const char* message) {
    WriteLog(message);
    WriteLog("\n");
    RunShutDownSequence();
    PumpUntilEnd();
    WriteLog("ソフトをエラー終了します");
    PLATFORM.system->ExitProcess(-1);
    __builtin_unreachable();
}
