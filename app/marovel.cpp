// marovel.cpp: the player. Asks for a music file (or takes the one named on the
// command line), plays it in an endless loop, and lets the arrow keys change
// its playback frequency while the window shows the state.
//
// For practising, a keep-pitch mode changes the speed without the pitch (and
// moves the pitch in semitones), an A-B section loops, and keys seek, pause
// and set the volume; the notice row then shows where the sound is.
//
// One player runs per display: a later start hands its file over, and a file
// dropped on the window is taken the same way; either replaces the sound. The
// desktop's media controls see the state and play, pause, stop, seek and set
// the rate and the volume.
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "app/player.h"
#include "app/practice.h"
#include "ravlin.h"

namespace {

// Two pairs of display text and pattern, then the closing zero byte.
const char FILE_FILTER[] = "音楽ファイル(*.*)\0*.*\0all(*.*)\0*.*\0";

// The formats the library reads (AAC and ALAC only when built with FFmpeg).
#ifdef RAVLIN_WITH_FFMPEG
#define FORMAT_NAMES "WAVE, Ogg Vorbis, Opus, FLAC, M4A (AAC, ALAC) or MP3"
#else
#define FORMAT_NAMES "WAVE, Ogg Vorbis, Opus, FLAC or MP3"
#endif

const char USAGE[] =
    "Usage: marovel [OPTION]... [FILE]\n"
    "Plays a music file in an endless loop; without FILE, a file dialog asks for\n"
    "one. It may be " FORMAT_NAMES ".\n"
    "\n"
    "Keys:\n"
    "  Right, Left   playback frequency +50 Hz, -50 Hz (speed and pitch together)\n"
    "  Up, Down      playback frequency +100 Hz, -100 Hz (never below 100 Hz)\n"
    "  Enter         stop; again to play from the start\n"
    "  Escape        quit (as does closing the window)\n"
    "  P             keep-pitch mode on or off: the frequency changes the speed only\n"
    "  PageUp/Down   pitch +1, -1 semitone (keep-pitch mode; -12 to +12)\n"
    "  A, B          loop from here (A), up to here (B); C clears both\n"
    "  J, L          5 seconds back, forward (within the A-B section when set)\n"
    "  Home          back to the start (or to A)\n"
    "  Space         pause; again to go on from there\n"
    "  Backspace     frequency back to 44100 Hz\n"
    "  9, 0          volume -2 %, +2 % (the sound's own, 0 to 100 %)\n"
    "\n"
    "Options:\n"
    "  -h, --help    show this help and exit\n"
    "      --version show the version and exit\n"
    "  --            end of options (for a file whose name starts with '-')\n";

char PATH_BUFFER[SELECT_FILE_BUFFER_SIZE];
char TITLE_BUFFER[SELECT_FILE_BUFFER_SIZE];
char DISPLAY_NAME[DISPLAY_NAME_SIZE];

enum { FILE_PATH_SIZE = 4096 };  // bytes of a Linux path and its terminator

// What the frame loop and the media controls' handler share.
struct Player {
    int sound;              // handle, -1 when the file did not load
    int frequency;          // Hz, as the arrows and the window have it
    int heard;              // Hz, what the sound plays at (the device keeps its last rate above its top)
    const char* notice;     // the notice row's text, null when empty
    int track;              // files loaded so far
    char path[FILE_PATH_SIZE];  // absolute, for the desktop; empty when unknown
    int keepPitch;          // 1: the frequency changes the speed only
    int semitones;          // pitch moved in keep-pitch mode
    int volume;             // percent
    int paused;             // stopped where it was, to go on from there
    LoopSection section;    // A-B, microseconds; goes with the file
    int practiceShown;      // a practice key or control was used: the row shows the line
    int64_t lastPosition;   // microseconds, as the last frame saw it
    uint8_t keysHeld[256];  // last frame's keys: a held key acts once
};

Player PLAYER = {-1, START_FREQUENCY, START_FREQUENCY, nullptr, 0, "", 0, 0, 100, 0, {-1, -1}, 0, 0, {}};
char OPENED_FILE[FILE_PATH_SIZE];

// The name after the last slash of a path given on the command line.
const char* BareName(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

enum { RUN_PLAYER = -1, EXIT_USAGE = 2 };

// Reads the options; RUN_PLAYER to go on (with *file the file named, or null),
// else the exit code.
int ReadCommandLine(int argc, char** argv, const char** file) {
    *file = nullptr;
    int optionsEnded = 0;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
            if (strcmp(arg, "--") == 0) {
                optionsEnded = 1;
            } else if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
                fputs(USAGE, stdout);
                return 0;
            } else if (strcmp(arg, "--version") == 0) {
                printf("Marovel ver0.001a (Ravlin Ver%s)\n", GetLibraryVersion());
                return 0;
            } else {
                fprintf(stderr, "marovel: unknown option \"%s\"\n%s", arg, USAGE);
                return EXIT_USAGE;
            }
            continue;
        }
        if (*file != nullptr) {
            fprintf(stderr, "marovel: one file at a time\n%s", USAGE);
            return EXIT_USAGE;
        }
        *file = arg;
    }
    return RUN_PLAYER;
}

