/* sound.c: plays a sound file named on the command line.
 *
 *   sound FILE
 *
 * Space plays it in a loop from the start, S stops it, Left and Right lower
 * and raise its playback rate (speed and pitch together) by 1000 Hz, 0 gives
 * back the file's own rate. Escape ends. A file that cannot be played is said
 * so, on standard error and in the window.
 */
#include <stdio.h>

#include <ravlin.h>

/* Why a load failed, in words. */
static const char* DescribeLoadError(int error) {
    switch (error) {
        case SOUND_LOAD_NO_DEVICE: return "no sound output device could be opened";
        case SOUND_LOAD_NOT_FOUND: return "there is no such file";
        case SOUND_LOAD_NOT_ALLOWED: return "the file may not be read";
        case SOUND_LOAD_FOLDER: return "it is a folder, not a file";
        case SOUND_LOAD_EMPTY: return "the file is empty";
        case SOUND_LOAD_UNREADABLE: return "the file cannot be read";
        case SOUND_LOAD_UNKNOWN_FORMAT: return "it is not a sound file this library knows";
        case SOUND_LOAD_DAMAGED: return "the file is damaged";
        case SOUND_LOAD_UNSUPPORTED_RATE: return "its sample rate cannot be played";
        case SOUND_LOAD_TOO_LARGE: return "the sound is too large";
        case SOUND_LOAD_CANCELLED: return "loading was cancelled";
        default: return "the sound device refused it";
    }
}

/* 1 on the frame a key goes down, not while it is held. */
static int Pressed(int key, char held[256]) {
    int down = IsKeyDown(key) == 1;
    int pressed = down && !held[key];
    held[key] = (char)down;
    return pressed;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    SetStringEncoding(STRING_UTF8);
    SetWindowTitleText("Ravlin: sound");
    SetScreenMode(480, 120, 32, -1);
    SetLogOutputEnabled(0);
    if (InitLibrary() == -1) return 1;
    SetDrawTarget(SCREEN_BACK);

    char name[256];
    ConvertFileNameToText(argv[1], name, sizeof name);
    char problem[256] = "";
    int sound = LoadSoundFile(argv[1]);
    if (sound == -1) {
        const char* reason = DescribeLoadError(GetLastSoundLoadError());
        fprintf(stderr, "%s: cannot play \"%s\": %s\n", argv[0], argv[1], reason);
        snprintf(problem, sizeof problem, "Cannot play it: %s.", reason);
    } else {
        PlaySoundHandle(sound, PLAY_LOOP);
    }

    char held[256] = {0};
    int frequency = -1; /* the file's own rate */
    while (ProcessWindowMessages() == 0 && !IsKeyDown(DIK_ESCAPE)) {
        if (Pressed(DIK_SPACE, held)) PlaySoundHandle(sound, PLAY_LOOP);
        if (Pressed(DIK_S, held)) StopSoundHandle(sound);
        if (Pressed(DIK_0, held)) frequency = -1;
        if (Pressed(DIK_RIGHT, held)) frequency = (frequency == -1 ? 44100 : frequency) + 1000;
        if (Pressed(DIK_LEFT, held) && frequency != -1 && frequency > 1000) frequency -= 1000;
        SetSoundHandleFrequency(frequency, sound);

        ClearDrawTarget();
        DrawText(8, 8, name, MakeColor(200, 200, 255), 0);
        if (problem[0] != '\0') {
            DrawText(8, 32, problem, MakeColor(255, 120, 120), 0);
        } else {
            DrawText(8, 32, IsSoundHandlePlaying(sound) == 1 ? "playing" : "stopped", MakeColor(255, 255, 255), 0);
            if (frequency == -1) {
                DrawText(120, 32, "at its own rate", MakeColor(255, 255, 255), 0);
            } else {
                DrawLabeledNumber(120, 32, "Hz", frequency, 10, MakeColor(255, 255, 255), 0);
            }
        }
        DrawText(8, 72, "Space play, S stop, Left/Right rate, 0 own rate", MakeColor(140, 140, 140), 0);
        DrawText(8, 92, "Escape ends", MakeColor(140, 140, 140), 0);
        PresentScreen();
    }
    EndLibrary();
    return sound == -1 ? 1 : 0;
}
