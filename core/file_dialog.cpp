// file_dialog.cpp: the open and save dialogs as a program asks for them, and
// file names made ready for showing.
//
// After a confirmed choice the current directory is the chosen file's folder
// and the title buffer holds the bare name, so the program can open the file by
// that name alone. Names stay in the file system's own bytes: a Shift-JIS copy
// of a UTF-8 name would open nothing.
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "core/core_internal.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace {

// The program asked for the toolkit before the library started.
int DIALOG_PREPARED = 0;

// While the dialog shows, the desktop is served as the pump would: files that
// arrive end the dialog (the program takes them instead), and so does a
// request to quit.
int ShouldDialogEnd(void) {
    ServeDesktop();
    return HasOpenedFile() || GetMainWindowState()->closePosted;
}

}  // namespace

int SelectFile(void* owner, int mode, char* path, char* title, const char* dialogTitle, const char* filter) {
    (void)owner;  // the dialog has no parent window: the main window is not a GTK window
    if (mode != 'g' && mode != 's') return 0;
    // A program whose window is closing chooses nothing: no dialog comes up
    // after the user closed the window.
    const MainWindowState* window = GetMainWindowState();
    if (window->hasWindow && window->closePosted) return 0;
    PlatformFileDialogRequest request = {};
    request.kind = mode == 's' ? FILE_DIALOG_SAVE : FILE_DIALOG_OPEN;
    request.title = dialogTitle;
    request.filter = filter;
    request.filterIndex = 0;
    request.ShouldEnd = ShouldDialogEnd;
    static char chosen[FILE_DIALOG_PATH_SIZE];
    int answer = PLATFORM.dialog->RunFileDialog(&request, chosen, sizeof chosen);
    // The dialog took the focus; the main window gets it back.
    if (GetMainWindowState()->hasWindow) PLATFORM.window->RaiseMainWindow();
    // A dialog that could not be shown is not a cancel: the caller says so.
    if (answer == -1) return -1;
    if (answer != 1 || chosen[0] != '/') return 0;

    const char* slash = strrchr(chosen, '/');
    static char folder[FILE_DIALOG_PATH_SIZE];
    size_t folderLength = slash == chosen ? 1 : (size_t)(slash - chosen);  // the root keeps its slash
    memcpy(folder, chosen, folderLength);
    folder[folderLength] = '\0';
    const char* name = slash + 1;
    if (name[0] == '\0' || strlen(name) >= SELECT_FILE_BUFFER_SIZE) return 0;
    if (PLATFORM.system->SetCurrentDir(folder) != 0) return 0;
    // A path longer than the buffer is left empty, never cut into another path.
    if (strlen(chosen) < SELECT_FILE_BUFFER_SIZE) {
        snprintf(path, SELECT_FILE_BUFFER_SIZE, "%s", chosen);
    } else {
        path[0] = '\0';
    }
    snprintf(title, SELECT_FILE_BUFFER_SIZE, "%s", name);
    return 1;
}

void PrepareFileDialog(void) {
    // Before the window exists the toolkit must wait: this start may be a
    // second one that ends at once, and the toolkit's start must not meet the
    // window's opening of the display.
    if (!GetMainWindowState()->hasWindow) {
        DIALOG_PREPARED = 1;
        return;
    }
    PLATFORM.dialog->PrepareFileDialog();
}

void StartPreparedFileDialog(void) {
    if (!DIALOG_PREPARED) return;
    DIALOG_PREPARED = 0;
    PLATFORM.dialog->PrepareFileDialog();
}

int ConvertFileNameToText(const char* name, char* text, int size) {
    // A UTF-8 program draws the file system's UTF-8 as it is; only what is not
    // UTF-8 is made U+FFFD.
    if (IsUtf8Text()) return ConvertTextToUtf8(name, text, size);
    return ConvertFileNameToSjis(name, text, size);
}