// What stands between the user and the sound, for standard error.
const char* DescribeLoadError(int error) {
    switch (error) {
        case SOUND_LOAD_NO_DEVICE: return "no sound output device could be opened";
        case SOUND_LOAD_NOT_FOUND: return "no such file";
        case SOUND_LOAD_NOT_ALLOWED: return "permission denied";
        case SOUND_LOAD_FOLDER: return "it is a folder, not a file";
        case SOUND_LOAD_EMPTY: return "the file is empty";
        case SOUND_LOAD_UNREADABLE: return "the file cannot be read";
        case SOUND_LOAD_UNKNOWN_FORMAT: return "not a " FORMAT_NAMES " file";
        case SOUND_LOAD_DAMAGED: return "the file is damaged, or its encoding cannot be decoded";
        case SOUND_LOAD_UNSUPPORTED_RATE: return "its sample rate is outside what the sound device can play";
        case SOUND_LOAD_TOO_LARGE: return "the sound is too large for the sound device";
        case SOUND_LOAD_CANCELLED: return "loading was cancelled";
        default: return "the sound device refused it";
    }
}

// The playable range the desktop is shown; the device's top, or no limit without one.
int MaxFrequency(void) {
    int max = GetSoundDeviceMaxFrequency();
    return max > 0 ? max : INT_MAX;
}

void PublishState(void) {
    MediaState state = {};
    state.playing = IsSoundHandlePlaying(PLAYER.sound) == 1;
    state.paused = PLAYER.paused;
    state.volume = PLAYER.volume / 100.0;
    const double start = START_FREQUENCY;
    state.rate = PLAYER.heard / start;
    state.minimumRate = (int)MIN_FREQUENCY / start;
    state.maximumRate = MaxFrequency() / start;
    state.track = PLAYER.track;
    int64_t length = GetSoundHandleMicroseconds(PLAYER.sound);
    state.lengthMicroseconds = length > 0 ? length : 0;
    state.path = PLAYER.path[0] != '\0' ? PLAYER.path : nullptr;
    PublishMediaState(&state);
}

// The frequency applied to the sound, as every frame does.
void ApplyFrequency(void) {
    SetSoundHandleFrequency(PLAYER.frequency, PLAYER.sound);
    PLAYER.heard = HeardFrequency(PLAYER.heard, PLAYER.frequency, MaxFrequency());
}

// What Enter does, without its second of waiting: a stop rewinds.
void Stop(void) {
    if (IsSoundHandlePlaying(PLAYER.sound) != 0) StopSoundHandle(PLAYER.sound);
    PLAYER.paused = 0;
}
// Plays on from where the sound stands (its start after a stop).
void Play(void) {
    if (IsSoundHandlePlaying(PLAYER.sound) == 0) PlaySoundHandle(PLAYER.sound, PLAY_LOOP);
    PLAYER.paused = 0;
}
void Pause(void) {
    if (IsSoundHandlePlaying(PLAYER.sound) != 1) return;
    PauseSoundHandle(PLAYER.sound);
    PLAYER.paused = 1;
    PLAYER.practiceShown = 1;
}

int64_t GetLength(void) { return GetSoundHandleMicroseconds(PLAYER.sound); }

// The position the desktop reads.
int64_t QueryPosition(void) {
    int64_t position = GetSoundHandlePosition(PLAYER.sound);
    return position > 0 ? position : 0;
}

