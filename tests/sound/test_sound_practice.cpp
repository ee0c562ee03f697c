// Position, pause, volume, keep-pitch and the loop section of a sound, on the
// fake device: microseconds of the sound's own rate turned into frames and
// back, kept within the sound, and each setting reaching every buffer.
#include "sound_test_support.h"

namespace {

class SoundPracticeTest : public SoundTest {
protected:
    // 48000 Hz stereo, so that microseconds and frames differ from 44100's.
    WaveFormat format = MakeWaveFormat(WAVE_FORMAT_PCM, 2, 48000, 16);
    const int frames = 48000 * 3;  // three seconds

    void SetUp() override {
        SoundTest::SetUp();
        ASSERT_EQ(InitSoundDevice(), 0);
    }
    int MakeSound(int buffers = 1) {
        int handle = AddSoundData();
        EXPECT_EQ(CreateSoundBuffers(&format, frames * 4, buffers, handle), 0);
        return handle;
    }
};

TEST_F(SoundPracticeTest, PositionsAreMicrosecondsOfTheSoundsOwnRateWithinTheSound) {
    int sound = MakeSound();
    FakeSoundBuffer* buffer = FindFakeSoundBuffer(sound, 0);
    EXPECT_EQ(GetSoundHandlePosition(sound), 0);
    EXPECT_EQ(SetSoundHandlePosition(1500000, sound), 0);
    EXPECT_EQ(buffer->position, 72000u * 4) << "1.5 s at 48000 Hz";
    EXPECT_EQ(GetSoundHandlePosition(sound), 1500000);
    // The frequency does not change what a microsecond of the sound is.
    SetSoundHandleFrequency(22050, sound);
    EXPECT_EQ(GetSoundHandlePosition(sound), 1500000);
    // Outside the sound: its first and its last frame.
    EXPECT_EQ(SetSoundHandlePosition(-5, sound), 0);
    EXPECT_EQ(buffer->position, 0u);
    EXPECT_EQ(SetSoundHandlePosition(INT64_MAX, sound), 0);
    EXPECT_EQ(buffer->position, (uint32_t)(frames - 1) * 4);
    // Played on, a loop wraps at the end.
    PlaySoundHandle(sound, PLAY_LOOP);
    AdvanceFakeSound(2);
    EXPECT_EQ(GetSoundHandlePosition(sound), 1000000 / 48000);
    EXPECT_EQ(GetSoundHandlePosition(-1), -1);
    EXPECT_EQ(SetSoundHandlePosition(0, AddSoundData()), -1) << "a sound without buffers";
}

TEST_F(SoundPracticeTest, PauseKeepsThePlaceWhereStopRewinds) {
    int sound = MakeSound();
    PlaySoundHandle(sound, PLAY_LOOP);
    AdvanceFakeSound(48000);
    EXPECT_EQ(PauseSoundHandle(sound), 0);
    EXPECT_EQ(IsSoundHandlePlaying(sound), 0);
    EXPECT_EQ(GetSoundHandlePosition(sound), 1000000);
    PlaySoundHandle(sound, PLAY_LOOP);
    EXPECT_EQ(GetSoundHandlePosition(sound), 1000000) << "a play after a pause goes on from there";
    StopSoundHandle(sound);
    EXPECT_EQ(GetSoundHandlePosition(sound), 0);
}

TEST_F(SoundPracticeTest, TheSectionIsInFramesAndMustLieInTheSound) {
    int sound = MakeSound(2);
    EXPECT_EQ(SetSoundHandleLoopSection(500000, 2000000, sound), 0);
    for (int i = 0; i < 2; i++) {
        FakeSoundBuffer* buffer = FindFakeSoundBuffer(sound, i);
        EXPECT_EQ(buffer->loopStart, 24000u);
        EXPECT_EQ(buffer->loopEnd, 96000u);
    }
    // A loop now repeats the section only.
    SetSoundHandlePosition(1900000, sound);
    PlaySoundHandle(sound, PLAY_LOOP);
    AdvanceFakeSound(48000 / 10 * 2);
    EXPECT_EQ(GetSoundHandlePosition(sound), 600000);
    // Empty, reversed or outside the sound: refused, the section stays.
    EXPECT_EQ(SetSoundHandleLoopSection(1000000, 1000000, sound), -1);
    EXPECT_EQ(SetSoundHandleLoopSection(2000000, 1000000, sound), -1);
    EXPECT_EQ(SetSoundHandleLoopSection(-1, 1000000, sound), -1);
    EXPECT_EQ(SetSoundHandleLoopSection(0, 3000001, sound), -1);
    EXPECT_EQ(FindFakeSoundBuffer(sound, 0)->loopEnd, 96000u);
    // From a point to the end; the whole sound again.
    EXPECT_EQ(SetSoundHandleLoopSection(1000000, -1, sound), 0);
    EXPECT_EQ(FindFakeSoundBuffer(sound, 0)->loopEnd, (uint32_t)frames);
    EXPECT_EQ(SetSoundHandleLoopSection(0, -1, sound), 0);
    EXPECT_EQ(FindFakeSoundBuffer(sound, 0)->loopStart, 0u);
    EXPECT_EQ(FindFakeSoundBuffer(sound, 0)->loopEnd, 0u);
    // Another sound (another file) starts with the whole of itself.
    EXPECT_EQ(SetSoundHandleLoopSection(500000, 2000000, sound), 0);
    DeleteSoundHandle(sound);
    int next = MakeSound();
    EXPECT_EQ(FindFakeSoundBuffer(next, 0)->loopEnd, 0u);
}

TEST_F(SoundPracticeTest, VolumeKeepPitchAndSemitonesReachEveryBufferOrNone) {
    int sound = MakeSound(2);
    EXPECT_EQ(SetSoundHandleVolume(50, sound), 0);
    EXPECT_FLOAT_EQ(FindFakeSoundBuffer(sound, 1)->volume, 0.125f) << "the percentage cubed";
    EXPECT_EQ(SetSoundHandleVolume(101, sound), -1);
    EXPECT_EQ(SetSoundHandleVolume(-1, sound), -1);
    EXPECT_FLOAT_EQ(FindFakeSoundBuffer(sound, 1)->volume, 0.125f);

    EXPECT_EQ(SetSoundHandleKeepPitch(1, sound), 0);
    EXPECT_EQ(FindFakeSoundBuffer(sound, 0)->keepPitch, 1);
    EXPECT_EQ(FindFakeSoundBuffer(sound, 1)->keepPitch, 1);
    EXPECT_EQ(SetSoundHandlePitchSemitones(-12, sound), 0);
    EXPECT_EQ(FindFakeSoundBuffer(sound, 1)->semitones, -12);
    EXPECT_EQ(SetSoundHandlePitchSemitones(13, sound), -1);
    EXPECT_EQ(SetSoundHandleKeepPitch(0, sound), 0);
    // A device that cannot: the mode stays as it was on every buffer.
    FAKE_SOUND.keepPitchFails = 1;
    EXPECT_EQ(SetSoundHandleKeepPitch(1, sound), -1);
    EXPECT_EQ(FindFakeSoundBuffer(sound, 0)->keepPitch, 0);
    EXPECT_EQ(FindFakeSoundBuffer(sound, 1)->keepPitch, 0);
    for (int handle : {-1, 0x30000}) {
        EXPECT_EQ(SetSoundHandleKeepPitch(1, handle), -1);
        EXPECT_EQ(PauseSoundHandle(handle), -1);
        EXPECT_EQ(GetSoundHandlePosition(handle), -1);
    }
}

}  // namespace
