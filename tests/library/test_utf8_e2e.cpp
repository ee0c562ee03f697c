// A UTF-8 program end to end, on a virtual display of its own: the window's
// title, the dialog's title in both of its X properties, a file with a UTF-8
// name chosen in the dialog as a user chooses it, loaded by the bare name the
// dialog gave, and a log written in UTF-8 throughout.
#include <gtest/gtest.h>

#include "../app/player_harness.h"

using namespace harness;

namespace {

const std::string TITLE = "UTF-8 \xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88 \xC3\xA9\xE2\x82\xAC";          // UTF-8 テスト é€
const std::string DIALOG = "\xE9\x96\x8B\xE3\x81\x8F \xE2\x80\x93 \xC3\xA9\xE2\x82\xAC";            // 開く – é€
const std::string FOLDER = "\xE9\x9F\xB3\xE6\xA5\xBD \xC3\xA9";                                     // 音楽 é
const std::string FILE_NAME = "\xE3\x83\xAB\xE3\x83\xBC\xE3\x83\x97 \xE2\x82\xAC.wav";             // ループ €.wav

// A property of a window as xprop prints it: NAME(TYPE) = "value".
std::string Property(unsigned long window, const std::string& name) {
    return Shell("xprop -id " + std::to_string(window) + " " + name + " 2>/dev/null");
}

// True when every byte belongs to a well-formed UTF-8 character (iconv's judgement).
bool IsUtf8(const std::string& path) {
    return Shell("iconv -f UTF-8 -t UTF-8 " + Quote(path) + " >/dev/null 2>&1 && echo yes") == "yes";
}

}  // namespace

TEST(Utf8Program, DialogTitleFileNameAndLog) {
    for (const char* tool : {"Xvfb", "xdpyinfo", "xdotool", "xclip", "xwininfo", "xprop", "iconv"}) {
        if (!HaveCommand(tool)) GTEST_SKIP() << tool << " missing";
    }
    VirtualDisplay display;
    ASSERT_TRUE(display.Start(24)) << "no virtual display";
    setenv("DISPLAY", display.name.c_str(), 1);
    char pattern[] = "/tmp/ravlin-utf8-XXXXXX";
    std::string dir = mkdtemp(pattern);
    std::string errorLog = dir + "/stderr.txt";
    std::vector<std::string> env = MakePlayerEnvironment(dir, display.name, dir + "/recording.wav");
    // The program unwinds its allocations the fast way, which stops in
    // fontconfig: it is left out as a whole, as the tree's own programs leave it.
    Shell("{ cat " + Quote(LSAN_SUPPRESSIONS) + "; echo leak:libfontconfig.so; } > " + Quote(dir + "/lsan.supp"));
    env.push_back("LSAN_OPTIONS=suppressions=" + dir + "/lsan.supp:print_suppressions=0");
    std::string folder = dir + "/" + FOLDER;
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::vector<int16_t> samples;
    AppendTone(&samples, 100, 441);
    WriteWave(folder + "/" + FILE_NAME, samples);
    std::ofstream(dir + "/clip.txt") << folder + "/" + FILE_NAME;

    PlayerProcess program;
    ASSERT_TRUE(program.Start(UTF8_PROGRAM, dir, {}, env, errorLog));
    WindowInfo main = WaitForWindow(TITLE, 20);
    ASSERT_NE(main.id, 0u) << Shell("tail -c 2000 " + Quote(errorLog));
    EXPECT_EQ(Property(main.id, "_NET_WM_NAME"), "_NET_WM_NAME(UTF8_STRING) = \"" + TITLE + "\"");

    // A bare server has no window manager to give the new window the focus.
    for (double end = NowSeconds() + 1; NowSeconds() < end && FindWindows(DIALOG).empty(); SleepSeconds(0.05)) {
    }
    if (FindWindows(DIALOG).empty()) Shell("xdotool windowfocus --sync " + std::to_string(main.id));
    WindowInfo dialog = WaitForWindow(DIALOG, 20);
    ASSERT_NE(dialog.id, 0u) << "no dialog";
    for (double end = NowSeconds() + 10; !IsViewable(dialog.id) && NowSeconds() < end;) SleepSeconds(0.05);
    EXPECT_EQ(Property(dialog.id, "_NET_WM_NAME"), "_NET_WM_NAME(UTF8_STRING) = \"" + DIALOG + "\"");

    ChooseInDialog(dialog.id, dir + "/clip.txt");
    ASSERT_TRUE(WaitForNoWindow(DIALOG, 10)) << "the dialog stayed";

    std::string said;
    for (double end = NowSeconds() + 10; NowSeconds() < end; SleepSeconds(0.05)) {
        said = Shell("grep -a -E '^(chosen|loaded) ' " + Quote(errorLog));
        if (said.find("loaded") != std::string::npos) break;
    }
    EXPECT_EQ(said, "chosen 1 [" + FILE_NAME + "]\nloaded 1 0");

    Shell(std::string(X11_TOOL) + " close " + std::to_string(main.id));
    ASSERT_TRUE(program.WaitForExit(10)) << "the program did not end";
    EXPECT_EQ(program.exitCode, 0);
    std::string log = dir + "/AppLog.txt";
    EXPECT_TRUE(IsUtf8(log));
    std::string text = Shell("cat " + Quote(log));
    EXPECT_EQ(text.rfind("\xE3\x82\xB7\xE3\x82\xB9\xE3\x83\x86\xE3\x83\xA0", 0), 0u) << text.substr(0, 60);  // システム
    EXPECT_NE(text.find("\xE8\xAA\xAD\xE3\x81\xBF\xE8\xBE\xBC\xE3\x81\xBF: " + FILE_NAME + "\r\n"), std::string::npos);  // 読み込み:
    std::string errors = Shell("grep -a -E 'Sanitizer|runtime error' " + Quote(errorLog));
    EXPECT_EQ(errors, "");
    if (HasFailure()) printf("standard error:\n%s\n", Shell("tail -c 3000 " + Quote(errorLog)).c_str());
    Shell("rm -rf " + Quote(dir));
}
