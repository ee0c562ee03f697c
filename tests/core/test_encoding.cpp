// The encoding of a program's strings: the choice itself, and with UTF-8 the
// log, the window title, the dialog and names for showing, on the fake platform.
#include <cstring>
#include <fstream>
#include <string>

#include "core/core.h"
#include "core_test_support.h"
#include "platform/fake/fake_sound.h"
#include "platform/utf8.h"

// This file calls the program's WriteLog and WriteLogFormat (ravlin.h), not
// the library's Shift-JIS ones that core.h names so.
#undef WriteLog
#undef WriteLogFormat

namespace {

std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// UTF-8 of characters Shift-JIS lacks, which this file's Shift-JIS build
// cannot write as literals.
const std::string E_ACUTE = "\xC3\xA9";      // é
const std::string EURO = "\xE2\x82\xAC";      // €
const std::string KANJI = "\xE4\xB8\x82";     // 丂, outside JIS X 0208
const std::string DASH = "\xE2\x80\x93";      // –
const std::string REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; i++) out += s;
    return out;
}

// True when every byte belongs to a well-formed UTF-8 character.
bool IsWellFormedUtf8(const std::string& s) {
    const char* p = s.c_str();
    for (uint32_t code; *p != '\0';) {
        int n = ReadUtf8Char(p, &code);
        // A U+FFFD read from anything but its own three bytes was malformed.
        if (code == UTF8_REPLACEMENT && !(n == 3 && memcmp(p, "\xEF\xBF\xBD", 3) == 0)) return false;
        p += n;
    }
    return true;
}

class EncodingTest : public FakePlatformTest {
protected:
    void TearDown() override {
        FakePlatformTest::TearDown();
        SetStringEncoding(STRING_SHIFT_JIS);
    }
};

}  // namespace

TEST_F(EncodingTest, ChosenBeforeStartUpOnly) {
    EXPECT_EQ(GetStringEncoding(), STRING_SHIFT_JIS);
    EXPECT_EQ(SetStringEncoding(2), -1);
    EXPECT_EQ(GetStringEncoding(), STRING_SHIFT_JIS);
    EXPECT_EQ(SetStringEncoding(STRING_UTF8), 0);
    EXPECT_EQ(GetStringEncoding(), STRING_UTF8);
    ASSERT_EQ(InitLibrary(), 0);
    // Fonts, caches and the log were made for UTF-8: it stays.
    EXPECT_EQ(SetStringEncoding(STRING_SHIFT_JIS), -1);
    EXPECT_EQ(GetStringEncoding(), STRING_UTF8);
    EndLibrary();
    EXPECT_EQ(SetStringEncoding(STRING_SHIFT_JIS), 0);
}

TEST_F(EncodingTest, Utf8LogIsUtf8ThroughoutAndCutOnWholeCharacters) {
    ASSERT_EQ(SetStringEncoding(STRING_UTF8), 0);
    ASSERT_EQ(InitLibrary(), 0);
    FAKE.debugOutput.clear();
    EXPECT_EQ(WriteLog((Utf8(u8"曲: Caf") + E_ACUTE + ", 3 " + EURO + ", " + KANJI + "\n").c_str()), -1);
    EXPECT_EQ(WriteLogFormat(Utf8(u8"%s=%d").c_str(), Utf8(u8"値").c_str(), 3), -1);
    // 400 euro signs are 1200 bytes: the line keeps the 340 whole ones that fit.
    std::string euros = Repeat(EURO, 400);
    EXPECT_EQ(WriteLogFormat("%s", euros.c_str()), -1);

    std::string log = ReadLog();
    // The library's own lines, Shift-JIS in its code, arrive in UTF-8.
    EXPECT_EQ(log.rfind(Utf8(u8"システムの情報を出力します\r\n"), 0), 0u) << log.substr(0, 80);
    EXPECT_NE(log.find(Utf8(u8"DirectInput関係初期化処理\r\n")), std::string::npos);
    EXPECT_NE(log.find((Utf8(u8"曲: Caf") + E_ACUTE + ", 3 " + EURO + ", " + KANJI + Utf8(u8"\r\n値=3\r\n"))), std::string::npos);
    EXPECT_NE(log.find("\n" + Repeat(EURO, 340) + "\r\n"), std::string::npos);
    EXPECT_EQ(log.find(Repeat(EURO, 341)), std::string::npos);
    EXPECT_TRUE(IsWellFormedUtf8(log));
    // The mirror on standard error gets the same UTF-8 (the platform passes it on as it is).
    EXPECT_EQ(FAKE.debugOutput.rfind((Utf8(u8"曲: Caf") + E_ACUTE + ", 3 " + EURO + ", " + KANJI + Utf8(u8"\n値=3\n")), 0), 0u);

    // In Shift-JIS the program's texts are Shift-JIS like the library's.
    EndLibrary();
    ASSERT_EQ(SetStringEncoding(STRING_SHIFT_JIS), 0);
    ASSERT_EQ(InitLibrary(), 0);
    WriteLog("曲\n");
    log = ReadLog();
    EXPECT_EQ(log.rfind("システムの情報を出力します\r\n", 0), 0u);
    EXPECT_EQ(log.substr(log.size() - 4), "\x8B\xC8\r\n");  // 曲 in Shift-JIS
}

