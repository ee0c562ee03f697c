// The file dialog on GTK on the test's X display: the answer given once when
// a cancel meets the user's answer, and the dialog's window names as tools and
// window managers read them, with the process in the C locale.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/gtk/gtk_internal.h"
#include "platform/platform.h"
#include "tests/tools/shell_tools.h"

namespace {

const char* U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

bool HasDisplay() {
    const char* display = getenv("DISPLAY");
    return display != nullptr && *display != '\0';
}

// The first look answers the dialog with a cancel queued meanwhile.
std::string ANSWER_FILE;
int ANSWER_ASKED = 0;
int AnswerWithCancel(void) {
    if (!ANSWER_ASKED) {
        ANSWER_ASKED = 1;
        AnswerGtkDialogWithCancelQueued(ANSWER_FILE.c_str());
    }
    return 0;
}

TEST(GtkDialog, AnAnswerThatMeetsACancelIsGivenOnceAndIsTheUsers) {
    if (!HasDisplay()) GTEST_SKIP() << "needs an X display";
    char folder[] = "/tmp/ravlin-dialog-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    ANSWER_FILE = std::string(folder) + "/answer.wav";
    FILE* file = fopen(ANSWER_FILE.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fclose(file);
    char was[4096];
    ASSERT_NE(getcwd(was, sizeof was), nullptr);
    ASSERT_EQ(chdir(folder), 0);

    PlatformFileDialogRequest request = {FILE_DIALOG_OPEN, "開け", nullptr, 0, AnswerWithCancel};
    char path[FILE_DIALOG_PATH_SIZE];
    EXPECT_EQ(GTK_DIALOG_OPS.RunFileDialog(&request, path, sizeof path), 1) << "the cancel took the user's answer";
    EXPECT_EQ(std::string(path), ANSWER_FILE);

    // The cancel left from the first dialog does not reach the next one; a
    // cancel of its own ends it.
    request.ShouldEnd = [] { return 1; };
    EXPECT_EQ(GTK_DIALOG_OPS.RunFileDialog(&request, path, sizeof path), 0);

    ASSERT_EQ(chdir(was), 0);
    unlink(ANSWER_FILE.c_str());
    rmdir(folder);
}

// Reads the dialog's names while it shows, then ends it.
std::string NAMES;
int LOOKS = 0;
int ReadNamesThenEnd(void) {
    // Every 20 ms: up to 10 s for the dialog to show.
    if (++LOOKS > 500) return 1;
    std::string id = Shell(std::string("xwininfo -root -tree | grep '\"") + U8(u8"開け") + "\"' | awk '{print $1}' | head -1");
    if (id.empty() || Shell("xwininfo -id " + id).find("IsViewable") == std::string::npos) return 0;
    NAMES = Shell("xprop -id " + id + " WM_NAME WM_ICON_NAME _NET_WM_NAME");
    return 1;
}

TEST(GtkDialog, TheTitleIsRightInEveryNameWhateverTheProcesssLocale) {
    if (!HasDisplay()) GTEST_SKIP() << "needs an X display";
    // The program never sets its locale: it is the C locale, whatever the
    // environment says (the test command's is C.UTF-8, which GTK's thread takes).
    PlatformFileDialogRequest request = {FILE_DIALOG_OPEN, "開け", nullptr, 0, ReadNamesThenEnd};
    char path[FILE_DIALOG_PATH_SIZE];
    EXPECT_EQ(GTK_DIALOG_OPS.RunFileDialog(&request, path, sizeof path), 0);
    ASSERT_FALSE(NAMES.empty()) << "the dialog never showed";
    for (const char* name : {"WM_NAME", "WM_ICON_NAME", "_NET_WM_NAME"}) {
        std::string expected = std::string(name) + "(UTF8_STRING) = \"" + U8(u8"開け") + "\"";
        EXPECT_NE(NAMES.find(expected), std::string::npos) << expected << " in\n" << NAMES;
    }
}

}  // namespace
