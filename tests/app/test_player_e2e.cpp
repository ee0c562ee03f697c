// The player's real binary end to end, on a virtual display of each depth the
// player meets (24 and 16 bits), with OpenAL Soft recording what it plays:
// the file dialog driven as a user drives it, the screen against reference
// pictures, the arrow keys heard as pitch, Enter's stop and restart, the ways
// out, the one-instance rule and an unloadable file.
//
// The test tone is a sine of 4410 Hz in a 44100 Hz file: at a frequency F the
// recording holds F / 10 Hz, so F comes back from the recording.
//
// RAVLIN_UPDATE_REFERENCES=1 writes the screenshots as the new reference
// pictures (look at them before committing them).
#include <gtest/gtest.h>

#include "player_harness.h"

using namespace harness;

namespace {

const char* TITLE = "Marovel ver0.001a";

// The player's frequency heard in the recording, to the nearest step of 50.
int FrequencyFromPitch(double hz) { return (int)lrint(hz * 10 / 50) * 50; }

class PlayerEndToEnd : public ::testing::TestWithParam<int> {
protected:
    VirtualDisplay display;
    std::string dir, recordingPath, errorLog;
    Recording recording;
    std::vector<std::string> env;

    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdpyinfo", "xdotool", "xclip", "xwininfo", "convert", "compare"}) {
            if (!HaveCommand(tool)) GTEST_SKIP() << tool << " missing";
        }
        ASSERT_TRUE(display.Start(GetParam())) << "no virtual display";
        setenv("DISPLAY", display.name.c_str(), 1);
        char pattern[] = "/tmp/marovel-e2e-XXXXXX";
        dir = mkdtemp(pattern);
        recordingPath = dir + "/recording.wav";
        recording.path = recordingPath;
        errorLog = dir + "/stderr.txt";
        std::ofstream conf(dir + "/alsoft.conf");
        conf << "[general]\ndrivers=wave\nsample-type=int16\nchannels=stereo\nfrequency=44100\n"
             << "[wave]\nfile=" << recordingPath << "\n";
        conf.close();
        mkdir((dir + "/home").c_str(), 0755);
        env = {"DISPLAY=" + display.name, "ALSOFT_CONF=" + dir + "/alsoft.conf", "GSETTINGS_BACKEND=memory",
               "NO_AT_BRIDGE=1", "HOME=" + dir + "/home", "XDG_DATA_HOME=" + dir + "/home",
               "XDG_CONFIG_HOME=" + dir + "/home", "XDG_CACHE_HOME=" + dir + "/home"};
    }
    void TearDown() override {
        if (HasFailure() && !dir.empty()) {
            std::string err = Shell("tail -c 3000 " + Quote(errorLog));
            if (!err.empty()) printf("player's standard error:\n%s\n", err.c_str());
        }
        if (!dir.empty()) Shell("rm -rf " + Quote(dir));
    }

    std::string Shot(const std::string& name) const {
        return dir + "/" + name + "_" + std::to_string(GetParam()) + ".png";
    }
    // The client area compared with the reference picture of the same name and depth.
    void ExpectScreenLike(unsigned long window, const std::string& name) {
        std::string shot = Shot(name);
        ASSERT_TRUE(Screenshot(X11_TOOL, window, shot));
        std::string reference = std::string(PLAYER_REFERENCE_DIR) + "/" + name + "_" + std::to_string(GetParam()) + ".png";
        if (getenv("RAVLIN_UPDATE_REFERENCES") != nullptr) Shell("cp " + Quote(shot) + " " + Quote(reference));
        long differing = DifferingPixels(reference, shot);
        if (differing != 0) {
            std::string kept = "/tmp/marovel-e2e-" + name + "_" + std::to_string(GetParam()) + ".png";
            Shell("cp " + Quote(shot) + " " + Quote(kept));
            ADD_FAILURE() << name << ": " << differing << " pixels differ from " << reference << "; screenshot kept as "
                          << kept;
        }
    }
    // Starts the player and returns its main window (none when it ended first).
    WindowInfo StartPlayer(PlayerProcess* player, const std::string& folder, const std::vector<std::string>& args) {
        if (!player->Start(MAROVEL_PATH, folder, args, env, errorLog)) return WindowInfo{};
        for (double end = NowSeconds() + 20; NowSeconds() < end; SleepSeconds(0.05)) {
            std::vector<WindowInfo> windows = FindWindows(TITLE);
            if (!windows.empty()) return windows[0];
            if (player->WaitForExit(0)) break;
        }
        return WindowInfo{};
    }
    bool StartSecondPlayer(PlayerProcess* player, const std::string& folder, const std::vector<std::string>& args) {
        return player->Start(MAROVEL_PATH, folder, args, env, errorLog);
    }
    // How the player stands, for a failure message: its exit code, or where a
    // running player waits (its main thread's stack, when gdb is there).
    std::string Ended(PlayerProcess* player) {
        if (player->WaitForExit(0)) return "the player ended with " + std::to_string(player->exitCode);
        std::string stack;
        if (HaveCommand("gdb")) {
            stack = Shell("gdb -p " + std::to_string(player->pid) +
                          " -batch -ex 'bt 20' 2>/dev/null | grep '^#'");
        }
        return "the player runs\n" + stack;
    }
    // Presses the close button of a window.
    void Close(unsigned long window) {
        char id[32];
        snprintf(id, sizeof id, "0x%lx", window);
        Shell(std::string(X11_TOOL) + " close " + id);
    }
    // The dialog of a player started without a file. The library holds the
    // program while its window is inactive, and a bare X server has no window
    // manager to give a new window the focus: when the window has not taken it
    // itself within a second, the test gives it, as a window manager would.
    WindowInfo WaitForDialog(const WindowInfo& main) {
        for (double end = NowSeconds() + 1; NowSeconds() < end; SleepSeconds(0.05)) {
            if (!FindWindows("開け").empty()) break;
        }
        if (FindWindows("開け").empty() && FocusedWindow() != main.id) {
            printf("the main window did not take the focus at start; given to it\n");
            Shell("xdotool windowfocus --sync " + std::to_string(main.id));
        }
        return WaitForWindow("開け", 20);
    }
    int HeardFrequency(double seconds) { return FrequencyFromPitch(MeasureFrequency(recording.Last(seconds), 44100)); }
    bool AnyAppLog() const { return !Shell("find " + Quote(dir) + " -name AppLog.txt").empty(); }
};

