// core.h: start-up and shut-down of the library layer, the main window and its
// message pump, the log file, the clocks and the system report.
//
// All texts are Shift-JIS byte strings. Operations return 0 on success and -1
// on failure unless noted.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Start-up and shut-down -------------------------------------------------

int InitLibrary(void);
int EndLibrary(void);                                  // always 0
[[noreturn]] void ExitWithError(const char* message);  // exit code -1

// Configuration, stored for start-up.
int SetWindowTitleText(const char* title);
int SetLogOutputEnabled(int flag);
int ChangeWindowMode(int flag);

int IsLibraryStarted(void);

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
int ProcessWindowMessages(void);  // 0 = keep running, -1 = the program is to end
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

// ---- Log ---------------------------------------------------------------------

int WriteLog(const char* text);                          // always -1
int WriteLogFormat(const char* format, ...)              // always -1
    __attribute__((format(printf, 1, 2)));
int IncreaseLogIndent(void);
int DecreaseLogIndent(void);

// ---- Timer -------------------------------------------------------------------

int WaitMilliseconds(int milliseconds);  // always 0
int64_t GetNowMicroseconds(void);

// ---- System report -----------------------------------------------------------

int WriteSystemReport(void);
const char* GetLibraryVersion(void);  // the library's version, as "2.06b"
int GetOsCode(void);
int GetMediaVersionCode(void);

// ---- File dialog ---------------------------------------------------------------

enum { SELECT_FILE_BUFFER_SIZE = 260 };  // bytes of each of SelectFile's two buffers

// Mode 'g' asks for an existing file to open, 's' for a file to save (asking
// before an existing one is replaced); any other mode returns 0 at once. On a
// confirmed choice returns 1: the current directory is then the file's folder,
// title holds the file's name and path its full path (empty when it is longer
// than the buffer), both in the file system's own bytes. Returns 0 when the user
// cancelled (or the main window was closed meanwhile) and -1 when the dialog
// could not be shown (the platform has said why on standard error); the
// buffers are then untouched. dialogTitle
// and filter (display text and pattern pairs, each zero-terminated, one more
// zero at the end) are Shift-JIS. The owner is not used.
int SelectFile(void* owner, int mode, char* path, char* title, const char* dialogTitle, const char* filter);

// A file name in the file system's bytes as Shift-JIS text to draw: characters
// the code page lacks become '?', the text is cut after the last whole character
// that fits in size-1 bytes. Returns the length written.
int ConvertFileNameToText(const char* name, char* text, int size);