TEST_F(EncodingTest, TitleIsCutAfterItsLastWholeCharacter) {
    // 150 two-byte characters: the title's 255 bytes hold 127 of them, in
    // either encoding, never half of the 128th.
    ASSERT_EQ(SetStringEncoding(STRING_UTF8), 0);
    SetWindowTitleText(Repeat(E_ACUTE, 150).c_str());
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(FAKE.title, Repeat(E_ACUTE, 127));
    SetWindowTitleText((Utf8(u8"曲 ") + DASH + " " + E_ACUTE).c_str());
    EXPECT_EQ(FAKE.title, (Utf8(u8"曲 ") + DASH + " " + E_ACUTE));
    EndLibrary();

    ASSERT_EQ(SetStringEncoding(STRING_SHIFT_JIS), 0);
    SetWindowTitleText(Repeat("あ", 150).c_str());
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(FAKE.title, Repeat("あ", 127));
}

TEST_F(EncodingTest, NamesForShowingAndTextsForThePlatform) {
    // A file system name as UTF-8 text: as it is, a byte that is not UTF-8
    // made U+FFFD, cut after the last whole character.
    ASSERT_EQ(SetStringEncoding(STRING_UTF8), 0);
    char text[64];
    std::string name = Utf8(u8"曲") + "\xFF" + Utf8(u8"名.ogg");
    EXPECT_EQ(ConvertFileNameToText(name.c_str(), text, sizeof text), 13);
    EXPECT_EQ(std::string(text), (Utf8(u8"曲") + REPLACEMENT + Utf8(u8"名.ogg")));
    EXPECT_EQ(ConvertFileNameToText(Utf8(u8"曲名").c_str(), text, 6), 3);
    EXPECT_EQ(std::string(text), Utf8(u8"曲"));
    // The platform's texts (title, dialog, font names) come from UTF-8 as they are.
    char utf8[64];
    EXPECT_EQ(ConvertTextToUtf8((Utf8(u8"開く ") + E_ACUTE).c_str(), utf8, sizeof utf8), 9);
    EXPECT_EQ(std::string(utf8), (Utf8(u8"開く ") + E_ACUTE));
    // A truncated character at the end is one U+FFFD, nothing read past the terminator.
    std::string cut = "a\xE3\x81";
    EXPECT_EQ(ConvertTextToUtf8(cut.c_str(), utf8, sizeof utf8), 4);
    EXPECT_EQ(std::string(utf8), ("a" + REPLACEMENT));

    // In Shift-JIS both convert from the code page.
    ASSERT_EQ(SetStringEncoding(STRING_SHIFT_JIS), 0);
    EXPECT_EQ(ConvertFileNameToText((Utf8(u8"曲") + E_ACUTE).c_str(), text, sizeof text), 3);
    EXPECT_EQ(std::string(text), "曲?");
    ConvertTextToUtf8("開く", utf8, sizeof utf8);
    EXPECT_EQ(std::string(utf8), Utf8(u8"開く"));
}

TEST_F(EncodingTest, DialogNamesAFileThatLoadsByThatName) {
    ASSERT_EQ(SetStringEncoding(STRING_UTF8), 0);
    FAKE_SOUND.createDeviceFails = 0;
    ASSERT_EQ(InitLibrary(), 0);
    // A short PCM WAVE whose name is not ASCII.
    std::string folder = dir + (Utf8(u8"/音楽 ") + E_ACUTE);
    ASSERT_EQ(system(("mkdir -p '" + folder + "'").c_str()), 0);
    std::string file = folder + (Utf8(u8"/ループ ") + EURO + ".wav");
    {
        std::ofstream out(file, std::ios::binary);
        const unsigned char header[44] = {'R', 'I', 'F', 'F', 36 + 8, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                          16, 0, 0, 0, 1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x88, 0x58, 1, 0, 2, 0, 16, 0,
                                          'd', 'a', 't', 'a', 8, 0, 0, 0};
        out.write((const char*)header, sizeof header);
        out.write("\x01\x00\x02\x00\x03\x00\x04\x00", 8);
    }
    FAKE.dialogResult = 1;
    FAKE.dialogPath = file;
    char path[SELECT_FILE_BUFFER_SIZE], title[SELECT_FILE_BUFFER_SIZE];
    std::string dialogTitle = (Utf8(u8"開く ") + DASH + " " + E_ACUTE);
    std::string filter = Utf8(u8"音楽 (*.wav)") + std::string(1, '\0') + "*.wav" + std::string(2, '\0');
    ASSERT_EQ(SelectFile(nullptr, 'g', path, title, dialogTitle.c_str(), filter.c_str()), 1);
    // The dialog was asked in the program's UTF-8, and answers in the file system's.
    EXPECT_EQ(FAKE.dialogTitle, dialogTitle);
    EXPECT_EQ(FAKE.dialogFilter, filter);
    EXPECT_EQ(std::string(title), (Utf8(u8"ループ ") + EURO + ".wav"));
    EXPECT_EQ(std::string(path), file);
    // The fake platform only records the change of folder: the full path opens it.
    int sound = LoadSoundFile(path);
    EXPECT_NE(sound, -1) << "load error " << GetLastSoundLoadError();
}
