// The player's real binary on a desktop with a session bus (the test program
// runs inside a bus session of its own): its media-player interface driven
// with gdbus and watched with gdbus monitor, the rate heard as pitch, a later
// start handing its file over, and the senders that the hand-over must refuse.
//
// The first tone is a sine of 4410 Hz in a 44100 Hz file, the second one of
// 2205 Hz: at a frequency F they sound at F / 10 and F / 20 Hz.
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
const char* BUS_CALL = "gdbus call --session -d org.mpris.MediaPlayer2.marovel -o /org/mpris/MediaPlayer2 ";

class PlayerDesktop : public ::testing::Test {
protected:
    VirtualDisplay display;
    std::string dir, errorLog;
    Recording recording;
    std::vector<std::string> env;
    pid_t monitor = -1;

    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdpyinfo", "xdotool", "xwininfo", "gdbus"}) {
            if (!HaveCommand(tool)) GTEST_SKIP() << tool << " missing";
        }
        if (getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) GTEST_SKIP() << "needs a session bus: run under dbus-run-session";
        ASSERT_TRUE(display.Start(24)) << "no virtual display";
        setenv("DISPLAY", display.name.c_str(), 1);
        char pattern[] = "/tmp/marovel-desktop-XXXXXX";
        dir = mkdtemp(pattern);
        recording.path = dir + "/recording.wav";
        errorLog = dir + "/stderr.txt";
        env = MakePlayerEnvironment(dir, display.name, recording.path);
    }
    void TearDown() override {
        if (monitor > 0) {
            kill(monitor, SIGTERM);
            waitpid(monitor, nullptr, 0);
        }
        if (HasFailure() && !dir.empty()) {
            printf("player's standard error:\n%s\n", Shell("tail -c 3000 " + Quote(errorLog)).c_str());
            printf("bus monitor:\n%s\n", Shell("tail -c 3000 " + Quote(dir + "/monitor.txt")).c_str());
        }
        if (!dir.empty()) Shell("rm -rf " + Quote(dir));
    }

    // Starts the player with a file, its window in front, and waits until the
    // desktop hears that it plays.
    void StartPlaying(PlayerProcess* player, const std::string& file) {
        ASSERT_TRUE(player->Start(MAROVEL_PATH, dir, {file}, env, errorLog));
        WindowInfo main = WaitForWindow(TITLE, 20);
        ASSERT_NE(main.id, 0u);
        Shell("xdotool windowfocus --sync " + std::to_string(main.id));
        ASSERT_TRUE(WaitForProperty("PlaybackStatus", "(<'Playing'>,)", 10)) << Status();
    }
    std::string Call(const std::string& args) { return Shell(BUS_CALL + args + " 2>&1"); }
    std::string Get(const std::string& property) {
        return Call("-m org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player " + property);
    }
    std::string Status() { return Get("PlaybackStatus"); }
    // Waits up to the time for the property to read the value (as gdbus prints it).
    bool WaitForProperty(const std::string& property, const std::string& value, double seconds) {
        for (double end = NowSeconds() + seconds; NowSeconds() < end; SleepSeconds(0.05)) {
            if (Get(property) == value) return true;
        }
        return false;
    }
    bool Silent() { return Peak(recording.Last(0.4)) < 0.01; }
    double Pitch() { return MeasureFrequency(recording.Last(0.3), 44100); }
    // Waits up to five seconds for the recording's pitch to come near hz; the last one heard.
    double WaitForPitch(double hz) {
        double heard = 0;
        for (double end = NowSeconds() + 5; NowSeconds() < end; SleepSeconds(0.05)) {
            heard = Pitch();
            if (std::fabs(heard - hz) < 3) break;
        }
        return heard;
    }
    std::string Monitored() { return ShellOutput("cat " + Quote(dir + "/monitor.txt")); }
    // Waits up to the time for the bus monitor to have seen the text.
    bool WaitForMonitored(const std::string& text, double seconds) {
        for (double end = NowSeconds() + seconds; NowSeconds() < end; SleepSeconds(0.05)) {
            if (Monitored().find(text) != std::string::npos) return true;
        }
        return false;
    }
    void StartMonitor() {
        std::string out = dir + "/monitor.txt";
        monitor = fork();
        if (monitor == 0) {
            int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            setvbuf(stdout, nullptr, _IONBF, 0);
            execlp("gdbus", "gdbus", "monitor", "--session", "-d", "org.mpris.MediaPlayer2.marovel", (char*)nullptr);
            _exit(127);
        }
    }
    std::string Errors(const std::string& path) const { return ShellOutput("cat " + Quote(path) + " 2>/dev/null"); }
    // A file of the given bytes, sent to the player's claim by claim_send, run
    // as the user named (empty: this one); what claim_send printed.
    std::string SendToPlayer(const std::string& bytes, const std::string& user) {
        std::string file = dir + "/message.bin";
        std::ofstream(file, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
        std::string claim = dir + "/run/Ravlin-marovel-" + display.name + ".sock";
        std::string as = user.empty() ? "" : "setpriv --reuid=" + user + " --regid=nogroup --clear-groups ";
        return Shell(as + CLAIM_SEND_PATH + " " + Quote(claim) + " < " + Quote(file) + " 2>&1");
    }
};

