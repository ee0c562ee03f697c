// The library on the real window system (needs a display, e.g. Xvfb): window
// geometry and title, the one-instance rule, keys through the keyboard state,
// and the demonstration program's ends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/core.h"
#include "library/library.h"
#include "input/input.h"
#include "screen/screen.h"
#include "../tools/real_library_test.h"

namespace {

int XwininfoField(const std::string& id, const std::string& field) {
    std::string line = Shell("xwininfo -id " + id + " | grep '" + field + "'");
    size_t colon = line.rfind(':');
    return colon == std::string::npos ? -99999 : atoi(line.c_str() + colon + 1);
}

class RealWindowTest : public RealLibraryTest {
protected:
    void SetUp() override {
        if (!getenv("DISPLAY")) GTEST_SKIP() << "no display";
        EnterWorkDir("/tmp/ravlin-real");
    }
    // Pumps until the pad bits equal want or two seconds pass; returns the last bits.
    int PadBitsSettleTo(int source, int want) {
        int bits = 0;
        for (int i = 0; i < 200; i++) {
            ProcessWindowMessages();
            bits = GetPadInput(source);
            if (bits == want) break;
            usleep(10 * 1000);
        }
        return bits;
    }
    void StartPlayerLikeLibrary(const char* title) {
        SetScreenMode(350, 120, 16, -1);
        SetWindowTitleText(title);
        ChangeWindowMode(1);
        ASSERT_EQ(InitLibrary(), 0);
    }
};

}  // namespace

TEST_F(RealWindowTest, ClientAreaTitleAndCentring) {
    StartPlayerLikeLibrary("Marovel ver0.001a");
    std::string id = FindWindow("Marovel ver0.001a");
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(XwininfoField(id, "Width:"), 350);
    EXPECT_EQ(XwininfoField(id, "Height:"), 120);
    // Without a window manager there is no frame: the client is centred on the
    // 1024 x 768 desktop less the 3-pixel margin.
    EXPECT_EQ(XwininfoField(id, "Absolute upper-left X:"), (1024 - 350) / 2 - 3);
    EXPECT_EQ(XwininfoField(id, "Absolute upper-left Y:"), (768 - 120) / 2 - 3);
    const MainWindowState* w = GetMainWindowState();
    EXPECT_EQ(w->clientRight - w->clientLeft, 350);
    EXPECT_EQ(w->clientBottom - w->clientTop, 120);
    EXPECT_EQ(w->desktopColorBits, 32);

    // A Japanese title reaches the window system as UTF-8.
    SetWindowTitleText("再生速度テスト");
    ProcessWindowMessages();
    EXPECT_EQ(Shell("xdotool getwindowname " + id), std::string((const char*)u8"再生速度テスト"));
}

