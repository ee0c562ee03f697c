// The player's practice keys end to end: the real binary on a virtual display,
// OpenAL Soft's wave writer recording what it plays, keys held with xdotool.
//
// The test file is a ladder: ten seconds, one tone a second, 300 Hz, 400 Hz,
// ... 1200 Hz. At the frequency 44100 the tone heard names the second played;
// at another frequency F the tape mode moves every tone by F / 44100, and the
// keep-pitch mode keeps them while each rung lasts 44100 / F seconds.
//
// RAVLIN_UPDATE_REFERENCES=1 writes the screenshots as the new reference
// pictures (look at them before committing them).
#include <gtest/gtest.h>

#include "player_harness.h"

using namespace harness;

namespace {

const char* TITLE = "Marovel ver0.001a";
const int RATE = 44100;

void WriteLadder(const std::string& path) {
    std::vector<int16_t> samples;
    for (int second = 0; second < 10; second++) {
        double hz = 300 + 100 * second;
        for (int i = 0; i < RATE; i++) samples.push_back((int16_t)lrint(12000 * sin(2 * M_PI * hz * i / RATE)));
    }
    WriteWave(path, samples);
}

// The rung a pitch names at the frequency 44100, -1 for none.
int Rung(double hz) {
    int rung = (int)lrint((hz - 300) / 100);
    return rung >= 0 && rung < 10 && std::fabs(hz - (300 + 100 * rung)) < 4 ? rung : -1;
}

class PlayerPractice : public ::testing::TestWithParam<int> {
protected:
    VirtualDisplay display;
    std::string dir, errorLog;
    Recording recording;
    std::vector<std::string> env;
    PlayerProcess player;
    WindowInfo main;

    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdpyinfo", "xdotool", "xwininfo", "convert", "compare"}) {
            if (!HaveCommand(tool)) GTEST_SKIP() << tool << " missing";
        }
        ASSERT_TRUE(display.Start(GetParam())) << "no virtual display";
        setenv("DISPLAY", display.name.c_str(), 1);
        char pattern[] = "/tmp/marovel-practice-XXXXXX";
        dir = mkdtemp(pattern);
        recording.path = dir + "/recording.wav";
        errorLog = dir + "/stderr.txt";
        env = MakePlayerEnvironment(dir, display.name, recording.path);
        WriteLadder(dir + "/ladder.wav");
    }
    void TearDown() override {
        if (HasFailure() && !dir.empty()) printf("player's standard error:\n%s\n", Shell("tail -c 3000 " + Quote(errorLog)).c_str());
        if (player.pid > 0 && !player.WaitForExit(0)) {
            HoldKey("Escape", 0.2);
            EXPECT_TRUE(player.WaitForExit(10));
            EXPECT_EQ(player.exitCode, 0);
        }
        if (!dir.empty()) Shell("rm -rf " + Quote(dir));
    }
    void StartPlayer() {
        ASSERT_TRUE(player.Start(MAROVEL_PATH, dir, {"ladder.wav"}, env, errorLog));
        main = WaitForWindow(TITLE, 20);
        ASSERT_NE(main.id, 0u);
        Shell("xdotool windowfocus --sync " + std::to_string(main.id));
        ASSERT_TRUE(WaitForRung(0, 5) || WaitForRung(1, 5)) << "the ladder is not heard";
    }
    // A key pressed once, held long enough for a frame to see it.
    void Press(const std::string& key) { HoldKey(key, 0.12); }
    double Pitch(double seconds = 0.1) { return MeasureFrequency(recording.Last(seconds), RATE); }
    // Waits up to the time for the rung to be heard.
    bool WaitForRung(int rung, double seconds) {
        for (double end = NowSeconds() + seconds; NowSeconds() < end; SleepSeconds(0.02)) {
            if (Rung(Pitch()) == rung) return true;
        }
        return false;
    }
    // A pitch held for the last 0.3 s (no rung changing within), within 5 s.
    double StablePitch() {
        for (double end = NowSeconds() + 5; NowSeconds() < end; SleepSeconds(0.05)) {
            std::vector<float> last = recording.Last(0.3);
            if (last.size() < 13230) continue;
            std::vector<float> early(last.begin(), last.begin() + 6615), late(last.begin() + 6615, last.end());
            double a = MeasureFrequency(early, RATE), b = MeasureFrequency(late, RATE);
            if (a > 0 && std::fabs(a - b) < 0.05) return MeasureFrequency(last, RATE);
        }
        return 0;
    }
    // The rungs heard in the last seconds, 50 ms at a time, and where each began (frames).
    std::vector<std::pair<int, long>> Rungs(double seconds) {
        std::vector<std::pair<int, long>> heard;
        long end = recording.Frames();
        for (long at = end - (long)(seconds * RATE); at + 2205 <= end; at += 2205) {
            int rung = Rung(MeasureFrequency(recording.Read(at, at + 2205), RATE));
            if (rung >= 0 && (heard.empty() || heard.back().first != rung)) heard.push_back({rung, at});
        }
        return heard;
    }
    std::string Shot(const std::string& name) const { return dir + "/" + name + "_" + std::to_string(GetParam()) + ".png"; }
    void ExpectScreenLike(const std::string& name) {
        std::string shot = Shot(name);
        ASSERT_TRUE(Screenshot(X11_TOOL, main.id, shot));
        std::string reference = std::string(PLAYER_REFERENCE_DIR) + "/" + name + "_" + std::to_string(GetParam()) + ".png";
        if (getenv("RAVLIN_UPDATE_REFERENCES") != nullptr) Shell("cp " + Quote(shot) + " " + Quote(reference));
        long differing = DifferingPixels(reference, shot);
        if (differing != 0) {
            std::string kept = "/tmp/marovel-practice-" + name + "_" + std::to_string(GetParam()) + ".png";
            Shell("cp " + Quote(shot) + " " + Quote(kept));
            ADD_FAILURE() << name << ": " << differing << " pixels differ from " << reference << "; kept as " << kept;
        }
    }
};

