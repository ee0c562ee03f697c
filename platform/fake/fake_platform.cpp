// fake_platform.cpp: the fake platform services.
#include "platform/fake/fake_platform.h"
#include "platform/fake/fake_screen.h"
#include "platform/fake/fake_sound.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

FakePlatform FAKE;

namespace {

void Record(const char* name) { FAKE.calls.push_back(name); }

// ---- System ----

int FakeGetCurrentDir(char* buffer, int size) {
    if ((int)FAKE.currentDirectory.size() + 1 > size) return -1;
    memcpy(buffer, FAKE.currentDirectory.c_str(), FAKE.currentDirectory.size() + 1);
    return 0;
}
int FakeSetCurrentDir(const char* path) {
    Record("SetCurrentDir");
    FAKE.currentDirectory = path;
    return 0;
}
void FakeWriteDebugOutput(const char* text) { FAKE.debugOutput += text; }
void FakeShowErrorBox(const char* title, const char* text) {
    Record("ShowErrorBox");
    FAKE.errorBoxTitle = title;
    FAKE.errorBoxText = text;
}
int FakeGetMemoryStatus(double* total, double* available) {
    *total = FAKE.memoryTotal;
    *available = FAKE.memoryAvailable;
    return 0;
}
int FakeGetOsRelease(char* buffer, int size) {
    snprintf(buffer, size, "%s", "6.1.0-fake");
    return 0;
}
int FakeCanStartMediaLayer(void) { return FAKE.canStartMediaLayer; }
void FakeReportMediaLayerFailure(void) { Record("ReportMediaLayerFailure"); }
void FakeGetMediaLayerVersion(int* major, int* minor, int* patch) {
    *major = 2;
    *minor = 26;
    *patch = 5;
}
int FakeStartCom(void) {
    Record("StartCom");
    return FAKE.startComFails ? -1 : 0;
}
void FakeEndCom(void) { Record("EndCom"); }
void FakeExitProcess(int code) {
    Record("ExitProcess");
    exit(code);
}

const PlatformSystemOps FAKE_SYSTEM_OPS = {
    FakeGetCurrentDir, FakeSetCurrentDir, FakeWriteDebugOutput, FakeShowErrorBox,
    FakeGetMemoryStatus, FakeGetOsRelease, FakeCanStartMediaLayer, FakeReportMediaLayerFailure, FakeGetMediaLayerVersion,
    FakeStartCom, FakeEndCom, FakeExitProcess,
};

// ---- Clocks ----

uint32_t FakeGetMilliseconds(void) {
    uint32_t now = FAKE.milliseconds;
    FAKE.milliseconds += FAKE.millisecondStep;
    return now;
}
int64_t FakeGetCounter(void) {
    int64_t now = FAKE.counter;
    FAKE.counter += FAKE.counterStep;
    return now;
}
int64_t FakeGetCounterFrequency(void) { return FAKE.counterFrequency; }
uint32_t FakeGetTimerPeriodMin(void) { return FAKE.timerPeriodMin; }
void FakeBeginTimerPeriod(uint32_t) { Record("BeginTimerPeriod"); }
void FakeSleep(uint32_t ms) {
    Record("Sleep");
    FAKE.milliseconds += ms;
}
void FakeGetCpuInfo(PlatformCpuInfo* info) { *info = FAKE.cpu; }
uint64_t FakeReadTimeStampCounter(void) {
    uint64_t now = FAKE.timeStampCounter;
    FAKE.timeStampCounter += FAKE.timeStampStep;
    return now;
}

const PlatformClockOps FAKE_CLOCK_OPS = {
    FakeGetMilliseconds, FakeGetCounter, FakeGetCounterFrequency, FakeGetTimerPeriodMin,
    FakeBeginTimerPeriod, FakeSleep, FakeGetCpuInfo, FakeReadTimeStampCounter,
};

// ---- Window ----

int FakeIsOtherInstanceRunning(const char*) {
    Record("IsOtherInstanceRunning");
    return FAKE.otherInstanceRunning;
}
int FakeGetDesktopMode(int* width, int* height, int* bits) {
    *width = FAKE.desktopWidth;
    *height = FAKE.desktopHeight;
    *bits = FAKE.desktopColorBits;
    return 0;
}
int FakeRegisterWindowClass(const char*) {
    Record("RegisterWindowClass");
    return FAKE.registerFails ? -1 : 0;
}
void FakeUnregisterWindowClass(const char*) { Record("UnregisterWindowClass"); }
void FakeAdjustWindowRect(PlatformRect* rect, int, int withMenu) {
    rect->left -= FAKE.frameLeft;
    rect->top -= FAKE.frameTop + (withMenu ? FAKE.menuHeight : 0);
    rect->right += FAKE.frameRight;
    rect->bottom += FAKE.frameBottom;
}
int FakeCreateMainWindow(const char* title, int windowed, const PlatformRect* rect) {
    Record("CreateMainWindow");
    if (FAKE.createFails) return -1;
    FAKE.hasWindow = 1;
    FAKE.windowed = windowed;
    FAKE.title = title;
    FAKE.windowRect = *rect;
    return 0;
}
void FakeDestroyMainWindow(void) {
    Record("DestroyMainWindow");
    FAKE.hasWindow = 0;
    // As on the real platform: what was queued for the window goes with it.
    DropPlatformMessages(MESSAGE_QUEUE_WINDOW);
}
void FakeShowMainWindow(void) { Record("ShowMainWindow"); }
void FakeSetWindowTitle(const char* title) { FAKE.title = title; }
int FakeGetWindowRect(PlatformRect* rect) {
    if (!FAKE.hasWindow) return -1;
    *rect = FAKE.windowRect;
    return 0;
}
int FakeGetClientRect(PlatformRect* rect) {
    if (!FAKE.hasWindow) return -1;
    // A borderless (full-screen) window is all client area.
    if (!FAKE.windowed) {
        *rect = FAKE.windowRect;
        return 0;
    }
    rect->left = FAKE.windowRect.left + FAKE.frameLeft;
    rect->top = FAKE.windowRect.top + FAKE.frameTop;
    rect->right = FAKE.windowRect.right - FAKE.frameRight;
    rect->bottom = FAKE.windowRect.bottom - FAKE.frameBottom;
    return 0;
}
void FakeMoveMainWindow(const PlatformRect* rect) {
    Record("MoveMainWindow");
    FAKE.windowRect = *rect;
}
void FakeSetWindowStyle(int windowed) {
    Record("SetWindowStyle");
    FAKE.windowed = windowed;
}
void FakeRaiseMainWindow(void) { Record("RaiseMainWindow"); }
void FakeSetCursorVisible(int visible) { FAKE.cursorVisible = visible; }
void FakeDisableIme(void) { Record("DisableIme"); }
int FakePeekMessage(int queue, PlatformMessage* message) {
    FAKE.peekCount++;
    if (FAKE.onPeek) FAKE.onPeek(FAKE.peekCount);
    return PopPlatformMessage(queue, message);
}
void FakePostMessage(int queue, const PlatformMessage* message) {
    if (message->message == WM_CLOSE) Record("PostClose");
    if (message->message == WM_QUIT) Record("PostQuit");
    PushPlatformMessage(queue, message);
}

int FakeHandOverFile(const char*, const char* path) {
    Record("HandOverFile");
    if (FAKE.handOverFails) return -1;
    FAKE.handedOver.push_back(path);
    return 0;
}
int FakeTakeOpenedFile(char* path, int size) {
    if (FAKE.openedFiles.empty()) return 0;
    std::string file = FAKE.openedFiles.front();
    FAKE.openedFiles.erase(FAKE.openedFiles.begin());
    if ((int)file.size() >= size) return 0;
    memcpy(path, file.c_str(), file.size() + 1);
    return 1;
}

const PlatformWindowOps FAKE_WINDOW_OPS = {
    FakeIsOtherInstanceRunning, FakeGetDesktopMode, FakeRegisterWindowClass,
    FakeUnregisterWindowClass, FakeAdjustWindowRect, FakeCreateMainWindow,
    FakeDestroyMainWindow, FakeShowMainWindow, FakeSetWindowTitle, FakeGetWindowRect,
    FakeGetClientRect, FakeMoveMainWindow, FakeSetWindowStyle, FakeRaiseMainWindow,
    FakeSetCursorVisible, FakeDisableIme, FakePeekMessage, FakePostMessage,
    FakeHandOverFile, FakeTakeOpenedFile,
};

// ---- Input ----

int FakeOpenInput(void) {
    Record("OpenInput");
    return FAKE.openInputFails ? -1 : 0;
}
void FakeCloseInput(void) { Record("CloseInput"); }
int FakeOpenKeyboard(void) {
    Record("OpenKeyboard");
    return FAKE.keyboardResult;
}
void FakeCloseKeyboard(void) { Record("CloseKeyboard"); }
int FakeReadKeyboard(uint8_t state[256]) {
    if (FAKE.keyboardReadFails) return -1;
    memcpy(state, FAKE.keys, 256);
    return 0;
}
int FakeGetPadDeviceCount(void) { return FAKE.padCount; }
int FakeOpenPad(int index, char* instanceName, char* productName, int nameSize) {
    Record("OpenPad");
    snprintf(instanceName, nameSize, "%s", FAKE.pads[index].instanceName);
    snprintf(productName, nameSize, "%s", FAKE.pads[index].productName);
    return FAKE.pads[index].setupResult;
}
void FakeClosePad(int) { Record("ClosePad"); }
int FakeReadPad(int index, PlatformPadState* state) {
    if (FAKE.pads[index].readFails) return -1;
    *state = FAKE.pads[index].state;
    return 0;
}
int FakeReacquirePad(int index) {
    Record("ReacquirePad");
    return FAKE.pads[index].reacquireFails ? -1 : 0;
}

const PlatformInputOps FAKE_INPUT_OPS = {
    FakeOpenInput, FakeCloseInput, FakeOpenKeyboard, FakeCloseKeyboard, FakeReadKeyboard,
    FakeGetPadDeviceCount, FakeOpenPad, FakeClosePad, FakeReadPad, FakeReacquirePad,
};

int FakeRunFileDialog(const PlatformFileDialogRequest* request, char* path, int size) {
    Record("RunFileDialog");
    FAKE.dialogKind = request->kind;
    FAKE.dialogTitle = request->title != nullptr ? request->title : "";
    FAKE.dialogFilter.clear();
    if (request->filter != nullptr) {
        const char* end = request->filter;
        while (end[0] != '\0' || end[1] != '\0') end++;
        FAKE.dialogFilter.assign(request->filter, (size_t)(end - request->filter) + 2);
    }
    FAKE.dialogFilterIndex = request->filterIndex;
    FAKE.dialogEndedEarly = 0;
    if (FAKE.dialogAsksToEnd && request->ShouldEnd != nullptr && request->ShouldEnd() == 1) {
        FAKE.dialogEndedEarly = 1;
        return 0;
    }
    path[0] = '\0';
    if (FAKE.dialogResult != 1) return FAKE.dialogResult;
    if (FAKE.dialogPath.size() >= (size_t)size) return -1;
    snprintf(path, (size_t)size, "%s", FAKE.dialogPath.c_str());
    return 1;
}

void FakePrepareFileDialog(void) { Record("PrepareFileDialog"); }

const PlatformDialogOps FAKE_DIALOG_OPS = {
    FakeRunFileDialog,
    FakePrepareFileDialog,
};

// ---- Media controls ----

int FakeStartMedia(const char* name, const char* identity) {
    Record("StartMedia");
    if (FAKE.mediaStartFails) return -1;
    FAKE.mediaStarted = 1;
    FAKE.mediaName = name;
    FAKE.mediaIdentity = identity;
    return 0;
}
void FakeEndMedia(void) {
    Record("EndMedia");
    FAKE.mediaStarted = 0;
}
void FakeServeMedia(void) {
    // As the bus, which serves only once offered.
    if (FAKE.mediaStarted) FAKE.mediaServed++;
}
void FakePublishMediaState(const PlatformMediaState* state) {
    if (!FAKE.mediaStarted) return;
    FAKE.mediaPublished++;
    FAKE.mediaState = *state;
}
int FakeTakeMediaRequest(PlatformMediaRequest* request) {
    if (!FAKE.mediaStarted || FAKE.mediaRequests.empty()) return 0;
    *request = FAKE.mediaRequests.front();
    FAKE.mediaRequests.erase(FAKE.mediaRequests.begin());
    return 1;
}

const PlatformMediaOps FAKE_MEDIA_OPS = {
    FakeStartMedia, FakeEndMedia, FakeServeMedia, FakePublishMediaState, FakeTakeMediaRequest,
};

}  // namespace

