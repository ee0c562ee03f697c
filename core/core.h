// core.h: core's part of start-up and shut-down, the main window and its
// message pump, the log file, the clocks and the system report. The library's
// start-up (library/library.h) starts and ends every subsystem.
//
// All texts are Shift-JIS byte strings. Operations return 0 on success and -1
// on failure unless noted.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Start-up and shut-down -------------------------------------------------

// Logs the message, shuts everything down through the registered shut-down and
// ends the process with -1. Raised again while that shut-down runs, it ends the
// process at once.
[[noreturn]] void ExitWithError(const char* message);  // exit code -1

// Configuration, stored for start-up.
int SetWindowTitleText(const char* title);
int SetLogOutputEnabled(int flag);
int ChangeWindowMode(int flag);

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

// Holds the caller while the window is in the background, pumping; then the
// Reactivated hook runs. 0, or -1 once the program is ending.
int WaitForActiveWindow(void);

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
// cancelled, the main window was closed meanwhile, or a file arrived from the
// desktop (TakeOpenedFile then gives it), and -1 when the dialog
// could not be shown (the platform has said why on standard error); the
// buffers are then untouched. dialogTitle
// and filter (display text and pattern pairs, each zero-terminated, one more
// zero at the end) are Shift-JIS. The owner is not used.
int SelectFile(void* owner, int mode, char* path, char* title, const char* dialogTitle, const char* filter);

// Starts the dialog's toolkit in the background; a program that will ask for a
// file calls it early (before InitLibrary, say) so that the dialog opens sooner.
// Called before InitLibrary, the toolkit starts once the main window is made
// (never in a start that another instance turns away).
void PrepareFileDialog(void);

// A file name in the file system's bytes as Shift-JIS text to draw: characters
// the code page lacks become '?', the text is cut after the last whole character
// that fits in size-1 bytes. Returns the length written.
int ConvertFileNameToText(const char* name, char* text, int size);

// ---- The desktop: files from other starts and drops, media controls ----------

// Before InitLibrary: files reach this program from later starts of it on the
// same display and from drops on the main window (TakeOpenedFile). When another
// instance runs, InitLibrary hands path (made absolute; null for none) over to
// it and ends the process: with 0, or with 1 when the other instance did not
// take the file. -1 when the path cannot be made absolute.
int SetFileHandOver(const char* path);
// 1 with the absolute path (the file system's bytes) of the last file that
// arrived since the last call, 0 when none did: of several handed over, the
// last one sent. A file that arrives brings the main window to the front.
int TakeOpenedFile(char* path, int size);

// What the desktop's media controls ask; the program's handler runs inside the
// message pump, in the background too. Quit and raise are served by the
// library itself (a close request, the window to the front).
enum {
    MEDIA_PLAY = 1,
    MEDIA_PAUSE,
    MEDIA_PLAY_PAUSE,
    MEDIA_STOP,
    MEDIA_SET_RATE,          // value: the rate, above 0
    MEDIA_SEEK = 8,          // value: microseconds to move by, either way
    MEDIA_SET_POSITION,      // value: microseconds from the start, within the length
    MEDIA_SET_VOLUME,        // value: 0..1
};
typedef void (*MediaRequestHandler)(int request, double value);

// What the desktop is shown; each change is announced to it.
struct MediaState {
    int playing;                      // 1 playing, 0 stopped
    double rate;                      // playback speed, 1 = the file's own
    double minimumRate, maximumRate;
    int track;                        // counts the files loaded
    int64_t lengthMicroseconds;       // 0 when unknown
    const char* path;                 // absolute, the file system's bytes; null for none
    int paused;                       // not playing, and goes on from where it stands
    double volume;                    // 0..1
};

// Offers the media controls on the session bus under name (lower case, one
// word, also the desktop entry's name) with identity as the name users see.
// 0, or -1 without a session bus (nothing is said then). They end with the
// library, or with EndMediaControls.
int StartMediaControls(const char* name, const char* identity);
void EndMediaControls(void);
void SetMediaRequestHandler(MediaRequestHandler handler);  // null: none
int PublishMediaState(const MediaState* state);             // -1 when not started
// The position the desktop reads, microseconds, asked each time it reads it
// (never announced); null: 0.
void SetMediaPositionQuery(int64_t (*query)(void));
// Tells the desktop that the position jumped (a seek or a loop's return;
// not a new file). -1 when not started.
int AnnounceMediaSeek(int64_t microseconds);