// A 4410 Hz tone, 2 seconds.
void WriteTone(const std::string& path) {
    std::vector<int16_t> samples;
    AppendTone(&samples, 10, 8820);
    WriteWave(path, samples);
}

TEST_P(PlayerEndToEnd, DialogOpensAJapaneseNamedFileAndTheArrowKeysSetThePitch) {
    std::string folder = dir + "/音楽フォルダ";
    std::string file = folder + "/テスト音.wav";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    WriteTone(file);
    std::ofstream(dir + "/clip.txt") << file;

    PlayerProcess player;
    WindowInfo main = StartPlayer(&player, dir, {});
    ASSERT_NE(main.id, 0u) << Ended(&player);
    WindowInfo dialog = WaitForDialog(main);
    ASSERT_NE(dialog.id, 0u) << "no dialog; " << Ended(&player);
    // The path goes in through the clipboard: typing Japanese with xdotool is unreliable.
    Shell("xclip -selection clipboard -i " + Quote(dir + "/clip.txt") + " >/dev/null 2>&1");
    Shell("xdotool windowfocus --sync " + std::to_string(dialog.id));
    SleepSeconds(0.3);
    Shell("xdotool key ctrl+l");
    SleepSeconds(0.3);
    Shell("xdotool key ctrl+a ctrl+v");
    SleepSeconds(0.3);
    Shell("xdotool key Return");
    ASSERT_TRUE(WaitForNoWindow("開け", 10)) << "the dialog stayed";

    // The main window has the focus back without help, and plays at 44100 Hz.
    double end = NowSeconds() + 5;
    while (FocusedWindow() != main.id && NowSeconds() < end) SleepSeconds(0.05);
    EXPECT_EQ(FocusedWindow(), main.id);
    SleepSeconds(0.8);
    std::vector<WindowInfo> settled = FindWindows(TITLE);
    ASSERT_EQ(settled.size(), 1u);
    EXPECT_EQ(settled[0].width, 350);
    EXPECT_EQ(settled[0].height, 120);
    ExpectScreenLike(main.id, "playing");
    EXPECT_EQ(HeardFrequency(0.3), 44100);

    // Down and Left together reach the floor of 100 Hz and stay there.
    Shell("xdotool keydown Down keydown Left");
    SleepSeconds(9);
    Shell("xdotool keyup Down keyup Left");
    SleepSeconds(0.3);
    HoldKey("Left", 0.3);
    HoldKey("Down", 0.3);
    SleepSeconds(1.6);
    ExpectScreenLike(main.id, "floor");
    EXPECT_EQ(HeardFrequency(1.5), 100);

    // Right adds 50 a frame, Up 100 a frame.
    HoldKey("Right", 0.3);
    SleepSeconds(0.4);
    int afterRight = HeardFrequency(0.3);
    EXPECT_GT(afterRight, 100);
    EXPECT_LE(afterRight, 100 + 50 * 60);  // no more than one step per 5 ms
    HoldKey("Up", 0.3);
    SleepSeconds(0.4);
    int afterUp = HeardFrequency(0.3);
    EXPECT_GT(afterUp, afterRight);
    EXPECT_EQ((afterUp - afterRight) % 100, 0) << afterRight << " then " << afterUp;

    HoldKey("Escape", 0.2);
    ASSERT_TRUE(player.WaitForExit(10));
    EXPECT_EQ(player.exitCode, 0);
    EXPECT_FALSE(AnyAppLog());
}