// A jump, and the desktop told where it landed.
void JumpTo(int64_t target) {
    if (SetSoundHandlePosition(target, PLAYER.sound) != 0) return;
    PLAYER.lastPosition = QueryPosition();
    AnnounceMediaSeek(PLAYER.lastPosition);
    PLAYER.practiceShown = 1;
}

void ApplySection(void) {
    const LoopSection& s = PLAYER.section;
    SetSoundHandleLoopSection(s.start >= 0 ? s.start : 0, s.end >= 0 ? s.end : -1, PLAYER.sound);
}

void ApplyVolume(void) { SetSoundHandleVolume(PLAYER.volume, PLAYER.sound); }

// Switches the mode; without a sound the choice waits for the next file.
void SetKeepPitch(int keepPitch) {
    if (PLAYER.sound == -1 || SetSoundHandleKeepPitch(keepPitch, PLAYER.sound) == 0) PLAYER.keepPitch = keepPitch;
}

// Runs inside the message pump, in the background too.
void HandleMediaRequest(int request, double value) {
    switch (request) {
        case MEDIA_PLAY: Play(); break;
        case MEDIA_PAUSE: Pause(); break;
        case MEDIA_STOP: Stop(); break;
        case MEDIA_PLAY_PAUSE:
            if (IsSoundHandlePlaying(PLAYER.sound) != 0) {
                Pause();
            } else {
                Play();
            }
            break;
        case MEDIA_SET_RATE:
            PLAYER.frequency = FrequencyOfRate(PLAYER.frequency, value, MaxFrequency());
            ApplyFrequency();
            break;
        case MEDIA_SEEK:
            // Offsets beyond what 64 bits hold are taken as the largest.
            if (GetLength() > 0) {
                int64_t offset = value >= 9.2e18 ? INT64_MAX : value <= -9.2e18 ? INT64_MIN : (int64_t)value;
                JumpTo(SeekWithin(&PLAYER.section, GetLength(), QueryPosition(), offset));
            }
            break;
        case MEDIA_SET_POSITION:
            if (GetLength() > 0) JumpTo(SeekWithin(&PLAYER.section, GetLength(), (int64_t)value, 0));
            break;
        case MEDIA_SET_VOLUME:
            PLAYER.volume = (int)(value * 100 + 0.5);
            ApplyVolume();
            break;
        default: break;
    }
    PublishState();
}

// 1 when the key went down since the last frame: a held key acts once.
int KeyPressed(int scanCode) {
    int held = IsKeyDown(scanCode) == 1;
    int pressed = held && !PLAYER.keysHeld[scanCode];
    PLAYER.keysHeld[scanCode] = (uint8_t)held;
    if (pressed) PLAYER.practiceShown = 1;
    return pressed;
}

// The practice keys, once a frame.
void HandlePracticeKeys(void) {
    int64_t length = GetLength();
    int64_t position = QueryPosition();
    if (KeyPressed(DIK_P)) SetKeepPitch(!PLAYER.keepPitch);
    int pitchStep = KeyPressed(DIK_PRIOR) - KeyPressed(DIK_NEXT);
    if (pitchStep != 0 && PLAYER.keepPitch) {
        PLAYER.semitones = StepSemitones(PLAYER.semitones, pitchStep);
        SetSoundHandlePitchSemitones(PLAYER.semitones, PLAYER.sound);
    }
    if (KeyPressed(DIK_A) && length > 0 && SetSectionStart(&PLAYER.section, length, position) == 0) ApplySection();
    if (KeyPressed(DIK_B) && length > 0 && SetSectionEnd(&PLAYER.section, length, position) == 0) ApplySection();
    if (KeyPressed(DIK_C)) {
        ClearSection(&PLAYER.section);
        ApplySection();
    }
    int seek = KeyPressed(DIK_L) - KeyPressed(DIK_J);
    if (seek != 0 && length > 0) JumpTo(SeekWithin(&PLAYER.section, length, position, (int64_t)seek * SEEK_STEP));
    if (KeyPressed(DIK_HOME) && length > 0) {
        int64_t first, end;
        GetPlaySpan(&PLAYER.section, length, &first, &end);
        JumpTo(first);
    }
    if (KeyPressed(DIK_SPACE)) {
        if (IsSoundHandlePlaying(PLAYER.sound) == 1) {
            Pause();
        } else {
            Play();
        }
    }
    if (KeyPressed(DIK_BACK)) PLAYER.frequency = START_FREQUENCY;
    int volumeStep = KeyPressed(DIK_0) - KeyPressed(DIK_9);
    if (volumeStep != 0) {
        PLAYER.volume = StepVolume(PLAYER.volume, volumeStep * VOLUME_STEP);
        ApplyVolume();
    }
}