// Keep-pitch mode at a lower speed: the file's own pitch at the tape's tempo;
// semitones raise it with the tempo kept; P back keeps the place.
TEST_P(PlayerPractice, KeepPitchKeepsThePitchAtTheSpeedAndSemitonesMoveIt) {
    if (GetParam() != 24) GTEST_SKIP() << "sound is the same at every depth";
    StartPlayer();
    if (HasFatalFailure()) return;
    // Tape mode a third slower: every rung a third lower.
    HoldKey("Down", 2.4);
    // Two rungs in a row are 100 Hz apart at the speed 1: the speed is their
    // distance over 100 (the ladder's top and bottom do not follow each other).
    double speed = 0;
    for (int tries = 0; tries < 3 && speed == 0; tries++) {
        double lower = StablePitch();
        double upper = lower;
        for (double end = NowSeconds() + 5; NowSeconds() < end && std::fabs(upper - lower) < 5; SleepSeconds(0.05)) {
            upper = StablePitch();
        }
        if (upper > lower && upper - lower < 100) speed = (upper - lower) / 100;
    }
    ASSERT_GT(speed, 0.5) << "the arrow keys did not slow the sound";
    ASSERT_LT(speed, 0.9);

    Press("p");
    SleepSeconds(0.5);
    int rung = Rung(Pitch());
    EXPECT_GE(rung, 0) << "the pitch moved with the speed: " << Pitch();
    // Each rung lasts 1 / speed seconds.
    SleepSeconds(3.0 / speed + 0.5);
    std::vector<std::pair<int, long>> heard = Rungs(3.0 / speed + 0.3);
    ASSERT_GE(heard.size(), 3u);
    double measured = (double)(heard.back().second - heard[1].second) / (heard.size() - 2) / RATE;
    EXPECT_NEAR(measured, 1 / speed, 0.06) << "tempo at " << speed;
    for (size_t i = 1; i < heard.size(); i++) EXPECT_EQ(heard[i].first, (heard[i - 1].first + 1) % 10);

    // Two semitones up, the tempo kept.
    Press("Prior");
    Press("Prior");
    SleepSeconds(0.3);
    double raised = StablePitch();
    bool found = false;
    for (int r = 0; r < 10; r++) found = found || std::fabs(raised - (300 + 100 * r) * std::pow(2, 2 / 12.0)) < 2;
    EXPECT_TRUE(found) << raised << " Hz is no rung two semitones up";

    // PageUp does nothing in tape mode: back there the pitch follows the speed again.
    Press("p");
    SleepSeconds(0.4);
    Press("Prior");
    SleepSeconds(0.2);
    double tape = StablePitch();
    found = false;
    for (int r = 0; r < 10; r++) found = found || std::fabs(tape - (300 + 100 * r) * speed) < 2;
    EXPECT_TRUE(found) << tape << " Hz is no rung at the tape's speed " << speed;
}

