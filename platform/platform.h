// platform.h: what the library layer asks of the operating system.
//
// Private to the library: app/ never includes it. Each service is a table of
// operations; PLATFORM holds the tables in use. The real tables (SDL2, OpenAL
// Soft, the sound file readers, ...) are installed at process start; a unit test
// swaps in the fakes of platform/fake/ before it calls the library.
//
// Texts passed in and out are Shift-JIS (CP932) byte strings, as the rest of the
// library keeps them; the backends convert to UTF-8 where Linux wants it.
#pragma once

#include <cstddef>
#include <cstdint>

// Window messages the library's window procedure understands (Win32 numbering,
// so that the message handling reads like the platform it was designed for).
enum {
    WM_DESTROY = 0x0002,
    WM_MOVE = 0x0003,
    WM_SIZE = 0x0005,
    WM_ACTIVATE = 0x0006,
    WM_CLOSE = 0x0010,
    WM_QUIT = 0x0012,
    WM_ACTIVATEAPP = 0x001C,
    WM_SETCURSOR = 0x0020,
    WM_DISPLAYCHANGE = 0x007E,
    WM_IME_STARTCOMPOSITION = 0x010D,
    WM_IME_ENDCOMPOSITION = 0x010E,
    WM_IME_COMPOSITION = 0x010F,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_RBUTTONDOWN = 0x0204,
    WM_RBUTTONUP = 0x0205,
    WM_MBUTTONDOWN = 0x0207,
    WM_MBUTTONUP = 0x0208,
    WM_MOVING = 0x0216,
    WM_IME_SETCONTEXT = 0x0281,
    WM_IME_NOTIFY = 0x0282,
};

enum { SIZE_MAXIMIZED = 2 };

// The two queues a pump reads: messages posted to the thread (the quit message)
// and messages for the main window.
enum { MESSAGE_QUEUE_THREAD = 0, MESSAGE_QUEUE_WINDOW = 1 };

struct PlatformMessage {
    uint32_t message;
    int64_t wParam;
    int64_t lParam;
};

struct PlatformRect {
    int left, top, right, bottom;  // pixels, right and bottom exclusive
};

// Current directory, diagnostics, machine facts and the media-layer gate.
struct PlatformSystemOps {
    int (*GetCurrentDir)(char* buffer, int size);        // 0 or -1
    int (*SetCurrentDir)(const char* path);              // 0 or -1
    void (*WriteDebugOutput)(const char* text);          // the log's mirror; the program's encoding (utf8.h)
    void (*ShowErrorBox)(const char* title, const char* text);  // message box and standard error; Shift-JIS
    int (*GetMemoryStatus)(double* totalBytes, double* availableBytes);
    // Kernel release as the build text; 0 or -1.
    int (*GetOsRelease)(char* buffer, int size);
    // 1 when the media layer can start (a display can be opened), else 0.
    int (*CanStartMediaLayer)(void);
    // After CanStartMediaLayer answered 0: one line on standard error saying why
    // (no display named, or the one named could not be opened).
    void (*ReportMediaLayerFailure)(void);
    void (*GetMediaLayerVersion)(int* major, int* minor, int* patch);
    int (*StartCom)(void);  // per-thread services; 0 or -1
    void (*EndCom)(void);
    void (*ExitProcess)(int code);  // normal process exit: exit handlers run
};

// Processor facts (CPUID and the time-stamp counter).
struct PlatformCpuInfo {
    int hasCpuid;
    int hasMmx;
    int hasTimeStampCounter;
    int hasBrand;
    char vendor[13];   // 12 characters
    char brand[49];    // 48 characters
};

struct PlatformClockOps {
    uint32_t (*GetMilliseconds)(void);       // multimedia clock, wraps at 2^32 ms
    int64_t (*GetCounter)(void);             // high-resolution counter
    int64_t (*GetCounterFrequency)(void);    // counts per second, 0 when there is none
    uint32_t (*GetTimerPeriodMin)(void);     // ms
    void (*BeginTimerPeriod)(uint32_t ms);
    void (*Sleep)(uint32_t ms);
    void (*GetCpuInfo)(PlatformCpuInfo* info);
    uint64_t (*ReadTimeStampCounter)(void);
};