// A loop that went back to its start is a jump the desktop cannot foresee.
void NoticeLoopReturn(void) {
    int64_t position = QueryPosition();
    const int64_t slack = 200000;  // microseconds: the keep-pitch position wavers by a block
    if (IsSoundHandlePlaying(PLAYER.sound) == 1 && position + slack < PLAYER.lastPosition) AnnounceMediaSeek(position);
    PLAYER.lastPosition = position;
}

// The notice row: a load's notice first, else the practice line once asked for.
void DrawNoticeRow(void) {
    if (PLAYER.notice != nullptr) {
        DrawText(0, 40, PLAYER.notice, MakeColor(255, 255, 128), 0);
        return;
    }
    int64_t length = GetLength();
    if (!PLAYER.practiceShown || length <= 0) return;
    char line[PRACTICE_LINE_SIZE];
    FormatPracticeLine(line, sizeof line, QueryPosition(), length, PLAYER.keepPitch, PLAYER.semitones, &PLAYER.section);
    DrawText(0, 40, line, MakeColor(200, 255, 200), 0);
}

// The absolute form of a name opened relative to the current directory.
void RememberPath(const char* fileName) {
    char folder[FILE_PATH_SIZE];
    PLAYER.path[0] = '\0';
    if (fileName[0] == '/') {
        snprintf(PLAYER.path, sizeof PLAYER.path, "%s", fileName);
    } else if (getcwd(folder, sizeof folder) != nullptr) {
        int length = snprintf(PLAYER.path, sizeof PLAYER.path, "%s/%s", folder, fileName);
        if (length < 0 || length >= (int)sizeof PLAYER.path) PLAYER.path[0] = '\0';
    }
}

// The loading notice, the load, and a loop at the current frequency. A file
// that does not play is named, with the reason, and the window says so too.
void LoadAndPlay(const char* fileName, const char* shownPath) {
    DrawText(0, 0, "読み込み中・・・", MakeColor(255, 255, 255), 0);
    PresentScreen();
    PLAYER.sound = LoadSoundFile(fileName);
    PLAYER.notice = nullptr;
    PLAYER.track++;
    RememberPath(fileName);
    // A load that a close of the window ended is no fault of the file: the
    // player is ending, and says nothing.
    if (PLAYER.sound == -1 && GetLastSoundLoadError() != SOUND_LOAD_CANCELLED) {
        int error = GetLastSoundLoadError();
        fprintf(stderr, "marovel: cannot play \"%s\": %s\n", shownPath, DescribeLoadError(error));
        PLAYER.notice = error == SOUND_LOAD_NO_DEVICE ? "音を出せる装置がないため再生できません" : "このファイルは再生できません";
    }
    ApplyFrequency();
    // The new file keeps the mode, pitch and volume; its section starts empty.
    ClearSection(&PLAYER.section);
    ApplyVolume();
    SetSoundHandlePitchSemitones(PLAYER.semitones, PLAYER.sound);
    if (PLAYER.keepPitch && PLAYER.sound != -1 && SetSoundHandleKeepPitch(1, PLAYER.sound) != 0) PLAYER.keepPitch = 0;
    PLAYER.paused = 0;
    PLAYER.lastPosition = 0;
    PlaySoundHandle(PLAYER.sound, PLAY_LOOP);
    PublishState();
}

// A file handed over by a later start or dropped on the window replaces the
// sound: the old one stops and goes whether or not the new one plays.
void ReplaceSound(const char* path) {
    DeleteSoundHandle(PLAYER.sound);
    PLAYER.sound = -1;
    ConvertFileNameToText(BareName(path), DISPLAY_NAME, sizeof DISPLAY_NAME);
    ClearDrawTarget();
    LoadAndPlay(path, path);
}

}  // namespace

