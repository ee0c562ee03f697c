// The file dialog as a program asks for it (on the fake dialog), and file names
// made ready for drawing.
#include <cstring>
#include <string>

#include "core/core.h"
#include "library/library.h"
#include "core_test_support.h"

namespace {

std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// SelectFile's two buffers with a guard area behind each, to catch an overrun.
struct DialogBuffers {
    char path[SELECT_FILE_BUFFER_SIZE + 16];
    char title[SELECT_FILE_BUFFER_SIZE + 16];
    DialogBuffers() {
        memset(path, 'P', sizeof path);
        memset(title, 'T', sizeof title);
    }
    bool GuardsIntact() const {
        for (int i = SELECT_FILE_BUFFER_SIZE; i < SELECT_FILE_BUFFER_SIZE + 16; i++) {
            if (path[i] != 'P' || title[i] != 'T') return false;
        }
        return true;
    }
};

const char FILTER[] = "音楽ファイル(*.*)\0*.*\0all(*.*)\0*.*\0";

}  // namespace

using FileDialogTest = FakePlatformTest;

TEST_F(FileDialogTest, ConfirmedChoiceMovesToTheFileFolderAndGivesItsBareName) {
    ASSERT_EQ(InitLibrary(), 0);
    FAKE.dialogResult = 1;
    FAKE.dialogPath = Utf8(u8"/home/user/音楽/ループ.ogg");
    DialogBuffers b;
    size_t mark = FAKE.calls.size();
    ASSERT_EQ(SelectFile(nullptr, 'g', b.path, b.title, "開け", FILTER), 1);
    EXPECT_EQ(FAKE.currentDirectory, Utf8(u8"/home/user/音楽"));
    EXPECT_EQ(std::string(b.title), Utf8(u8"ループ.ogg"));
    EXPECT_EQ(std::string(b.path), FAKE.dialogPath);
    EXPECT_TRUE(b.GuardsIntact());
    // What the dialog was asked: open, the Shift-JIS title, the whole filter block, first pair.
    EXPECT_EQ(FAKE.dialogKind, FILE_DIALOG_OPEN);
    EXPECT_EQ(FAKE.dialogTitle, "開け");
    EXPECT_EQ(FAKE.dialogFilter, std::string(FILTER, sizeof FILTER));
    EXPECT_EQ(FAKE.dialogFilterIndex, 0);
    // The main window gets the focus back after the dialog.
    std::vector<std::string> order;
    for (size_t i = mark; i < FAKE.calls.size(); i++) {
        if (FAKE.calls[i] == "RunFileDialog" || FAKE.calls[i] == "RaiseMainWindow") order.push_back(FAKE.calls[i]);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"RunFileDialog", "RaiseMainWindow"}));

    // Save mode asks the save dialog; a file in the root keeps the root's slash.
    FAKE.dialogPath = "/x.wav";
    ASSERT_EQ(SelectFile(nullptr, 's', b.path, b.title, "開け", FILTER), 1);
    EXPECT_EQ(FAKE.dialogKind, FILE_DIALOG_SAVE);
    EXPECT_EQ(FAKE.currentDirectory, "/");
    EXPECT_EQ(std::string(b.title), "x.wav");
}

TEST_F(FileDialogTest, NoChoiceLeavesBuffersAndDirectoryAlone) {
    DialogBuffers b;
    std::string startDir = FAKE.currentDirectory;
    // Any other mode: no dialog at all.
    EXPECT_EQ(SelectFile(nullptr, 'o', b.path, b.title, "開け", FILTER), 0);
    EXPECT_EQ(CountFakeCalls("RunFileDialog"), 0);
    // Cancelled, failed (which is not a cancel), and a name that cannot fit the title buffer.
    FAKE.dialogResult = 0;
    EXPECT_EQ(SelectFile(nullptr, 'g', b.path, b.title, "開け", FILTER), 0);
    FAKE.dialogResult = -1;
    EXPECT_EQ(SelectFile(nullptr, 'g', b.path, b.title, "開け", FILTER), -1);
    FAKE.dialogResult = 1;
    FAKE.dialogPath = "/tmp/" + std::string(SELECT_FILE_BUFFER_SIZE, 'n');
    EXPECT_EQ(SelectFile(nullptr, 'g', b.path, b.title, "開け", FILTER), 0);
    EXPECT_EQ(CountFakeCalls("RunFileDialog"), 3);
    EXPECT_EQ(FAKE.currentDirectory, startDir);
    EXPECT_EQ(b.path[0], 'P');
    EXPECT_EQ(b.title[0], 'T');
    EXPECT_TRUE(b.GuardsIntact());
}

TEST_F(FileDialogTest, LongPathGivesTheNameAndAnEmptyPathNeverACutOne) {
    std::string folder = "/tmp";
    while (folder.size() < 400) folder += Utf8(u8"/深いフォルダ");
    FAKE.dialogResult = 1;
    FAKE.dialogPath = folder + "/song.mp3";
    DialogBuffers b;
    ASSERT_EQ(SelectFile(nullptr, 'g', b.path, b.title, "開け", FILTER), 1);
    EXPECT_EQ(FAKE.currentDirectory, folder);
    EXPECT_EQ(std::string(b.title), "song.mp3");
    EXPECT_EQ(b.path[0], '\0');
    EXPECT_TRUE(b.GuardsIntact());
}

TEST(FileNameText, JapaneseNamesBecomeShiftJisAndWhatItLacksOneQuestionMark) {
    char text[64];
    // Shift-JIS of ループ.ogg (the literal below is compiled as Shift-JIS).
    EXPECT_EQ(ConvertFileNameToText(Utf8(u8"ループ.ogg").c_str(), text, sizeof text), 10);
    EXPECT_STREQ(text, "ループ.ogg");
    // A character outside the code page, and a byte that is not UTF-8: one '?' each.
    EXPECT_EQ(ConvertFileNameToText(std::string("a\xF0\x9F\x8E\xB5" "b\xFF" "c").c_str(), text, sizeof text), 5);
    EXPECT_STREQ(text, "a?b?c");
    // Cut after the last whole character that fits: "曲" needs two bytes, one is left.
    char small[4];
    memset(small, 'X', sizeof small);
    EXPECT_EQ(ConvertFileNameToText(Utf8(u8"a曲").c_str(), small, 3), 1);
    EXPECT_STREQ(small, "a");
    EXPECT_EQ(small[3], 'X');
    EXPECT_EQ(ConvertFileNameToText(Utf8(u8"曲曲").c_str(), small, 4), 2);
    EXPECT_STREQ(small, "曲");
}
