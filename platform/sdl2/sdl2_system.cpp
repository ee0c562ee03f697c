// sdl2_system.cpp: system and clock services on Linux and SDL2.
//
// The current directory, the debugger-output mirror and the error box, machine
// facts (memory, kernel release, processor) and the media-layer gate; the
// monotonic clocks and sleeping. Texts arrive in Shift-JIS and leave for the
// terminal and SDL in UTF-8.
#include <SDL.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

#include "platform/platform.h"
#include "platform/utf8.h"
#include "platform/sdl2/sdl2_internal.h"

namespace {

enum { UTF8_BUFFER_SIZE = 4096 };  // bytes; longer texts get a buffer of their own
enum { VIDEO_START_TRIES = 5, VIDEO_RETRY_PAUSE_MS = 20 };

// Converts a text to UTF-8 and writes it to standard error. A character takes
// at most 3 bytes more in UTF-8 than it had (a malformed byte of a UTF-8 text
// becomes U+FFFD's three).
void WriteToStderr(const char* text, int (*convert)(const char*, char*, int)) {
    char small[UTF8_BUFFER_SIZE];
    size_t need = strlen(text) * 3 + 1;
    char* utf8 = need <= sizeof small ? small : (char*)malloc(need);
    if (utf8 == nullptr) return;
    int length = convert(text, utf8, (int)need);
    fwrite(utf8, 1, (size_t)length, stderr);
    if (utf8 != small) free(utf8);
}

// ---- System ----

int Sdl2GetCurrentDir(char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return -1;
    return getcwd(buffer, (size_t)size) != nullptr ? 0 : -1;
}

int Sdl2SetCurrentDir(const char* path) { return chdir(path) == 0 ? 0 : -1; }

void Sdl2WriteDebugOutput(const char* text) {
    if (text == nullptr) return;
    // The log's texts come in the program's encoding.
    WriteToStderr(text, ConvertTextToUtf8);
    fflush(stderr);
}

void Sdl2ShowErrorBox(const char* title, const char* text) {
    if (title == nullptr) title = "";
    if (text == nullptr) text = "";
    // Standard error first: the box waits for the user, and without a display
    // there is no box at all.
    WriteToStderr(title, ConvertSjisToUtf8);
    fputs(": ", stderr);
    WriteToStderr(text, ConvertSjisToUtf8);
    fputs("\n", stderr);
    fflush(stderr);

    size_t titleSize = strlen(title) * 3 + 1;
    size_t textSize = strlen(text) * 3 + 1;
    char* utf8Title = (char*)malloc(titleSize);
    char* utf8Text = (char*)malloc(textSize);
    if (utf8Title != nullptr && utf8Text != nullptr) {
        ConvertSjisToUtf8(title, utf8Title, (int)titleSize);
        ConvertSjisToUtf8(text, utf8Text, (int)textSize);
        // The box opens a display connection of its own.
        LockDisplayConnections();
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, utf8Title, utf8Text, nullptr);
        UnlockDisplayConnections();
    }
    free(utf8Title);
    free(utf8Text);
}

// Reads one "Name:  value kB" line of /proc/meminfo; -1 when it is missing.
double ReadMeminfoBytes(const char* content, const char* name) {
    size_t nameLength = strlen(name);
    for (const char* line = content; line != nullptr && *line != '\0';) {
        if (strncmp(line, name, nameLength) == 0 && line[nameLength] == ':') {
            return strtod(line + nameLength + 1, nullptr) * 1024.0;
        }
        line = strchr(line, '\n');
        if (line != nullptr) line++;
    }
    return -1.0;
}

int Sdl2GetMemoryStatus(double* totalBytes, double* availableBytes) {
    char content[8192];
    size_t length = 0;
    FILE* file = fopen("/proc/meminfo", "r");
    if (file != nullptr) {
        length = fread(content, 1, sizeof content - 1, file);
        fclose(file);
    }
    content[length] = '\0';
    double total = ReadMeminfoBytes(content, "MemTotal");
    double available = ReadMeminfoBytes(content, "MemAvailable");
    if (total >= 0 && available >= 0) {
        *totalBytes = total;
        *availableBytes = available;
        return 0;
    }
    // Kernels before 3.14 have no MemAvailable: free memory is the nearest answer.
    struct sysinfo info;
    if (sysinfo(&info) != 0) return -1;
    *totalBytes = (double)info.totalram * info.mem_unit;
    *availableBytes = (double)info.freeram * info.mem_unit;
    return 0;
}

int Sdl2GetOsRelease(char* buffer, int size) {
    struct utsname name;
    if (buffer == nullptr || size <= 0 || uname(&name) != 0) return -1;
    snprintf(buffer, (size_t)size, "%s", name.release);
    return 0;
}

// Video started by the gate and kept for the window class that follows: each
// start of SDL's video opens the display anew, which costs tens of
// milliseconds. Registering the class takes its own hold and lets this one go.
int VIDEO_HELD_FOR_CLASS = 0;

// A display that opens means the media layer can run. Video that is already
// running is left alone; video started here stays up for the window class.
int Sdl2CanStartMediaLayer(void) {
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) return 1;
    if (StartSdl2Video(SDL_INIT_VIDEO) != 0) return 0;
    VIDEO_HELD_FOR_CLASS = 1;
    return 1;
}

void Sdl2ReportMediaLayerFailure(void) {
    const char* display = getenv("DISPLAY");
    const char* wayland = getenv("WAYLAND_DISPLAY");
    if (display != nullptr && *display != '\0') {
        fprintf(stderr, "%s: cannot open the X display \"%s\"\n", program_invocation_short_name, display);
    } else if (wayland != nullptr && *wayland != '\0') {
        fprintf(stderr, "%s: cannot open the Wayland display \"%s\" (and DISPLAY is not set)\n",
                program_invocation_short_name, wayland);
    } else {
        fprintf(stderr, "%s: no display to open: DISPLAY is not set\n", program_invocation_short_name);
    }
    fflush(stderr);
}