int main(int argc, char** argv) {
    const char* fileArgument;
    int parsed = ReadCommandLine(argc, argv, &fileArgument);
    if (parsed != RUN_PLAYER) return parsed;

    // The dialog's toolkit starts while the library does.
    if (fileArgument == nullptr) PrepareFileDialog();
    SetScreenMode(350, 120, 16, -1);
    SetWindowTitleText("Marovel ver0.001a");
    SetLogOutputEnabled(0);
    ChangeWindowMode(1);
    // A player already on this display takes the file instead.
    SetFileHandOver(fileArgument);
    PLAYER.frequency = START_FREQUENCY;
    if (InitLibrary() == -1) return -1;
    SetDrawTarget(SCREEN_BACK);
    // Without a session bus the player runs as it always did.
    if (StartMediaControls("marovel", "Marovel") == 0) {
        SetMediaRequestHandler(HandleMediaRequest);
        SetMediaPositionQuery(QueryPosition);
    }

    // The dialog starts with an empty name.
    memset(PATH_BUFFER, 0, sizeof PATH_BUFFER);
    memset(TITLE_BUFFER, 0, sizeof TITLE_BUFFER);
    memset(DISPLAY_NAME, 0, sizeof DISPLAY_NAME);
    // The file system's name opens the file; its Shift-JIS copy is drawn.
    const char* fileName;
    const char* shownPath;  // the name as the user gave or chose it, for messages
    if (fileArgument != nullptr) {
        fileName = shownPath = fileArgument;
        ConvertFileNameToText(BareName(fileName), DISPLAY_NAME, sizeof DISPLAY_NAME);
    } else {
        int chosen = SelectFile(nullptr, 'g', PATH_BUFFER, TITLE_BUFFER, "開け", FILE_FILTER);
        if (chosen == 1) {
            fileName = TITLE_BUFFER;
            shownPath = PATH_BUFFER[0] != '\0' ? PATH_BUFFER : TITLE_BUFFER;
            ConvertFileNameToText(TITLE_BUFFER, DISPLAY_NAME, sizeof DISPLAY_NAME);
        } else if (chosen == 0 && TakeOpenedFile(OPENED_FILE, sizeof OPENED_FILE) == 1) {
            // A file handed over (or dropped) while the dialog showed takes its place.
            fileName = shownPath = OPENED_FILE;
            ConvertFileNameToText(BareName(OPENED_FILE), DISPLAY_NAME, sizeof DISPLAY_NAME);
        } else {
            // Nothing chosen: nothing to play. A dialog that never opened is a failure.
            EndLibrary();
            return chosen == -1 ? 1 : 0;
        }
    }
    LoadAndPlay(fileName, shownPath);

    while (ProcessWindowMessages() == 0) {
        if (IsKeyDown(DIK_ESCAPE) != 0) break;
        if (TakeOpenedFile(OPENED_FILE, sizeof OPENED_FILE) == 1) ReplaceSound(OPENED_FILE);
        PLAYER.frequency = StepFrequency(PLAYER.frequency, GetPadInput(INPUT_KEY_PAD1));
        if (IsKeyDown(DIK_RETURN) == 1) {
            if (IsSoundHandlePlaying(PLAYER.sound) != 0) {
                StopSoundHandle(PLAYER.sound);
                PLAYER.paused = 0;
                PublishState();
                WaitMilliseconds(1000);
            } else {
                WaitMilliseconds(1000);
                // Enter plays from the start, also after a pause.
                if (PLAYER.paused) SetSoundHandlePosition(0, PLAYER.sound);
                PLAYER.paused = 0;
                PlaySoundHandle(PLAYER.sound, PLAY_LOOP);
            }
        }
        HandlePracticeKeys();
        NoticeLoopReturn();
        ApplyFrequency();
        PublishState();
        ClearDrawTarget();
        DrawText(0, 20, DISPLAY_NAME, MakeColor(200, 200, 255), 0);
        DrawNoticeRow();
        DrawLabeledNumber(0, 0, "現在の周波数", PLAYER.frequency, 10, MakeColor(255, 255, 255), 0);
        DrawText(0, 60, "キーボード左右で周波数変更(上下で高速)", MakeColor(255, 200, 200), 0);
        DrawText(0, 80, "エンターキーで停止、再開", MakeColor(255, 200, 200), 0);
        DrawText(0, 100, "音楽データはwav,ogg,mp3のみ対応", MakeColor(255, 200, 200), 0);
        // A plain sleep: no message pumping here.
        const timespec tenMilliseconds = {0, 10 * 1000 * 1000};
        nanosleep(&tenMilliseconds, nullptr);
        PresentScreen();
    }
    EndMediaControls();
    EndLibrary();
    return 0;
}