TEST_P(PlayerEndToEnd, EnterStopsAndRestartsFromTheStartAndCloseEndsTheWaitAtOnce) {
    // One second of 4410 Hz, then two of 2205 Hz: a restart is heard as the higher tone.
    std::vector<int16_t> samples;
    AppendTone(&samples, 10, 4410);
    AppendTone(&samples, 20, 4410);
    WriteWave(dir + "/two tones.wav", samples);

    PlayerProcess player;
    WindowInfo main = StartPlayer(&player, dir, {"two tones.wav"});
    ASSERT_NE(main.id, 0u) << Ended(&player);
    EXPECT_TRUE(FindWindows("開け").empty()) << "a file on the command line needs no dialog";
    Shell("xdotool windowfocus --sync " + std::to_string(main.id));
    // Played at 44100 Hz, the second tone comes one second after the start.
    double secondTone = 0;
    for (double end = NowSeconds() + 5; NowSeconds() < end && std::fabs(secondTone - 2205) > 5; SleepSeconds(0.05)) {
        secondTone = MeasureFrequency(recording.Last(0.3), 44100);
    }
    EXPECT_NEAR(secondTone, 2205, 5);
    SleepSeconds(0.3);

    HoldKey("Return", 0.15);
    SleepSeconds(0.8);
    EXPECT_LT(Peak(recording.Last(0.5)), 0.01) << "Enter did not stop the sound";
    SleepSeconds(0.5);
    HoldKey("Return", 0.15);
    SleepSeconds(0.6);
    EXPECT_LT(Peak(recording.Last(0.4)), 0.01) << "the restart came before its second";
    SleepSeconds(0.8);
    EXPECT_NEAR(MeasureFrequency(recording.Last(0.3), 44100), 4410, 5) << "the restart is not from the start";

    // The close button during the second after Enter ends the program well before the second is over.
    // The time is taken once the close request is on its way, and the key is
    // let go only after the end, so that no tool's start-up is counted.
    Shell("xdotool keydown Return");
    SleepSeconds(0.15);
    Close(main.id);
    double closed = NowSeconds();
    ASSERT_TRUE(player.WaitForExit(10));
    double took = NowSeconds() - closed;
    Shell("xdotool keyup Return");
    EXPECT_LT(took, 0.6);
    EXPECT_EQ(player.exitCode, 0);
    EXPECT_FALSE(AnyAppLog());
}

