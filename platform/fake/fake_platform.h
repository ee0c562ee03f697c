// fake_platform.h: fakes of the platform services for unit tests.
//
// InstallFakePlatform() swaps the fakes into PLATFORM and resets them. The test
// then drives them through FAKE: it sets key states, queues messages, moves the
// clocks and reads back the calls the library made (in FAKE.calls, in order).
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

struct FakePad {
    int setupResult;  // PAD_SETUP_*
    char instanceName[64];
    char productName[64];
    int readFails;
    int reacquireFails;
    PlatformPadState state;
};

struct FakePlatform {
    std::vector<std::string> calls;   // names of the operations called, in order
    std::string debugOutput;          // everything sent to the debugger output
    std::string errorBoxTitle, errorBoxText;

    // System
    std::string currentDirectory;
    int canStartMediaLayer;
    double memoryTotal, memoryAvailable;  // bytes
    int startComFails;

    // Clocks: each read of a clock advances it by its step, so busy-waits end.
    uint32_t milliseconds;
    uint32_t millisecondStep;
    int64_t counter;
    int64_t counterStep;
    int64_t counterFrequency;
    uint32_t timerPeriodMin;
    PlatformCpuInfo cpu;
    uint64_t timeStampCounter;
    uint64_t timeStampStep;

    // Window
    int otherInstanceRunning;
    int desktopWidth, desktopHeight, desktopColorBits;
    int registerFails, createFails;
    int frameLeft, frameTop, frameRight, frameBottom;  // border widths, pixels
    int menuHeight;                                    // pixels
    int hasWindow;
    int windowed;
    std::string title;
    PlatformRect windowRect;
    int cursorVisible;
    // Called at every PeekMessage with the number of peeks so far, so that a
    // test can deliver messages in the middle of a wait.
    void (*onPeek)(int peekCount);
    int peekCount;

    // Input
    int openInputFails;
    int keyboardResult;   // KEYBOARD_*
    int keyboardReadFails;
    unsigned char keys[256];
    int padCount;
    FakePad pads[16];

    // File dialog: what the next dialog answers, and what the last one was asked.
    int dialogResult;              // 1 confirmed, 0 cancelled, -1 failed
    std::string dialogPath;        // the chosen file's absolute path
    int dialogKind;
    std::string dialogTitle;       // Shift-JIS, as passed
    std::string dialogFilter;      // the whole block, its zero bytes included
    int dialogFilterIndex;
    int dialogAsksToEnd;           // the dialog asks the request's ShouldEnd once before it answers
    int dialogEndedEarly;          // the last dialog ended because ShouldEnd said so

    // Files: what later starts handed over, and the files that reach the
    // program (handed over or dropped), taken oldest first.
    std::vector<std::string> handedOver;
    int handOverFails;
    std::vector<std::string> openedFiles;

    // Media controls: whether the bus is there, what was shown, what the
    // desktop asks next (taken oldest first).
    int mediaStartFails;
    int mediaStarted;
    std::string mediaName, mediaIdentity;
    int mediaServed;                  // passes over the bus
    int mediaPublished;               // states shown
    PlatformMediaState mediaState;    // the last one shown
    std::vector<PlatformMediaRequest> mediaRequests;
};

extern FakePlatform FAKE;

void InstallFakePlatform(void);
int CountFakeCalls(const char* name);
// Appends a message to the window's queue.
void QueueFakeMessage(uint32_t message, int64_t wParam, int64_t lParam);