void WriteTone(const std::string& path, int samplesPerPeriod, int periods) {
    std::vector<int16_t> samples;
    AppendTone(&samples, samplesPerPeriod, periods);
    WriteWave(path, samples);
}

TEST_F(PlayerDesktop, MediaControlsRateAndStatusAndFilesHandedOver) {
    WriteTone(dir + "/tone.wav", 10, 8820);
    WriteTone(dir + "/other tone.wav", 20, 4410);
    std::ofstream(dir + "/junk.mp3") << "not music at all\n";

    PlayerProcess player;
    StartPlaying(&player, "tone.wav");
    if (HasFatalFailure()) return;

    // What the desktop is told of the player and its file.
    std::string root = Call("-m org.freedesktop.DBus.Properties.GetAll org.mpris.MediaPlayer2");
    for (const char* expected : {"'Identity': <'Marovel'>", "'DesktopEntry': <'marovel'>", "'CanQuit': <true>",
                                 "'CanRaise': <true>"}) {
        EXPECT_NE(root.find(expected), std::string::npos) << expected << " in " << root;
    }
    std::string all = Call("-m org.freedesktop.DBus.Properties.GetAll org.mpris.MediaPlayer2.Player");
    std::string url = "'xesam:url': <'file://" + dir + "/tone.wav'>";
    for (const std::string& expected :
         {std::string("'Rate': <1.0>"), std::string("'MinimumRate': <0.0022675736961451"),
          std::string("'CanGoNext': <false>"), std::string("'CanGoPrevious': <false>"), std::string("'CanSeek': <false>"),
          std::string("'xesam:title': <'tone.wav'>"), url, std::string("'mpris:length': <int64 2000000>"),
          std::string("'mpris:trackid': <objectpath '/marovel/track/")}) {
        EXPECT_NE(all.find(expected), std::string::npos) << expected << " in " << all;
    }
    EXPECT_NEAR(WaitForPitch(4410), 4410, 3);

    StartMonitor();
    ASSERT_TRUE(WaitForMonitored("is owned by", 10)) << "the monitor did not start";

    // A rate of one half is 22050 Hz, heard an octave lower.
    EXPECT_EQ(Call("-m org.freedesktop.DBus.Properties.Set org.mpris.MediaPlayer2.Player Rate '<0.5>'"), "()");
    EXPECT_EQ(Get("Rate"), "(<0.5>,)");
    EXPECT_NEAR(WaitForPitch(2205), 2205, 3);
    EXPECT_TRUE(WaitForMonitored("{'Rate': <0.5>}", 5));

    // Enter's stop is announced like the bus's own.
    HoldKey("Return", 0.15);
    EXPECT_TRUE(WaitForProperty("PlaybackStatus", "(<'Stopped'>,)", 5));
    EXPECT_TRUE(WaitForMonitored("{'PlaybackStatus': <'Stopped'>}", 5));
    SleepSeconds(1.5);  // Enter's second is over
    EXPECT_TRUE(Silent());

    // Play, pause, stop and play-pause act at once and say so.
    struct Step {
        const char* method;
        const char* status;
    } steps[] = {{"Play", "Playing"}, {"Pause", "Stopped"}, {"PlayPause", "Playing"},
                 {"Stop", "Stopped"}, {"PlayPause", "Playing"}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.method);
        EXPECT_EQ(Call(std::string("-m org.mpris.MediaPlayer2.Player.") + step.method), "()");
        EXPECT_TRUE(WaitForProperty("PlaybackStatus", std::string("(<'") + step.status + "'>,)", 5));
        SleepSeconds(0.6);
        if (std::string(step.status) == "Playing") {
            EXPECT_NEAR(Pitch(), 2205, 3) << "playing at the rate set";
        } else {
            EXPECT_TRUE(Silent());
        }
    }
    EXPECT_TRUE(WaitForMonitored("{'PlaybackStatus': <'Playing'>}", 5));

    // Senders the hand-over refuses: nothing changes, and the player plays on.
    std::string other = dir + "/other tone.wav";
    std::string random(65536, '\0');
    uint32_t seed = 2024;
    for (char& c : random) {
        seed = seed * 1103515245u + 12345u;
        c = (char)(seed >> 16);
    }
    if (getuid() == 0 && HaveCommand("setpriv")) {
        // Another user cannot even reach the claim.
        EXPECT_EQ(SendToPlayer(other + std::string(1, '\0'), "nobody"), "connect: Permission denied");
    } else {
        printf("not run as root: another user's sender is not tried here\n");
    }
    EXPECT_EQ(SendToPlayer("/" + std::string(1 << 20, 'a') + std::string(1, '\0'), ""), "cut") << "1 MB";
    SendToPlayer(random, "");
    SleepSeconds(0.5);
    EXPECT_FALSE(player.WaitForExit(0));
    EXPECT_NE(Get("Metadata").find("'xesam:title': <'tone.wav'>"), std::string::npos) << Get("Metadata");
    EXPECT_NEAR(Pitch(), 2205, 3);
    EXPECT_EQ(Errors(errorLog), "");

    // A later start hands its file over (a relative name, from its own folder)
    // and ends; the player plays it at the rate it had.
    PlayerProcess second;
    ASSERT_TRUE(second.Start(MAROVEL_PATH, dir, {"other tone.wav"}, env, dir + "/second.txt"));
    ASSERT_TRUE(second.WaitForExit(20));
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(Errors(dir + "/second.txt"), "Marovel ver0.001a is already running on this display\n");
    EXPECT_TRUE(WaitForMonitored("'xesam:title': <'other tone.wav'>", 10));
    EXPECT_NE(Get("Metadata").find("'xesam:url': <'file://" + dir + "/other%20tone.wav'>"), std::string::npos)
        << Get("Metadata");
    EXPECT_NEAR(WaitForPitch(1102.5), 1102.5, 3);
    EXPECT_EQ(Get("Rate"), "(<0.5>,)");
    EXPECT_EQ(FindWindows(TITLE).size(), 1u);

    // A file handed over that does not play is named as at a first start, and the old sound stops.
    PlayerProcess third;
    ASSERT_TRUE(third.Start(MAROVEL_PATH, dir, {"junk.mp3"}, env, dir + "/third.txt"));
    ASSERT_TRUE(third.WaitForExit(20));
    EXPECT_EQ(third.exitCode, 0);
    for (double end = NowSeconds() + 5; NowSeconds() < end && Errors(errorLog).empty(); SleepSeconds(0.05)) {
    }
    SleepSeconds(0.2);
    EXPECT_EQ(Errors(errorLog), "marovel: cannot play \"" + dir + "/junk.mp3\": not a " FORMAT_NAMES " file\n");
    EXPECT_TRUE(WaitForProperty("PlaybackStatus", "(<'Stopped'>,)", 5));
    SleepSeconds(0.5);
    EXPECT_TRUE(Silent());
    EXPECT_FALSE(player.WaitForExit(0));

    // Quit ends the player as Escape does.
    EXPECT_EQ(Call("-m org.mpris.MediaPlayer2.Quit"), "()");
    ASSERT_TRUE(player.WaitForExit(10));
    EXPECT_EQ(player.exitCode, 0);
    EXPECT_TRUE(WaitForMonitored("does not have an owner", 5)) << "the name stays after the end";
}