TEST_P(PlayerEndToEnd, SecondInstanceAndCancelledDialogEndWithZero) {
    WriteTone(dir + "/tone.wav");
    PlayerProcess first;
    WindowInfo main = StartPlayer(&first, dir, {"tone.wav"});
    ASSERT_NE(main.id, 0u) << Ended(&first);

    PlayerProcess second;
    ASSERT_TRUE(StartSecondPlayer(&second, dir, {"tone.wav"}));
    ASSERT_TRUE(second.WaitForExit(20));
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(FindWindows(TITLE).size(), 1u);
    Shell("xdotool windowfocus --sync " + std::to_string(main.id));
    HoldKey("Escape", 0.2);
    ASSERT_TRUE(first.WaitForExit(10));
    EXPECT_EQ(first.exitCode, 0);

    PlayerProcess cancelled;
    WindowInfo cancelledMain = StartPlayer(&cancelled, dir, {});
    ASSERT_NE(cancelledMain.id, 0u) << Ended(&cancelled);
    WindowInfo dialog = WaitForDialog(cancelledMain);
    ASSERT_NE(dialog.id, 0u) << Ended(&cancelled);
    // Escape until the dialog is gone: a dialog still filling its list can miss the first.
    for (int i = 0; i < 5 && !FindWindows("開け").empty(); i++) {
        Shell("xdotool windowfocus --sync " + std::to_string(dialog.id));
        SleepSeconds(0.3);
        Shell("xdotool key Escape");
        WaitForNoWindow("開け", 2);
    }
    ASSERT_TRUE(FindWindows("開け").empty());
    ASSERT_TRUE(cancelled.WaitForExit(10));
    EXPECT_EQ(cancelled.exitCode, 0);
    EXPECT_TRUE(FindWindows(TITLE).empty());
    EXPECT_FALSE(AnyAppLog());
}

TEST_P(PlayerEndToEnd, LoadingNoticeThenAnUnloadableFileStillRuns) {
    // A pipe holds the load until the test writes to it, so the notice can be seen.
    std::string pipe = dir + "/読めない.wav";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    PlayerProcess player;
    WindowInfo main = StartPlayer(&player, dir, {pipe});
    ASSERT_NE(main.id, 0u) << Ended(&player);
    SleepSeconds(0.5);
    ExpectScreenLike(main.id, "loading");

    int writer = open(pipe.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    const char junk[] = "no sound in here";
    EXPECT_EQ(write(writer, junk, sizeof junk), (ssize_t)sizeof junk);
    close(writer);
    SleepSeconds(0.5);
    ExpectScreenLike(main.id, "unloadable");

    // Enter takes the stop branch and its wait; the window runs on.
    Shell("xdotool windowfocus --sync " + std::to_string(main.id));
    HoldKey("Return", 0.15);
    SleepSeconds(1.3);
    EXPECT_FALSE(player.WaitForExit(0));
    EXPECT_LT(Peak(recording.Last(0.5)), 0.01);
    Close(main.id);
    ASSERT_TRUE(player.WaitForExit(10));
    EXPECT_EQ(player.exitCode, 0);
    EXPECT_FALSE(AnyAppLog());
}

INSTANTIATE_TEST_SUITE_P(Depths, PlayerEndToEnd, ::testing::Values(24, 16),
                         [](const ::testing::TestParamInfo<int>& info) { return "Depth" + std::to_string(info.param); });

}  // namespace
