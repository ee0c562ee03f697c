// test_sound_mp3_loop.cpp: a looped MP3 through the real mixer (OpenAL Soft's
// loopback device): with gapless decoding the encoder's delay and padding are
// gone, so the loop point has no stretch of silence.
#include <cmath>
#include <cstdlib>

#include "platform/sound_reader.h"
#include "signal_measure.h"
#include "sound_loader_test_support.h"
#include "sound_test_support.h"

namespace {

// Any real device this process opens plays to nothing.
[[maybe_unused]] const int NULL_DRIVER = setenv("ALSOFT_DRIVERS", "null", 1);

constexpr int RATE = 44100;  // Hz

class Mp3LoopTest : public SoundTest {
protected:
    void SetUp() override {
        SoundTest::SetUp();
        if (!HasProgram("sox") || !HasProgram("lame")) GTEST_SKIP() << "sox or lame missing";
        PLATFORM.sound = &OPENAL_SOUND_OPS;
        PLATFORM.readers = SOUND_READERS;
        ASSERT_EQ(OpenLoopbackSoundDevice(RATE, 2, LOOPBACK_FLOAT), 0);
        ASSERT_EQ(InitSoundDevice(), 0);
    }
};

TEST_F(Mp3LoopTest, LoopPointHasNoGap) {
    // One second of 441 Hz: exactly 441 periods, so the loop is one unbroken
    // sine once the encoder's delay and padding are trimmed.
    std::string wav = dir + "/sine.wav";
    std::string mp3 = dir + "/sine.mp3";
    ASSERT_EQ(RunCommand("sox -n -b 16 -c 1 -r 44100 '" + wav + "' synth 1 sine 441 vol 0.5 2>/dev/null"), 0);
    ASSERT_EQ(RunCommand("lame --quiet -m m -b 128 '" + wav + "' '" + mp3 + "'"), 0);
    int handle = LoadSoundFile(mp3.c_str());
    ASSERT_NE(handle, -1);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);

    const int frames = RATE * 3 + 5000;
    std::vector<float> stereo((size_t)frames * 2);
    ASSERT_EQ(RenderLoopbackSamples(stereo.data(), frames), 0);
    std::vector<float> left(frames);
    for (int i = 0; i < frames; i++) left[i] = stereo[(size_t)i * 2];

    // Every period-long window holds the sine at its level (0.5 peak, about
    // 0.354 RMS); a gap of encoder delay (over 1000 samples) would empty
    // at least one of them.
    EXPECT_GT(QuietestWindowRms(left, 441), 0.25);
    // Nor is there a run of near-silence anywhere: the sine passes zero
    // within a sample or two.
    EXPECT_LT(LongestQuietRun(left, 0.01f), 8);
    // And it loops the length of the sine itself.
    EXPECT_NEAR(MeasureFrequency(left, RATE), 441.0, 0.5);
}

}  // namespace