void InstallFakePlatform(void) {
    FAKE = FakePlatform{};
    char cwd[1024];
    FAKE.currentDirectory = getcwd(cwd, sizeof cwd) ? cwd : "/tmp";
    FAKE.canStartMediaLayer = 1;
    FAKE.memoryTotal = 8.0 * 1048576 * 1024;
    FAKE.memoryAvailable = 4.0 * 1048576 * 1024;
    FAKE.millisecondStep = 1;
    FAKE.counterStep = 1000;
    FAKE.counterFrequency = 1000000000;
    FAKE.timerPeriodMin = 1;
    FAKE.cpu.hasCpuid = 1;
    FAKE.cpu.hasMmx = 1;
    FAKE.cpu.hasTimeStampCounter = 1;
    FAKE.cpu.hasBrand = 1;
    snprintf(FAKE.cpu.vendor, sizeof FAKE.cpu.vendor, "%s", "FakeVendorID");
    snprintf(FAKE.cpu.brand, sizeof FAKE.cpu.brand, "%s", "Fake Processor 1000");
    FAKE.timeStampStep = 1000000;
    FAKE.desktopWidth = 1024;
    FAKE.desktopHeight = 768;
    FAKE.desktopColorBits = 32;
    FAKE.frameLeft = FAKE.frameRight = FAKE.frameBottom = 4;
    FAKE.frameTop = 23;
    FAKE.menuHeight = 19;
    FAKE.cursorVisible = 1;
    ClearPlatformMessages();
    PLATFORM.system = &FAKE_SYSTEM_OPS;
    PLATFORM.clock = &FAKE_CLOCK_OPS;
    PLATFORM.window = &FAKE_WINDOW_OPS;
    PLATFORM.input = &FAKE_INPUT_OPS;
    PLATFORM.dialog = &FAKE_DIALOG_OPS;
    PLATFORM.media = &FAKE_MEDIA_OPS;
    // No sound output unless the test installs a working fake device: the
    // same on every machine, with or without a sound card.
    InstallFakeSoundDevice();
    FAKE_SOUND.createDeviceFails = 1;
    InstallFakeScreenDevice();
}

int CountFakeCalls(const char* name) {
    int n = 0;
    for (const std::string& call : FAKE.calls) n += call == name;
    return n;
}

void QueueFakeMessage(uint32_t message, int64_t wParam, int64_t lParam) {
    PlatformMessage m = {message, wParam, lParam};
    PushPlatformMessage(MESSAGE_QUEUE_WINDOW, &m);
}
