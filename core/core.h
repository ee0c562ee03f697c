// core.h: core's part of start-up and shut-down, the main window and its
// message pump, the log file, the clocks and the system report. The library's
// start-up (library/library.h) starts and ends every subsystem. What programs
// call is declared in ravlin.h; this is what the library uses inside.
//
// The library's own texts are Shift-JIS byte strings. Operations return 0 on
// success and -1 on failure unless noted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ravlin.h"

// ---- Start-up and shut-down -------------------------------------------------

// Logs the message, shuts everything down through the registered shut-down and
// ends the process with -1. Raised again while that shut-down runs, it ends the
// process at once.
[[noreturn]] void ExitWithError(const char* message);  // exit code -1

int IsLibraryStarted(void);
void SetLibraryStarted(int started);

// Core's own start: the start directory taken, the log emptied, the system
// report, the file streams and COM. 0 or -1.
int StartCore(void);
// Core's own end: the window closed and its class gone, COM ended, the start
// directory made current again. Safe to call when nothing was started.
void EndCore(void);

// What core must ask of the parts above it (the screen, the fonts, input), as
// the library's start-up registers it. An entry left null keeps a harmless
// default (no screen: 640 x 480 x 16, nothing to rebuild), so callers never test
// for null.
struct CoreHooks {
    void (*GetScreenSize)(int* width, int* height);  // the screen's size, pixels
    int (*GetScreenColorBits)(void);
    int (*CanRestoreGraphs)(void);         // 1 when lost graphs can be restored
    void (*RebuildAfterDeviceLoss)(void);  // device, surfaces, fonts made again; input restarts
    int (*ApplyWindowMode)(void);          // the screen rebuilt for a new window mode; 0 or -1
    void (*FollowWindowMove)(void);        // the client area moved
    void (*Reactivated)(void);             // the window is back in front after a wait
    void (*ShutDown)(void);                // everything ended, core last (EndCore)
};
void SetCoreHooks(const CoreHooks* hooks);  // copied; null restores the defaults
const CoreHooks* GetCoreHooks(void);

// Shift-JIS: 1 when the byte starts a two-byte character.
int IsLeadByte(uint8_t byte);

// File stream table handed to the file loaders: the C runtime's stream routines.
struct FileStreamOps {
    long (*Tell)(void* stream);
    int (*Seek)(void* stream, long offset, int origin);
    size_t (*Read)(void* buffer, size_t size, size_t count, void* stream);
    size_t (*Write)(const void* buffer, size_t size, size_t count, void* stream);
    int (*AtEnd)(void* stream);
};
const FileStreamOps* GetFileStreamOps(void);

// ---- Main window and message pump -------------------------------------------

int InitMainWindow(void);
int ApplyWindowStyle(void);

struct MainWindowState {
    int hasWindow;
    int windowed;
    int active;
    int quit;
    int closePosted;
    int destroyed;
    int cursorShown;
    int styleApplied;
    int clientLeft, clientTop, clientRight, clientBottom;  // screen pixels
    int desktopWidth, desktopHeight, desktopColorBits;
};
const MainWindowState* GetMainWindowState(void);

// Posts one close request to the main window unless one is already posted.
void PostCloseRequest(void);

// Holds the caller while the window is in the background, pumping; then the
// Reactivated hook runs. 0, or -1 once the program is ending.
int WaitForActiveWindow(void);

// ---- Log ---------------------------------------------------------------------

// The library's own messages are Shift-JIS, whatever the program's encoding
// (SetStringEncoding): inside the library WriteLog and WriteLogFormat name these,
// which turn them into the log's encoding. Always -1.
int WriteLibraryLog(const char* text);
int WriteLibraryLogFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
#define WriteLog WriteLibraryLog
#define WriteLogFormat WriteLibraryLogFormat

// ---- System report -----------------------------------------------------------

int WriteSystemReport(void);
int GetOsCode(void);
int GetMediaVersionCode(void);

// ---- Strings in the program's encoding ----------------------------------------

// 1 when the program's strings are UTF-8 (SetStringEncoding), 0 for Shift-JIS.
int IsUtf8Text(void);
// Bytes of text (at most limit) that end on a whole character of the program's
// encoding. A malformed UTF-8 sequence counts as a character (drawn as U+FFFD);
// a Shift-JIS lead byte before the terminator ends the text.
int CutToWholeCharacters(const char* text, int limit);
