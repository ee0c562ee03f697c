/* utf8_program.c: a program of UTF-8 strings for the end-to-end test. It asks
 * for a sound file with the dialog (a title and filter of its own), loads it
 * by the bare name the dialog gave, says what it got on standard error and in
 * its log, shows the name, and runs until its window is closed. */
#include <stdio.h>

#include <ravlin.h>

int main(void) {
    SetStringEncoding(STRING_UTF8);
    SetWindowTitleText("UTF-8 テスト é€");
    SetScreenMode(320, 60, 32, -1);
    SetLogOutputEnabled(1);
    if (InitLibrary() == -1) return 1;
    SetDrawTarget(SCREEN_BACK);

    char path[SELECT_FILE_BUFFER_SIZE];
    char title[SELECT_FILE_BUFFER_SIZE];
    int chosen = SelectFile(NULL, 'g', path, title, "開く – é€", "音楽 (*.wav)\0*.wav\0\0");
    int sound = chosen == 1 ? LoadSoundFile(title) : -1;
    fprintf(stderr, "chosen %d [%s]\nloaded %d %d\n", chosen, chosen == 1 ? title : "", sound != -1,
            GetLastSoundLoadError());
    WriteLogFormat("読み込み: %s", chosen == 1 ? title : "");
    char shown[256];
    ConvertFileNameToText(chosen == 1 ? title : "", shown, (int)sizeof shown);

    while (ProcessWindowMessages() == 0) {
        ClearDrawTarget();
        DrawText(0, 0, shown, MakeColor(255, 255, 255), 0);
        WaitMilliseconds(10);
        PresentScreen();
    }
    EndLibrary();
    return 0;
}