void Sdl2GetMediaLayerVersion(int* major, int* minor, int* patch) {
    SDL_version version;
    SDL_GetVersion(&version);
    *major = version.major;
    *minor = version.minor;
    *patch = version.patch;
}

// No per-thread services to start on Linux.
int Sdl2StartCom(void) { return 0; }
void Sdl2EndCom(void) {}

void Sdl2ExitProcess(int code) { exit(code); }

// ---- Clocks ----

int64_t ReadMonotonicNanoseconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
}

uint32_t Sdl2GetMilliseconds(void) { return (uint32_t)(uint64_t)(ReadMonotonicNanoseconds() / 1000000); }

int64_t Sdl2GetCounter(void) { return ReadMonotonicNanoseconds(); }

int64_t Sdl2GetCounterFrequency(void) { return 1000000000; }

// The kernel's timers have no resolution to request.
uint32_t Sdl2GetTimerPeriodMin(void) { return 1; }
void Sdl2BeginTimerPeriod(uint32_t) {}

void Sdl2Sleep(uint32_t ms) {
    struct timespec wait = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

void Sdl2GetCpuInfo(PlatformCpuInfo* info) {
    memset(info, 0, sizeof *info);
#if defined(__x86_64__) || defined(__i386__)
    unsigned int eax, ebx, ecx, edx;
    unsigned int maxLeaf = __get_cpuid_max(0, nullptr);
    if (maxLeaf == 0) return;
    info->hasCpuid = 1;
    __cpuid(0, eax, ebx, ecx, edx);
    memcpy(info->vendor + 0, &ebx, 4);
    memcpy(info->vendor + 4, &edx, 4);
    memcpy(info->vendor + 8, &ecx, 4);
    info->vendor[12] = '\0';
    if (maxLeaf >= 1 && __get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        info->hasMmx = (edx >> 23) & 1;
        info->hasTimeStampCounter = (edx >> 4) & 1;
    }
    if (__get_cpuid_max(0x80000000, nullptr) >= 0x80000004) {
        info->hasBrand = 1;
        for (unsigned int leaf = 0; leaf < 3; leaf++) {
            unsigned int regs[4];
            __cpuid(0x80000002 + leaf, regs[0], regs[1], regs[2], regs[3]);
            memcpy(info->brand + leaf * 16, regs, 16);
        }
        info->brand[48] = '\0';
    }
#endif
}

uint64_t Sdl2ReadTimeStampCounter(void) {
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return (uint64_t)ReadMonotonicNanoseconds();
#endif
}

}  // namespace

std::mutex DISPLAY_CONNECTIONS;

void LockDisplayConnections(void) { DISPLAY_CONNECTIONS.lock(); }
void UnlockDisplayConnections(void) { DISPLAY_CONNECTIONS.unlock(); }

void QuitSdl2Video(uint32_t flags) {
    LockDisplayConnections();
    SDL_QuitSubSystem(flags);
    UnlockDisplayConnections();
}

void ReleaseSdl2VideoHold(void) {
    if (!VIDEO_HELD_FOR_CLASS) return;
    VIDEO_HELD_FOR_CLASS = 0;
    QuitSdl2Video(SDL_INIT_VIDEO);
}

int StartSdl2Video(uint32_t flags) {
    // Ctrl+C must end the process as usual: SDL would turn it into a quit
    // event, which the message translation ignores.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Only drivers that put a window on a screen. Left to itself SDL ends its
    // search with the offscreen driver, which always starts, and the gate would
    // pass on a machine without a display. SDL_VIDEODRIVER still decides.
    // Of those, only the ones whose display is named: a Wayland client library
    // asked without one complains on standard error.
    const char* display = getenv("DISPLAY");
    const char* wayland = getenv("WAYLAND_DISPLAY");
    int hasX = display != nullptr && *display != '\0';
    int hasWayland = wayland != nullptr && *wayland != '\0';
    const char* drivers = hasWayland ? (hasX ? "x11,wayland" : "wayland") : "x11";
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, drivers, SDL_HINT_DEFAULT);
    // An X server refuses a few percent of connections made right after
    // another client left (EAGAIN, ECONNRESET): a display that is there gets
    // a few more tries.
    int tries = hasX ? VIDEO_START_TRIES : 1;
    int started = 0;
    LockDisplayConnections();
    for (int i = 0; i < tries && !started; i++) {
        if (i > 0) Sdl2Sleep(VIDEO_RETRY_PAUSE_MS);
        started = SDL_InitSubSystem(flags) == 0;
    }
    UnlockDisplayConnections();
    return started ? 0 : -1;
}

const PlatformSystemOps SDL2_SYSTEM_OPS = {
    Sdl2GetCurrentDir, Sdl2SetCurrentDir, Sdl2WriteDebugOutput, Sdl2ShowErrorBox,
    Sdl2GetMemoryStatus, Sdl2GetOsRelease, Sdl2CanStartMediaLayer, Sdl2ReportMediaLayerFailure, Sdl2GetMediaLayerVersion,
    Sdl2StartCom, Sdl2EndCom, Sdl2ExitProcess,
};

const PlatformClockOps SDL2_CLOCK_OPS = {
    Sdl2GetMilliseconds, Sdl2GetCounter, Sdl2GetCounterFrequency, Sdl2GetTimerPeriodMin,
    Sdl2BeginTimerPeriod, Sdl2Sleep, Sdl2GetCpuInfo, Sdl2ReadTimeStampCounter,
};