// One instance of a program on a display: this test program's own window does
// not stand in the demonstration program's way, but a second demonstration
// program on the same display ends at once with 0, says why, and opens nothing.
TEST_F(RealWindowTest, SecondInstanceOfAProgramEndsWithZeroAndNoWindow) {
    StartPlayerLikeLibrary("Marovel ver0.001a");
    std::string first = dir + "/first", second = dir + "/second";
    ASSERT_EQ(mkdir(first.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(second.c_str(), 0700), 0);
    pid_t demo = fork();
    ASSERT_GE(demo, 0);
    if (demo == 0) {
        if (chdir(first.c_str()) != 0) _exit(126);
        (void)!freopen("/dev/null", "w", stderr);
        execl(RAVLIN_DEMO_PATH, RAVLIN_DEMO_PATH, (char*)nullptr);
        _exit(127);
    }
    std::string count;
    // No pumping here: the demonstration program takes the focus, and an
    // inactive window holds the pump until it is active again.
    for (int i = 0; i < 100 && count != "2"; i++) {
        count = Shell("xdotool search --name '^Marovel ver0.001a$' | wc -l");
        usleep(50 * 1000);
    }
    EXPECT_EQ(count, "2") << "another program of the library was refused";

    std::string errors = second + "/stderr.txt";
    int status = system(("cd '" + second + "' && " RAVLIN_DEMO_PATH " >/dev/null 2>'" + errors + "'").c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Shell("xdotool search --name '^Marovel ver0.001a$' | wc -l"), "2");
    std::ifstream log(second + "/AppLog.txt", std::ios::binary);
    std::stringstream s;
    s << log.rdbuf();
    EXPECT_NE(s.str().find("２重起動されています、ソフトを終了します\r\n"), std::string::npos);
    EXPECT_NE(Shell("cat '" + errors + "'").find("Marovel ver0.001a is already running on this display"),
              std::string::npos);
    kill(demo, SIGKILL);
    waitpid(demo, nullptr, 0);
}

TEST_F(RealWindowTest, KeysReachTheKeyboardStateAndPadBits) {
    StartPlayerLikeLibrary("Marovel keys");
    std::string id = FindWindow("Marovel keys");
    ASSERT_FALSE(id.empty());
    Shell("xdotool windowfocus --sync " + id);

    Shell("xdotool keydown Right");
    EXPECT_EQ(PadBitsSettleTo(INPUT_KEY_PAD1, PAD_RIGHT), PAD_RIGHT);
    Shell("xdotool keydown Left");
    EXPECT_EQ(PadBitsSettleTo(INPUT_KEY_PAD1, PAD_LEFT | PAD_RIGHT), 0x6);
    Shell("xdotool keyup Right keyup Left");
    EXPECT_EQ(PadBitsSettleTo(INPUT_KEY_PAD1, 0), 0);

    Shell("xdotool keydown KP_6");
    EXPECT_EQ(PadBitsSettleTo(INPUT_KEY_PAD1, PAD_RIGHT), PAD_RIGHT);
    Shell("xdotool keyup KP_6");
    EXPECT_EQ(PadBitsSettleTo(INPUT_KEY_PAD1, 0), 0);

    Shell("xdotool keydown Escape");
    EXPECT_EQ(PadBitsSettleTo(0x1000, PAD_BUTTON9), PAD_BUTTON9);
    EXPECT_EQ(IsKeyDown(DIK_ESCAPE), 1);
    EXPECT_EQ(GetPadInput(9), 0);
    EXPECT_EQ(GetPadInput(0x1009), 0);
    Shell("xdotool keyup Escape");
    EXPECT_EQ(PadBitsSettleTo(0x1000, 0), 0);
    EXPECT_EQ(IsKeyDown(DIK_ESCAPE), 0);

    Shell("xdotool keydown Return");
    for (int i = 0; i < 200 && !IsKeyDown(DIK_RETURN); i++) {
        ProcessWindowMessages();
        usleep(10 * 1000);
    }
    EXPECT_EQ(IsKeyDown(DIK_RETURN), 1);
    Shell("xdotool keyup Return");
}

namespace {

// Starts the demonstration program in dir, waits for its window, runs action
// on the window id and returns the program's exit code (-2 if it did not end).
int RunDemo(const std::string& dir, const std::string& action) {
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(99);
        execl(RAVLIN_DEMO_PATH, RAVLIN_DEMO_PATH, (char*)nullptr);
        _exit(98);
    }
    std::string id = FindWindow("Marovel ver0.001a");
    if (!id.empty()) {
        usleep(300 * 1000);
        Shell(action + " " + id);
    }
    for (int i = 0; i < 100; i++) {
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? (int8_t)WEXITSTATUS(status) : -3;
        usleep(100 * 1000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -2;
}

}  // namespace

TEST_F(RealWindowTest, DemonstrationEndsWithZeroOnEscapeAndOnClose) {
    EXPECT_EQ(RunDemo(dir, "sh -c 'xdotool windowfocus --sync $0 && xdotool keydown Escape && sleep 0.5 && xdotool keyup Escape'"), 0);
    std::string log = ReadLog();
    EXPECT_NE(log.find("ウインドウを閉じようとしています\r\n"), std::string::npos);
    EXPECT_NE(log.find("ＣＯＭを終了... 完了\r\n"), std::string::npos);
    EXPECT_EQ(RunDemo(dir, CLOSE_BUTTON_COMMAND), 0);
    EXPECT_NE(ReadLog().find("ウインドウを閉じようとしています\r\n"), std::string::npos);
}
