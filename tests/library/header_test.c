/* header_test.c: ravlin.h as programs in other languages and standards meet
 * it. Compiled, not run, as C99 and as C++ with every warning an error; the
 * calls below check that each kind of declaration is usable as declared. */
#include <ravlin.h>
#include <ravlin.h> /* twice: the guard holds */

static void OnMedia(int request, double rate) {
    (void)request;
    (void)rate;
}

static void OnRestore(void) {}

static int64_t QueryPosition(void) { return 0; }

int RavlinHeaderTest(void);

int RavlinHeaderTest(void) {
    MediaState state = {0, 1.0, 0.5, 2.0, 1, 0, 0, 0, 1.0};
    GraphRestoreCallback restore = OnRestore;
    MediaRequestHandler handler = OnMedia;
    int64_t now = GetNowMicroseconds();
    uint32_t color = MakeColor(255, 255, 255);
    char path[SELECT_FILE_BUFFER_SIZE];
    char title[SELECT_FILE_BUFFER_SIZE];
    int sum = SetStringEncoding(STRING_UTF8) + InitLibrary();
    sum += SelectFile(0, 'g', path, title, "title", "all\0*.*\0");
    sum += WriteLogFormat("%d %s", 1, "text");
    sum += DrawStringToHandle(0, 0, "text", color, GetDefaultFontHandle(), 0);
    sum += GetPadInput(INPUT_KEY_PAD1) & (PAD_UP | PAD_BUTTON24);
    sum += IsKeyDown(DIK_MEDIASELECT) + SCREEN_FRONT + PLAY_LOOP + SOUND_LOAD_DEVICE_REFUSED + FONT_SMOOTH_EDGED;
    sum += SetGraphRestoreCallback(restore) + PublishMediaState(&state);
    SetMediaRequestHandler(handler);
    SetMediaPositionQuery(QueryPosition);
    sum += AnnounceMediaSeek(0) + SetSoundHandleLoopSection(0, -1, -1) + (int)GetSoundHandlePosition(-1);
    sum += (int)(now & 1) + (RAVLIN_VERSION_MAJOR * 100 + RAVLIN_VERSION_MINOR) + EndLibrary();
    return sum + (int)sizeof RAVLIN_VERSION_TEXT;
}
