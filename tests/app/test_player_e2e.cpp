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

// The formats the player names (AAC and ALAC only when built with FFmpeg).
#ifdef RAVLIN_WITH_FFMPEG
#define FORMAT_NAMES "WAVE, Ogg Vorbis, Opus, FLAC, M4A (AAC, ALAC) or MP3"
#else
#define FORMAT_NAMES "WAVE, Ogg Vorbis, Opus, FLAC or MP3"
#endif

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
        env = MakePlayerEnvironment(dir, display.name, recordingPath);
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
    // Standard error of a player started with StartOtherPlayer: its own file.
    std::string OtherErrors(const std::string& name) const { return dir + "/" + name + "-stderr.txt"; }
    bool StartOtherPlayer(PlayerProcess* player, const std::string& name, const std::string& folder,
                          const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
        std::vector<std::string> all = env;
        all.insert(all.end(), extraEnv.begin(), extraEnv.end());
        return player->Start(MAROVEL_PATH, folder, args, all, OtherErrors(name));
    }
    std::string Errors(const std::string& path) const { return ShellOutput("cat " + Quote(path) + " 2>/dev/null"); }
    // Waits up to five seconds for the file to hold something; its contents.
    std::string WaitForErrors(const std::string& path) {
        for (double end = NowSeconds() + 5; NowSeconds() < end; SleepSeconds(0.05)) {
            if (!Errors(path).empty()) break;
        }
        SleepSeconds(0.2);  // the rest of the line
        return Errors(path);
    }
    // The window's empty row between the name and the help lines (y = 40), as a picture.
    std::string NoticeRow(unsigned long window, const std::string& name) {
        std::string shot = Shot(name + "_full");
        std::string row = Shot(name);
        if (!Screenshot(X11_TOOL, window, shot)) return "";
        Shell("convert " + Quote(shot) + " -crop 350x20+0+40 +repage " + Quote("png24:" + row));
        return row;
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
        // The dialog is named a moment before it is mapped, and focus cannot go
        // to a window the server does not show yet.
        WindowInfo dialog = WaitForWindow("開け", 20);
        for (double end = NowSeconds() + 10; dialog.id != 0 && !IsViewable(dialog.id) && NowSeconds() < end;) {
            SleepSeconds(0.05);
        }
        return dialog;
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
    ChooseInDialog(dialog.id, dir + "/clip.txt");
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

TEST_P(PlayerEndToEnd, SecondStartOnTheDisplaySaysWhyAnotherDisplayRunsItsOwnAndACancelEndsWithZero) {
    WriteTone(dir + "/tone.wav");
    PlayerProcess first;
    WindowInfo main = StartPlayer(&first, dir, {"tone.wav"});
    ASSERT_NE(main.id, 0u) << Ended(&first);

    // A second start on the same display ends with 0, opens nothing, and says why.
    PlayerProcess second;
    ASSERT_TRUE(StartOtherPlayer(&second, "second", dir, {"tone.wav"}));
    ASSERT_TRUE(second.WaitForExit(20));
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(FindWindows(TITLE).size(), 1u);
    EXPECT_EQ(Errors(OtherErrors("second")), "Marovel ver0.001a is already running on this display\n");

    // A player on another display is a player of its own.
    VirtualDisplay other;
    ASSERT_TRUE(other.Start(GetParam())) << "no second virtual display";
    PlayerProcess elsewhere;
    ASSERT_TRUE(StartOtherPlayer(&elsewhere, "elsewhere", dir, {"tone.wav"}, {"DISPLAY=" + other.name}));
    WindowInfo otherMain = WaitForWindow(TITLE, 20, other.name);
    EXPECT_NE(otherMain.id, 0u) << "refused on another display: " << Ended(&elsewhere) << "\n"
                                << Errors(OtherErrors("elsewhere"));
    EXPECT_EQ(FindWindows(TITLE).size(), 1u);
    SleepSeconds(1.5);  // started up and playing: a close during start-up is another matter
    char id[32];
    snprintf(id, sizeof id, "0x%lx", otherMain.id);
    Shell("DISPLAY=" + other.name + " " + X11_TOOL + " close " + id);
    ASSERT_TRUE(elsewhere.WaitForExit(10));
    EXPECT_EQ(elsewhere.exitCode, 0) << Errors(OtherErrors("elsewhere"));

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

// The dialog as a user on a bare 1024 x 768 server without a session bus meets
// it: within the screen, no settings warnings, gone with the main window; and a
// dialog that cannot open is a failure, not a cancel.
TEST_P(PlayerEndToEnd, DialogFitsTheScreenEndsWithTheMainWindowAndAFailedOneEndsWithOne) {
    std::vector<std::string> noBus = {"GSETTINGS_BACKEND", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"};
    PlayerProcess player;
    ASSERT_TRUE(StartOtherPlayer(&player, "dialog", dir, {}, noBus));
    WindowInfo main = WaitForWindow(TITLE, 20);
    ASSERT_NE(main.id, 0u) << Ended(&player);
    WindowInfo dialog = WaitForDialog(main);
    ASSERT_NE(dialog.id, 0u) << Ended(&player);
    SleepSeconds(1);  // settled
    char id[32];
    snprintf(id, sizeof id, "0x%lx", dialog.id);
    std::string geometry = Shell(std::string("xwininfo -id ") + id + " | awk '/Absolute upper-left X:|Absolute upper-left Y:|Width:|Height:/ { printf \"%s \", $NF }'");
    int x = -1, y = -1, width = 0, height = 0;
    ASSERT_EQ(sscanf(geometry.c_str(), "%d %d %d %d", &x, &y, &width, &height), 4) << geometry;
    EXPECT_GE(x, 0);
    EXPECT_GE(y, 0);
    EXPECT_LE(x + width, 1024) << geometry;
    EXPECT_LE(y + height, 768) << geometry;

    // The close button of the main window takes the dialog with it.
    Close(main.id);
    ASSERT_TRUE(player.WaitForExit(10)) << "the dialog held the player";
    EXPECT_EQ(player.exitCode, 0);
    EXPECT_TRUE(FindWindows("開け").empty());
    EXPECT_EQ(Errors(OtherErrors("dialog")), "") << "nothing to say to the user";

    PlayerProcess failed;
    ASSERT_TRUE(StartOtherPlayer(&failed, "failed", dir, {}, {"GDK_BACKEND=wayland"}));
    ASSERT_TRUE(failed.WaitForExit(20));
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_NE(Errors(OtherErrors("failed")).find("marovel: cannot open the file dialog: "), std::string::npos)
        << Errors(OtherErrors("failed"));
}

// Each file that cannot be played is named on standard error with its reason,
// and the window says so in its empty row; a good file (here one whose name
// looks like an option) leaves both quiet.
TEST_P(PlayerEndToEnd, UnplayableFilesAreNamedWithTheirReasonAndAGoodOneIsQuiet) {
    ASSERT_EQ(mkdir((dir + "/フォルダ.wav").c_str(), 0755), 0);
    std::ofstream(dir + "/empty.wav").close();
    std::ofstream(dir + "/text.mp3") << "not music at all\n";
    std::ofstream(dir + "/damaged.wav") << "RIFF\x24\0\0\0WAVEfmt \x10";
    struct Case {
        const char* file;
        const char* reason;
    } cases[] = {
        {"missing.ogg", "no such file"},
        {"フォルダ.wav", "it is a folder, not a file"},
        {"empty.wav", "the file is empty"},
        {"text.mp3", "not a " FORMAT_NAMES " file"},
        {"damaged.wav", "the file is damaged, or its encoding cannot be decoded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        PlayerProcess player;
        ASSERT_TRUE(StartOtherPlayer(&player, c.file, dir, {c.file}));
        WindowInfo main = WaitForWindow(TITLE, 20);
        ASSERT_NE(main.id, 0u) << Ended(&player);
        EXPECT_EQ(WaitForErrors(OtherErrors(c.file)),
                  std::string("marovel: cannot play \"") + c.file + "\": " + c.reason + "\n");
        if (&c == &cases[0]) {
            std::string row = NoticeRow(main.id, "notice");
            std::string reference = std::string(PLAYER_REFERENCE_DIR) + "/notice_" + std::to_string(GetParam()) + ".png";
            if (getenv("RAVLIN_UPDATE_REFERENCES") != nullptr) Shell("cp " + Quote(row) + " " + Quote(reference));
            EXPECT_EQ(DifferingPixels(reference, row), 0) << "the notice row differs from " << reference;
        }
        Close(main.id);
        ASSERT_TRUE(player.WaitForExit(10));
        EXPECT_EQ(player.exitCode, 0);
    }

    WriteTone(dir + "/-tone.wav");
    PlayerProcess good;
    ASSERT_TRUE(StartOtherPlayer(&good, "good", dir, {"--", "-tone.wav"}));
    WindowInfo main = WaitForWindow(TITLE, 20);
    ASSERT_NE(main.id, 0u) << Ended(&good);
    for (double end = NowSeconds() + 5; NowSeconds() < end && Peak(recording.Last(0.3)) < 0.1; SleepSeconds(0.05)) {
    }
    EXPECT_GT(Peak(recording.Last(0.3)), 0.1) << "the file named after -- is not heard";
    SleepSeconds(0.3);
    std::string row = NoticeRow(main.id, "quiet");
    EXPECT_EQ(Shell("convert " + Quote(row) + " -format '%[fx:maxima]' info:"), "0") << "the notice row is not empty";
    EXPECT_EQ(Errors(OtherErrors("good")), "");
    Close(main.id);
    ASSERT_TRUE(good.WaitForExit(10));
    EXPECT_EQ(good.exitCode, 0);
}

// Closing the window while a long MP3 is converted ends the player without a
// word: the load it cut short is not a damaged file. The window shows before
// the load begins, and the close is sent as soon as it does, so it lands
// before five minutes of sound are decoded.
TEST_P(PlayerEndToEnd, AWindowClosedWhileAFileConvertsEndsQuietly) {
    if (!HaveCommand("lame") || !HaveCommand("sox")) GTEST_SKIP() << "lame or sox missing";
    std::string mp3 = dir + "/long.mp3";
    ASSERT_EQ(Shell("sox -n -b 16 -c 1 -r 22050 -t wav - synth 300 sine 440 2>/dev/null | lame --quiet -b 32 - " +
                    Quote(mp3) + " && echo made"),
              "made");
    PlayerProcess player;
    WindowInfo main = StartPlayer(&player, dir, {mp3});
    ASSERT_NE(main.id, 0u) << Ended(&player);
    Close(main.id);
    ASSERT_TRUE(player.WaitForExit(20)) << Ended(&player);
    EXPECT_EQ(player.exitCode, 0);
    EXPECT_EQ(Errors(errorLog), "");
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

// The command line, without a display: help and version on standard output
// with 0, an unknown option or a second file the usage on standard error with 2.
TEST(PlayerCommandLine, HelpVersionAndMistakes) {
    auto run = [](const std::string& args, const std::string& streams) {
        return ShellOutput("env -u DISPLAY -u WAYLAND_DISPLAY " MAROVEL_PATH " " + args + " " + streams +
                           "; echo \"exit=$?\"");
    };
    for (const char* help : {"--help", "-h"}) {
        std::string out = run(help, "2>/dev/null");
        EXPECT_EQ(out.find("Usage: marovel [OPTION]... [FILE]\n"), 0u) << out;
        for (const char* key : {"Right, Left", "Up, Down", "Enter", "Escape", "--version", "--  ", FORMAT_NAMES}) {
            EXPECT_NE(out.find(key), std::string::npos) << help << " does not mention " << key;
        }
        EXPECT_NE(out.find("\nexit=0\n"), std::string::npos) << out;
    }
    std::string version = run("--version", "2>/dev/null");
    EXPECT_EQ(version.find("Marovel ver0.001a (Ravlin Ver"), 0u) << version;
    EXPECT_NE(version.find("\nexit=0\n"), std::string::npos) << version;

    for (const char* wrong : {"--bogus", "-x", "one.ogg two.ogg"}) {
        std::string err = run(wrong, "2>&1 >/dev/null");
        EXPECT_NE(err.find("Usage: marovel"), std::string::npos) << wrong << ": " << err;
        EXPECT_NE(err.find("\nexit=2\n"), std::string::npos) << wrong << ": " << err;
    }
    EXPECT_NE(run("--bogus", "2>&1 >/dev/null").find("marovel: unknown option \"--bogus\"\n"), std::string::npos);
}

// Without a display the specified message stands, and the real cause follows it.
TEST(PlayerCommandLine, NoDisplayNamesTheCause) {
    std::string none = ShellOutput("env -u DISPLAY -u WAYLAND_DISPLAY " MAROVEL_PATH " x.ogg 2>&1 >/dev/null; echo \"exit=$?\"");
    EXPECT_NE(none.find("DirectX がインストールされていないのでここで終了します\nmarovel: no display to open: DISPLAY is not set\n"),
              std::string::npos) << none;
    EXPECT_NE(none.find("exit=255"), std::string::npos) << none;
    std::string bad = ShellOutput("env -u WAYLAND_DISPLAY DISPLAY=:-1 " MAROVEL_PATH " x.ogg 2>&1 >/dev/null");
    EXPECT_NE(bad.find("marovel: cannot open the X display \":-1\"\n"), std::string::npos) << bad;
}

// A user who clicks the launcher again and again beside a running player:
// each start ends at once with 0 and its word, and the display answers.
TEST_P(PlayerEndToEnd, SecondStartsWithoutAFileEndAtOnceAndTheDisplayAnswers) {
    WriteTone(dir + "/tone.wav");
    PlayerProcess first;
    WindowInfo main = StartPlayer(&first, dir, {"tone.wav"});
    ASSERT_NE(main.id, 0u) << Ended(&first);
    SleepSeconds(1);
    const int starts = 25;
    for (int i = 0; i < starts; i++) {
        SCOPED_TRACE("start " + std::to_string(i));
        PlayerProcess second;
        ASSERT_TRUE(StartOtherPlayer(&second, "second", dir, {}));
        double started = NowSeconds();
        ASSERT_TRUE(second.WaitForExit(10)) << "it hangs: " << Ended(&second);
        EXPECT_LT(NowSeconds() - started, 1.0);
        EXPECT_EQ(second.exitCode, 0);
        ASSERT_EQ(Shell("timeout 5 xdpyinfo >/dev/null 2>&1 && echo up"), "up") << "the display stopped answering";
    }
    std::string said;
    for (int i = 0; i < starts; i++) said += "Marovel ver0.001a is already running on this display\n";
    EXPECT_EQ(Errors(OtherErrors("second")), said);
    EXPECT_TRUE(FindWindows("開け").empty());
    EXPECT_EQ(FindWindows(TITLE).size(), 1u);
    Shell("xdotool windowfocus --sync " + std::to_string(main.id));
    HoldKey("Escape", 0.2);
    ASSERT_TRUE(first.WaitForExit(10));
    EXPECT_EQ(first.exitCode, 0);
}

// A file handed over while the player asks for one with its dialog ends the
// dialog and plays. With the program in the C locale, the dialog's names
// still read right for every tool.
TEST_P(PlayerEndToEnd, AFileHandedOverWhileTheDialogShowsPlaysAndTheDialogsNamesAreRight) {
    WriteTone(dir + "/tone.wav");
    PlayerProcess player;
    ASSERT_TRUE(StartOtherPlayer(&player, "dialog", dir, {}, {"LC_ALL", "LANG", "LANGUAGE"}));
    WindowInfo main = WaitForWindow(TITLE, 20);
    ASSERT_NE(main.id, 0u) << Ended(&player);
    WindowInfo dialog = WaitForDialog(main);
    ASSERT_NE(dialog.id, 0u) << Ended(&player);
    std::string names = Shell("xprop -id " + std::to_string(dialog.id) + " WM_NAME WM_ICON_NAME _NET_WM_NAME");
    for (const char* name : {"WM_NAME", "WM_ICON_NAME", "_NET_WM_NAME"}) {
        std::string expected = std::string(name) + "(UTF8_STRING) = \"開け\"";
        EXPECT_NE(names.find(expected), std::string::npos) << expected << " in\n" << names;
    }

    PlayerProcess second;
    ASSERT_TRUE(StartOtherPlayer(&second, "second", dir, {"tone.wav"}));
    ASSERT_TRUE(second.WaitForExit(20));
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(Errors(OtherErrors("second")), "Marovel ver0.001a is already running on this display\n");
    EXPECT_TRUE(WaitForNoWindow("開け", 10)) << "the dialog stayed";
    int heard = 0;
    for (double end = NowSeconds() + 5; NowSeconds() < end && heard != 44100; SleepSeconds(0.1)) heard = HeardFrequency(0.3);
    EXPECT_EQ(heard, 44100);
    Shell("xdotool windowfocus --sync " + std::to_string(main.id));
    HoldKey("Escape", 0.2);
    ASSERT_TRUE(player.WaitForExit(10));
    EXPECT_EQ(player.exitCode, 0);
    EXPECT_EQ(Errors(OtherErrors("dialog")), "");
}

// Files opened one after another while the player is busy: every start hears
// that its file arrived, and the last one sent is the one that plays.
TEST_P(PlayerEndToEnd, QuickHandOversEndOnTheLastFile) {
    std::vector<int16_t> low;
    AppendTone(&low, 20, 4410);
    WriteWave(dir + "/a.wav", low);
    for (int i = 1; i <= 6; i++) {
        std::vector<int16_t> samples;
        AppendTone(&samples, 4 + i, 44100 / (4 + i));  // h6 sounds at 4410 Hz, the others higher
        WriteWave(dir + "/h" + std::to_string(i) + ".wav", samples);
    }
    PlayerProcess player;
    WindowInfo main = StartPlayer(&player, dir, {"a.wav"});
    ASSERT_NE(main.id, 0u) << Ended(&player);
    double pitch = 0;
    for (double end = NowSeconds() + 5; NowSeconds() < end && std::fabs(pitch - 2205) > 5; SleepSeconds(0.1)) {
        pitch = MeasureFrequency(recording.Last(0.3), 44100);
    }
    ASSERT_NEAR(pitch, 2205, 5);

    // Busy: the six connect one after another and wait for their answers.
    kill(player.pid, SIGSTOP);
    PlayerProcess senders[6];
    for (int i = 0; i < 6; i++) {
        ASSERT_TRUE(StartOtherPlayer(&senders[i], "h", dir, {"h" + std::to_string(i + 1) + ".wav"}));
        SleepSeconds(0.6);
    }
    kill(player.pid, SIGCONT);
    for (PlayerProcess& sender : senders) {
        ASSERT_TRUE(sender.WaitForExit(20));
        EXPECT_EQ(sender.exitCode, 0) << Errors(OtherErrors("h"));
    }
    for (double end = NowSeconds() + 5; NowSeconds() < end && std::fabs(pitch - 4410) > 5; SleepSeconds(0.1)) {
        pitch = MeasureFrequency(recording.Last(0.3), 44100);
    }
    EXPECT_NEAR(pitch, 4410, 5) << "not the last file";
    SleepSeconds(1);
    EXPECT_NEAR(MeasureFrequency(recording.Last(0.3), 44100), 4410, 5) << "an earlier file came after the last";
    Shell("xdotool windowfocus --sync " + std::to_string(main.id));
    HoldKey("Escape", 0.2);
    ASSERT_TRUE(player.WaitForExit(10));
    EXPECT_EQ(player.exitCode, 0);
}

// Another user who made a folder under this user's name, in the shared
// temporary folder, and listens there under the claim's name: the player runs
// all the same, and no start of it tells that user anything.
TEST_P(PlayerEndToEnd, AnotherUsersFolderUnderTheUsersNameGetsNothing) {
    if (getuid() != 0 || !HaveCommand("setpriv")) GTEST_SKIP() << "needs root and setpriv to stand for another user";
    WriteTone(dir + "/tone.wav");
    std::string temp = dir + "/tmp", own = temp + "/ravlin-0";
    ASSERT_EQ(mkdir(temp.c_str(), 01777), 0);
    chmod(temp.c_str(), 01777);
    chmod(dir.c_str(), 0755);
    const std::string nobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
    ASSERT_EQ(Shell(nobody + "mkdir -m 0777 " + Quote(own) + " && echo made"), "made");
    std::string heard = dir + "/heard.txt";
    Shell(nobody + CLAIM_SEND_PATH + " --listen " + Quote(own + "/Ravlin-marovel-" + display.name + ".sock") +
          " 8 > " + Quote(heard) + " 2>&1 &");
    std::vector<std::string> shared = {"XDG_RUNTIME_DIR", "TMPDIR=" + temp};

    PlayerProcess first, second;
    ASSERT_TRUE(StartOtherPlayer(&first, "first", dir, {"tone.wav"}, shared));
    WindowInfo main = WaitForWindow(TITLE, 20);
    ASSERT_NE(main.id, 0u) << Ended(&first);
    EXPECT_NE(Errors(OtherErrors("first")).find("is not a folder of this user's own"), std::string::npos)
        << Errors(OtherErrors("first"));
    ASSERT_TRUE(StartOtherPlayer(&second, "second", dir, {"tone.wav"}, shared));
    for (double end = NowSeconds() + 20; NowSeconds() < end && FindWindows(TITLE).size() < 2; SleepSeconds(0.1)) {
    }
    EXPECT_EQ(FindWindows(TITLE).size(), 2u) << "the second start did not run on its own: " << Ended(&second);
    for (double end = NowSeconds() + 12; NowSeconds() < end && Errors(heard).empty(); SleepSeconds(0.2)) {
    }
    EXPECT_EQ(Errors(heard), "0 bytes\n");
    for (PlayerProcess* p : {&first, &second}) {
        kill(p->pid, SIGTERM);
        p->WaitForExit(10);
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, PlayerEndToEnd, ::testing::Values(24, 16),
                         [](const ::testing::TestParamInfo<int>& info) { return "Depth" + std::to_string(info.param); });

}  // namespace