// A and B loop the section in both modes; the recording then repeats only its
// rungs. J, L and Home move within it; C gives the whole file back.
TEST_P(PlayerPractice, SectionLoopsAndTheSeekKeysMoveWithinIt) {
    if (GetParam() != 24) GTEST_SKIP() << "sound is the same at every depth";
    StartPlayer();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitForRung(2, 5));
    SleepSeconds(0.2);
    Press("a");
    ASSERT_TRUE(WaitForRung(4, 5));
    SleepSeconds(0.2);
    Press("b");
    // Rungs 2, 3 and 4 only, over and over, without a gap.
    SleepSeconds(5.5);
    std::vector<std::pair<int, long>> heard = Rungs(5.0);
    ASSERT_GE(heard.size(), 5u);
    for (auto& h : heard) EXPECT_TRUE(h.first >= 2 && h.first <= 4) << "rung " << h.first << " outside the section";
    EXPECT_GT(Peak(recording.Last(5.0)), 0.3);

    // L from inside the section stops before its end; Home goes to A.
    Press("Home");
    SleepSeconds(0.25);
    EXPECT_EQ(Rung(Pitch()), 2) << "Home did not go to A";

    // The same section in keep-pitch mode.
    Press("p");
    SleepSeconds(5.5);
    heard = Rungs(5.0);
    ASSERT_GE(heard.size(), 4u);
    for (auto& h : heard) EXPECT_TRUE(h.first >= 2 && h.first <= 4) << "rung " << h.first << " outside the section";

    // C: the whole file again, and L moves five seconds on.
    Press("c");
    Press("p");
    // From the start of rung 2 on: the loop runs through the rest of the file first.
    ASSERT_TRUE(WaitForRung(1, 12));
    ASSERT_TRUE(WaitForRung(2, 2));
    // Each jump is made paused, so that the time the keys take moves nothing.
    auto jump = [&](const char* key) {
        Press("space");
        Press(key);
        Press("space");
        SleepSeconds(0.15);
        return Rung(Pitch());
    };
    EXPECT_EQ(jump("l"), 7) << "L did not move five seconds";
    EXPECT_EQ(jump("j"), 2) << "J did not move five seconds back";
    EXPECT_EQ(jump("j"), 0) << "J before the start";
}

// The row under the name: empty until a practice key, then the position,
// the mode, the semitones and the section (paused, so it stands still).
TEST_P(PlayerPractice, TheRowShowsPositionModeSemitonesAndSection) {
    StartPlayer();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitForRung(1, 5));
    SleepSeconds(0.2);
    Press("a");
    ASSERT_TRUE(WaitForRung(3, 5));
    SleepSeconds(0.2);
    Press("b");
    Press("p");
    Press("Prior");
    Press("Prior");
    Press("space");
    Press("Home");
    SleepSeconds(0.5);
    EXPECT_LT(Peak(recording.Last(0.3)), 0.01) << "Space did not pause";
    ExpectScreenLike("practice");
    // Space goes on from there, at A.
    Press("space");
    SleepSeconds(0.3);
    double pitch = Pitch();
    EXPECT_NEAR(pitch, 400 * std::pow(2, 2 / 12.0), 3) << "not on from A, two semitones up";
}

INSTANTIATE_TEST_SUITE_P(Depths, PlayerPractice, ::testing::Values(24, 16),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param) + "bit"; });

}  // namespace