// The main window, its class and its messages.
struct PlatformWindowOps {
    // Whether another instance runs; when none does, this process becomes the
    // one instance (the claim lasts until the process ends). 1, 0.
    int (*IsOtherInstanceRunning)(const char* className);
    int (*GetDesktopMode)(int* width, int* height, int* colorBits);  // 0 or -1
    int (*RegisterWindowClass)(const char* className);               // 0 or -1
    void (*UnregisterWindowClass)(const char* className);
    // Grows a client rectangle to the window rectangle of the given style.
    void (*AdjustWindowRect)(PlatformRect* rect, int windowed, int withMenu);
    int (*CreateMainWindow)(const char* title, int windowed, const PlatformRect* windowRect);
    void (*DestroyMainWindow)(void);
    void (*ShowMainWindow)(void);
    void (*SetWindowTitle)(const char* title);
    int (*GetWindowRect)(PlatformRect* rect);        // screen coordinates; 0 or -1
    int (*GetClientRect)(PlatformRect* rect);        // screen coordinates; 0 or -1
    void (*MoveMainWindow)(const PlatformRect* windowRect);
    void (*SetWindowStyle)(int windowed);
    void (*RaiseMainWindow)(void);
    void (*SetCursorVisible)(int visible);
    void (*DisableIme)(void);
    // Takes the next message of a queue; 1 when one was taken, 0 when empty.
    int (*PeekMessage)(int queue, PlatformMessage* message);
    void (*PostMessage)(int queue, const PlatformMessage* message);
    // After IsOtherInstanceRunning answered 1: gives an absolute file path to
    // the instance that holds the claim. 0 once the holder said it has it, -1
    // when it could not be given or no answer came within a few seconds.
    int (*HandOverFile)(const char* className, const char* path);
    // Never waits: 1 with the absolute path of a file that another start handed
    // over or that was dropped on the main window (terminated within size), 0
    // when none came. Paths that do not fit are dropped. Handed-over files come
    // in the order their senders started sending.
    int (*TakeOpenedFile)(char* path, int size);
};

// Keyboard and joypads. Keys are indexed by DirectInput scan codes.
enum { PLATFORM_PAD_BUTTONS = 24 };

enum {
    KEYBOARD_OK = 0,
    KEYBOARD_ERROR_CREATE = 1,       // device could not be made or acquired
    KEYBOARD_ERROR_FORMAT = 2,
    KEYBOARD_ERROR_COOPERATION = 3,
};

enum {
    PAD_SETUP_OK = 0,
    PAD_SETUP_ERROR_OPEN = 1,
    PAD_SETUP_ERROR_FORMAT = 2,
    PAD_SETUP_ERROR_COOPERATION = 3,
    PAD_SETUP_ERROR_X_RANGE = 4,
    PAD_SETUP_ERROR_Y_RANGE = 5,
    PAD_SETUP_ERROR_X_DEADZONE = 6,
    PAD_SETUP_ERROR_Y_DEADZONE = 7,
};

struct PlatformPadState {
    int x, y;                                   // raw axes, -32768..32767
    uint8_t buttons[PLATFORM_PAD_BUTTONS];      // bit 7 set = pressed
};

struct PlatformInputOps {
    int (*OpenInput)(void);                     // 0 or -1
    void (*CloseInput)(void);
    int (*OpenKeyboard)(void);                  // KEYBOARD_*
    void (*CloseKeyboard)(void);
    // Reads 256 bytes, bit 7 = held; 0, or -1 when the state cannot be read.
    int (*ReadKeyboard)(uint8_t state[256]);
    int (*GetPadDeviceCount)(void);
    // Opens enumerated device index as a pad; PAD_SETUP_*.
    int (*OpenPad)(int index, char* instanceName, char* productName, int nameSize);
    void (*ClosePad)(int index);
    int (*ReadPad)(int index, PlatformPadState* state);  // 0 or -1
    int (*ReacquirePad)(int index);                       // 0 or -1
};

// The file dialog: open or save, modal, run to its end inside the call.
enum { FILE_DIALOG_OPEN = 0, FILE_DIALOG_SAVE = 1 };
enum { FILE_DIALOG_PATH_SIZE = 4096 };  // bytes for any Linux path and its terminator

struct PlatformFileDialogRequest {
    int kind;            // FILE_DIALOG_*: open needs an existing file, save asks before overwriting
    const char* title;   // Shift-JIS
    // Pairs of display text (Shift-JIS) and pattern, each ending in a zero byte;
    // one more zero byte ends the block. May be null.
    const char* filter;
    int filterIndex;     // the pair selected first, from 0
    // Asked on the caller's thread now and then while the dialog shows; 1
    // ends the dialog as a cancel. May be null.
    int (*ShouldEnd)(void);
};

struct PlatformDialogOps {
    // 1 with the chosen file's absolute path in path (the file system's own
    // bytes, terminated within size) when the user confirmed a file; 0 when the
    // dialog was cancelled (by the user, a close of the main window or the
    // request's ShouldEnd); -1 when it could not be shown or the path does not fit.
    int (*RunFileDialog)(const PlatformFileDialogRequest* request, char* path, int size);
    // Starts the dialog's toolkit in the background, so that a later dialog
    // opens sooner; returns at once.
    void (*PrepareFileDialog)(void);
};

