// marovel.cpp: the player. Asks for a music file (or takes the one named on the
// command line), plays it in an endless loop, and lets the arrow keys change
// its playback frequency while the window shows the state.
#include <time.h>

#include <cstring>

#include "app/player.h"
#include "core/core.h"
#include "library/library.h"
#include "input/input.h"
#include "screen/screen.h"
#include "sound/sound.h"
#include "text/text.h"

namespace {

// Two pairs of display text and pattern, then the closing zero byte.
const char FILE_FILTER[] = "音楽ファイル(*.*)\0*.*\0all(*.*)\0*.*\0";

char PATH_BUFFER[SELECT_FILE_BUFFER_SIZE];
char TITLE_BUFFER[SELECT_FILE_BUFFER_SIZE];
char DISPLAY_NAME[DISPLAY_NAME_SIZE];

// The name after the last slash of a path given on the command line.
const char* BareName(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

}  // namespace

int main(int argc, char** argv) {
    SetScreenMode(350, 120, 16, -1);
    SetWindowTitleText("Marovel ver0.001a");
    SetLogOutputEnabled(0);
    ChangeWindowMode(1);
    int frequency = START_FREQUENCY;
    if (InitLibrary() == -1) return -1;
    SetDrawTarget(SCREEN_BACK);

    // The dialog starts with an empty name.
    memset(PATH_BUFFER, 0, sizeof PATH_BUFFER);
    memset(TITLE_BUFFER, 0, sizeof TITLE_BUFFER);
    memset(DISPLAY_NAME, 0, sizeof DISPLAY_NAME);
    // The file system's name opens the file; its Shift-JIS copy is drawn.
    const char* fileName;
    if (argc >= 2) {
        fileName = argv[1];
        ConvertFileNameToText(BareName(fileName), DISPLAY_NAME, sizeof DISPLAY_NAME);
    } else {
        if (SelectFile(nullptr, 'g', PATH_BUFFER, TITLE_BUFFER, "開け", FILE_FILTER) != 1) {
            // Nothing chosen: nothing to play.
            EndLibrary();
            return 0;
        }
        fileName = TITLE_BUFFER;
        ConvertFileNameToText(TITLE_BUFFER, DISPLAY_NAME, sizeof DISPLAY_NAME);
    }

    DrawText(0, 0, "読み込み中・・・", MakeColor(255, 255, 255), 0);
    PresentScreen();
    int sound = LoadSoundFile(fileName);
    PlaySoundHandle(sound, PLAY_LOOP);

    while (ProcessWindowMessages() == 0) {
        if (IsKeyDown(DIK_ESCAPE) != 0) break;
        frequency = StepFrequency(frequency, GetPadInput(INPUT_KEY_PAD1));
        if (IsKeyDown(DIK_RETURN) == 1) {
            if (IsSoundHandlePlaying(sound) != 0) {
                StopSoundHandle(sound);
                WaitMilliseconds(1000);
            } else {
                WaitMilliseconds(1000);
                PlaySoundHandle(sound, PLAY_LOOP);
            }
        }
        SetSoundHandleFrequency(frequency, sound);
        ClearDrawTarget();
        DrawText(0, 20, DISPLAY_NAME, MakeColor(200, 200, 255), 0);
        DrawLabeledNumber(0, 0, "現在の周波数", frequency, 10, MakeColor(255, 255, 255), 0);
        DrawText(0, 60, "キーボード左右で周波数変更(上下で高速)", MakeColor(255, 200, 200), 0);
        DrawText(0, 80, "エンターキーで停止、再開", MakeColor(255, 200, 200), 0);
        DrawText(0, 100, "音楽データはwav,ogg,mp3のみ対応", MakeColor(255, 200, 200), 0);
        // A plain sleep: no message pumping here.
        const timespec tenMilliseconds = {0, 10 * 1000 * 1000};
        nanosleep(&tenMilliseconds, nullptr);
        PresentScreen();
    }
    EndLibrary();
    return 0;
}