// FLAC, Opus and AAC play as WAVE does, from the command line and handed
// over, at the tape-speed rate: Opus decodes at 48000 Hz, so at 44100 its
// tone sounds 44100 / 48000 as high, as a 48000 Hz WAVE's would.
TEST_F(PlayerDesktop, FlacOpusAndAacPlayFromTheCommandLineAndHandedOver) {
    for (const char* tool : {"flac", "opusenc", "ffmpeg"}) {
        if (!HaveCommand(tool)) GTEST_SKIP() << tool << " missing";
    }
    WriteTone(dir + "/tone.wav", 10, 8820);
    std::string wav = Quote(dir + "/tone.wav");
    Shell("flac -s -f -o " + Quote(dir + "/tone.flac") + " " + wav + " && opusenc --quiet " + wav + " " +
          Quote(dir + "/tone.opus") + " && ffmpeg -v quiet -y -i " + wav + " -c:a aac -b:a 192k " + Quote(dir + "/tone.m4a"));

    PlayerProcess player;
    ASSERT_TRUE(player.Start(MAROVEL_PATH, dir, {"tone.flac"}, env, errorLog));
    WindowInfo main = WaitForWindow(TITLE, 20);
    ASSERT_NE(main.id, 0u);
    ASSERT_TRUE(WaitForProperty("PlaybackStatus", "(<'Playing'>,)", 10)) << Status();
    EXPECT_NEAR(WaitForPitch(4410), 4410, 3);
    struct Step {
        const char* file;
        double pitch;  // Hz at the frequency 44100
    } steps[] = {{"tone.opus", 4410 * 44100.0 / 48000}, {"tone.m4a", 4410}, {"tone.flac", 4410}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.file);
#ifndef RAVLIN_WITH_FFMPEG
        if (std::string(step.file) == "tone.m4a") continue;
#endif
        PlayerProcess later;
        ASSERT_TRUE(later.Start(MAROVEL_PATH, dir, {step.file}, env, dir + "/later.txt"));
        ASSERT_TRUE(later.WaitForExit(20));
        EXPECT_EQ(later.exitCode, 0);
        bool titled = false;
        for (double end = NowSeconds() + 10; !titled && NowSeconds() < end; SleepSeconds(0.05)) {
            titled = Get("Metadata").find(std::string("'xesam:title': <'") + step.file + "'>") != std::string::npos;
        }
        EXPECT_TRUE(titled) << Get("Metadata");
        EXPECT_NEAR(WaitForPitch(step.pitch), step.pitch, 3);
    }
    EXPECT_EQ(Errors(errorLog), "");
    EXPECT_EQ(Call("-m org.mpris.MediaPlayer2.Quit"), "()");
    ASSERT_TRUE(player.WaitForExit(10));
    EXPECT_EQ(player.exitCode, 0);
}

}  // namespace