// The desktop's media controls on the session bus: a player's state shown to
// the desktop, and what the desktop asks of it (play, pause, rate, quit...).
enum {
    MEDIA_REQUEST_PLAY = 1,
    MEDIA_REQUEST_PAUSE,
    MEDIA_REQUEST_PLAY_PAUSE,
    MEDIA_REQUEST_STOP,
    MEDIA_REQUEST_SET_RATE,
    MEDIA_REQUEST_QUIT,
    MEDIA_REQUEST_RAISE,
    MEDIA_REQUEST_SEEK,           // value: microseconds to move by (relative)
    MEDIA_REQUEST_SET_POSITION,   // value: microseconds from the start, of the track shown
    MEDIA_REQUEST_SET_VOLUME,     // value: 0..1
};
enum { MEDIA_PATH_SIZE = 4096 };  // bytes of a path and its terminator

struct PlatformMediaState {
    int playing;                    // 1 playing, 0 stopped
    int paused;                     // not playing, and goes on from where it stands
    double volume;                  // 0..1
    double rate;                    // playback speed, 1 = the file's own
    double minimumRate, maximumRate;
    int track;                      // counts the files loaded; a new one is a new track
    int64_t lengthMicroseconds;     // 0 when unknown
    char path[MEDIA_PATH_SIZE];     // absolute, the file system's bytes; empty when none
};

struct PlatformMediaRequest {
    int kind;       // MEDIA_REQUEST_*
    double value;   // rate, offset, position or volume, as the kind says
};

struct PlatformMediaOps {
    // Offers the controls under the name given (lower case, one word); 0, or
    // -1 when there is no session bus (silently).
    int (*StartMedia)(const char* name, const char* identity);
    void (*EndMedia)(void);
    // One pass over what the bus brought, never waiting.
    void (*ServeMedia)(void);
    // Shows the state; the desktop is told what changed since the last one.
    void (*PublishMediaState)(const PlatformMediaState* state);
    // 1 with the oldest request not yet taken, 0 when none waits.
    int (*TakeMediaRequest)(PlatformMediaRequest* request);
    // What the desktop reads as the position, asked whenever it reads it
    // (microseconds); null for 0.
    void (*SetPositionQuery)(int64_t (*query)(void));
    // Tells the desktop the position jumped to microseconds.
    void (*AnnounceSeek)(int64_t microseconds);
};

struct PlatformTables {
    const PlatformSystemOps* system;
    const PlatformClockOps* clock;
    const PlatformWindowOps* window;
    const PlatformInputOps* input;
    const struct PlatformSoundOps* sound;
    const struct PlatformSoundReader* const* readers;  // ending in null
    const struct PlatformScreenOps* screen;
    const struct PlatformFontOps* font;
    const PlatformDialogOps* dialog;
    const PlatformMediaOps* media;
};

extern PlatformTables PLATFORM;

// The real backends.
extern const PlatformSystemOps SDL2_SYSTEM_OPS;
extern const PlatformClockOps SDL2_CLOCK_OPS;
extern const PlatformWindowOps SDL2_WINDOW_OPS;
extern const PlatformInputOps SDL2_INPUT_OPS;
extern const PlatformDialogOps GTK_DIALOG_OPS;
extern const PlatformMediaOps GIO_MEDIA_OPS;

// Text conversion between the library's Shift-JIS and UTF-8 (iconv, CP932).
// Writes at most size-1 bytes and a terminator; returns the length written.
int ConvertSjisToUtf8(const char* sjis, char* utf8, int size);
int ConvertUtf8ToSjis(const char* utf8, char* sjis, int size);
// A file name (the file system's bytes, UTF-8 on Linux) as Shift-JIS text for
// showing: each character CP932 lacks, and each byte that is not UTF-8, becomes
// one '?'; the text ends after the last whole character that fits in size-1
// bytes. Returns the length written.
int ConvertFileNameToSjis(const char* name, char* sjis, int size);

// A block written once from start to end asks for huge pages: one page fault
// per 2 MB rather than per 4 KB. Small blocks are left as they are.
void AdviseHugePages(void* block, size_t bytes);

// The message queue both backends share: the library's posted messages and the
// backend's translated events wait here in arrival order. Nothing is dropped;
// a mouse move right behind another takes its place. Push gives 0, or -1 when
// no memory is left to hold the message.
int PushPlatformMessage(int queue, const PlatformMessage* message);
int PopPlatformMessage(int queue, PlatformMessage* message);
int CountPlatformMessages(int queue);
// What is queued for a window that is destroyed goes with it.
void DropPlatformMessages(int queue);
void ClearPlatformMessages(void);