namespace {

// The interface's own rules: a rate of 0 pauses, a negative one is refused,
// and the rate the desktop reads stays within its range and matches the
// sound, however far the arrow keys take the window's number.
TEST_F(PlayerDesktop, RatesFollowTheInterfacesRules) {
    WriteTone(dir + "/tone.wav", 10, 8820);
    PlayerProcess player;
    StartPlaying(&player, "tone.wav");
    if (HasFatalFailure()) return;

    const std::string set = "-m org.freedesktop.DBus.Properties.Set org.mpris.MediaPlayer2.Player Rate ";
    EXPECT_EQ(Call(set + "'<0.0>'"), "()");
    EXPECT_TRUE(WaitForProperty("PlaybackStatus", "(<'Stopped'>,)", 5)) << "a rate of 0 did not pause";
    EXPECT_EQ(Get("Rate"), "(<1.0>,)") << "the rate itself stays";
    SleepSeconds(0.5);
    EXPECT_TRUE(Silent());

    EXPECT_NE(Call(set + "'<-1.0>'").find("InvalidArgs"), std::string::npos) << "a negative rate was taken";
    EXPECT_EQ(Get("Rate"), "(<1.0>,)");
    EXPECT_EQ(Call("-m org.mpris.MediaPlayer2.Player.Play"), "()");
    ASSERT_TRUE(WaitForProperty("PlaybackStatus", "(<'Playing'>,)", 5));

    // Past the device's top the window's number climbs on, the sound and the
    // desktop's rate stay at the top.
    std::string maximum = Get("MaximumRate");
    ASSERT_EQ(maximum.rfind("(<", 0), 0u) << maximum;
    EXPECT_EQ(Call(set + "'<100.0>'"), "()");
    EXPECT_TRUE(WaitForProperty("Rate", maximum, 5)) << Get("Rate") << " against " << maximum;
    double top = atof(maximum.c_str() + 2) * 44100;  // Hz
    EXPECT_NEAR(WaitForPitch(top / 10), top / 10, 3);
    HoldKey("Up", 0.5);
    SleepSeconds(0.3);
    EXPECT_EQ(Get("Rate"), maximum);
    EXPECT_NEAR(Pitch(), top / 10, 3) << "the sound left the top";

    EXPECT_EQ(Call("-m org.mpris.MediaPlayer2.Quit"), "()");
    ASSERT_TRUE(player.WaitForExit(10));
    EXPECT_EQ(player.exitCode, 0);
}

}  // namespace
