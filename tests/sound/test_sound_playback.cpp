// Playback through the real mixer: OpenAL Soft's loopback device renders what
// the sources play into memory, so these tests listen to the output.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "signal_measure.h"
#include "sound_test_support.h"

namespace {

// Any real device this process opens plays to nothing, on every machine.
[[maybe_unused]] const int NULL_DRIVER = setenv("ALSOFT_DRIVERS", "null", 1);

constexpr int RATE = 44100;  // Hz, of the output and of the test sounds

class PlaybackTest : public SoundTest {
protected:
    void SetUp() override {
        SoundTest::SetUp();
        PLATFORM.sound = &OPENAL_SOUND_OPS;
        ASSERT_EQ(OpenLoopbackSoundDevice(RATE, 2, LOOPBACK_FLOAT), 0);
        ASSERT_EQ(InitSoundDevice(), 0);
        ASSERT_EQ(IsSoundDeviceOpen(), 1);
    }

    // Renders frames of stereo output; returns one channel (0 left, 1 right).
    std::vector<float> Render(int frames, int channel = 0) {
        std::vector<float> stereo((size_t)frames * 2);
        EXPECT_EQ(RenderLoopbackSamples(stereo.data(), frames), 0);
        std::vector<float> out(frames);
        for (int i = 0; i < frames; i++) out[i] = stereo[(size_t)i * 2 + channel];
        return out;
    }

    // 16-bit mono sound of a sine at amplitude (0..1).
    int LoadSine(double hz, int frames, double amplitude) {
        std::vector<int16_t> pcm(frames);
        for (int i = 0; i < frames; i++) pcm[i] = (int16_t)lrint(32767 * amplitude * sin(2 * M_PI * hz * i / RATE));
        return LoadPcm(MakeWaveFormat(WAVE_FORMAT_PCM, 1, RATE, 16), pcm.data(), frames * 2);
    }

    // 16-bit mono sound whose sample i is i (a ramp that tells where playback is).
    int LoadRamp(int frames) {
        std::vector<int16_t> pcm(frames);
        for (int i = 0; i < frames; i++) pcm[i] = (int16_t)i;
        return LoadPcm(MakeWaveFormat(WAVE_FORMAT_PCM, 1, RATE, 16), pcm.data(), frames * 2);
    }
    static int RampIndex(float value) { return (int)lrint(value * 32768); }
};

}  // namespace

TEST_F(PlaybackTest, EveryBufferUsesTheHighestOrderSincResampler) {
    ASSERT_GT(GetSoundResamplerCount(), 0);
    EXPECT_STREQ(GetSoundResamplerName(GetChosenSoundResampler()), "23rd order Sinc");
}

TEST_F(PlaybackTest, FrequencyFollowsTheRateAndMinusOneRestoresIt) {
    int handle = LoadSine(1000, RATE * 2, 0.5);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    std::vector<float> left = Render(RATE / 2, 0);
    EXPECT_NEAR(MeasureFrequency(left, RATE), 1000, 0.5);
    // A mono sound sounds at its own level on both sides.
    EXPECT_NEAR(RmsLevel(left), 0.5 / sqrt(2), 0.002);
    EXPECT_NEAR(RmsLevel(Render(RATE / 4, 1)), 0.5 / sqrt(2), 0.002);

    struct Step {
        int rate;
        double hz;
    } steps[] = {{88200, 2000}, {22050, 500}, {-1, 1000}, {66150, 1500}};
    for (const Step& step : steps) {
        ASSERT_EQ(SetSoundHandleFrequency(step.rate, handle), 0);
        Render(64);  // past the change
        EXPECT_NEAR(MeasureFrequency(Render(RATE / 2), RATE), step.hz, 0.5) << step.rate;
    }
    // A rate the device refuses leaves the last one.
    EXPECT_EQ(SetSoundHandleFrequency(300000, handle), 0);
    EXPECT_EQ(SetSoundHandleFrequency(99, handle), 0);
    EXPECT_NEAR(MeasureFrequency(Render(RATE / 2), RATE), 1500, 0.5);
}

TEST_F(PlaybackTest, RateSetWhileStoppedHoldsWhenPlayed) {
    int handle = LoadSine(1000, RATE, 0.5);
    ASSERT_EQ(SetSoundHandleFrequency(88200, handle), 0);
    EXPECT_EQ(RmsLevel(Render(1000)), 0);  // nothing sounds yet
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    EXPECT_NEAR(MeasureFrequency(Render(RATE / 2), RATE), 2000, 0.5);
    ASSERT_EQ(StopSoundHandle(handle), 0);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    EXPECT_NEAR(MeasureFrequency(Render(RATE / 2), RATE), 2000, 0.5);
}

TEST_F(PlaybackTest, FillPlaysTheDataAndTakesNoSecondWrite) {
    const PlatformSoundOps* ops = PLATFORM.sound;
    ASSERT_NE(ops->Fill, nullptr);
    WaveFormat format = MakeWaveFormat(WAVE_FORMAT_PCM, 1, RATE, 16);
    std::vector<int16_t> ramp(1000);
    for (int i = 0; i < 1000; i++) ramp[i] = (int16_t)i;
    int id = ops->CreateBuffer(&format, 2000, DSBCAPS_STATIC);
    ASSERT_GT(id, 0);
    EXPECT_EQ(ops->Fill(id, ramp.data(), 1998), -1);
    ASSERT_EQ(ops->Fill(id, ramp.data(), 2000), 0);
    void* part1 = nullptr;
    uint32_t bytes1 = 0;
    EXPECT_EQ(ops->Lock(id, 0, 100, &part1, &bytes1, nullptr, nullptr), -1);
    EXPECT_EQ(ops->Fill(id, ramp.data(), 2000), -1);
    ASSERT_EQ(ops->Play(id, 0), 0);
    std::vector<float> out = Render(1000);
    for (int i = 0; i < 1000; i += 97) EXPECT_EQ(RampIndex(out[i]), i);
    // A buffer that is being written through Lock takes no Fill.
    int locked = ops->CreateBuffer(&format, 2000, DSBCAPS_STATIC);
    ASSERT_EQ(ops->Lock(locked, 0, 100, &part1, &bytes1, nullptr, nullptr), 0);
    EXPECT_EQ(ops->Fill(locked, ramp.data(), 2000), -1);
    EXPECT_EQ(ops->Unlock(locked, part1, bytes1, nullptr, 0), 0);
    ops->ReleaseBuffer(locked);
    ops->ReleaseBuffer(id);
}

// The library here offers its buffers' own memory: what is written there is
// played once unmapped, and the buffer then takes no other write.
TEST_F(PlaybackTest, MappedBufferPlaysWhatWasWrittenInPlace) {
    const PlatformSoundOps* ops = PLATFORM.sound;
    ASSERT_NE(ops->MapBuffer, nullptr);
    WaveFormat format = MakeWaveFormat(WAVE_FORMAT_PCM, 1, RATE, 16);
    int id = ops->CreateBuffer(&format, 2000, DSBCAPS_STATIC);
    ASSERT_GT(id, 0);
    void* data = nullptr;
    ASSERT_EQ(ops->MapBuffer(id, &data), 0);
    ASSERT_NE(data, nullptr);
    int16_t* samples = (int16_t*)data;
    for (int i = 0; i < 1000; i++) samples[i] = (int16_t)i;
    void* part1 = nullptr;
    uint32_t bytes1 = 0;
    EXPECT_EQ(ops->Play(id, 0), -1);
    EXPECT_EQ(ops->Lock(id, 0, 100, &part1, &bytes1, nullptr, nullptr), -1);
    EXPECT_EQ(ops->MapBuffer(id, &data), -1);
    ASSERT_EQ(ops->UnmapBuffer(id), 0);
    EXPECT_EQ(ops->UnmapBuffer(id), -1);
    EXPECT_EQ(ops->MapBuffer(id, &data), -1);
    ASSERT_EQ(ops->Play(id, 0), 0);
    std::vector<float> out = Render(1000);
    for (int i = 0; i < 1000; i += 97) EXPECT_EQ(RampIndex(out[i]), i);
    ops->ReleaseBuffer(id);
    // A layout the library takes only converted cannot be written in place;
    // a buffer released while mapped goes cleanly.
    WaveFormat deep = MakeWaveFormat(WAVE_FORMAT_PCM, 1, RATE, 24);
    int converted = ops->CreateBuffer(&deep, 3000, DSBCAPS_STATIC);
    EXPECT_EQ(ops->MapBuffer(converted, &data), -1);
    ops->ReleaseBuffer(converted);
    int released = ops->CreateBuffer(&format, 2000, DSBCAPS_STATIC);
    ASSERT_EQ(ops->MapBuffer(released, &data), 0);
    ops->ReleaseBuffer(released);
}

// A whole load into the real device, through its mapped buffer: the mixer
// plays the file's samples.
TEST_F(PlaybackTest, LoadedWaveIsPlayedFromTheMappedBuffer) {
    std::vector<int16_t> ramp(4000);
    for (int i = 0; i < 4000; i++) ramp[i] = (int16_t)i;
    char path[] = "/tmp/ravlin-mapped-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE* file = fdopen(fd, "wb");
    uint8_t header[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                          1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x88, 0x58, 0x01, 0, 2, 0, 16, 0,
                          'd', 'a', 't', 'a', 0x40, 0x1F, 0, 0};
    fwrite(header, 1, sizeof header, file);
    fwrite(ramp.data(), 2, ramp.size(), file);
    fclose(file);
    int handle = LoadSoundFile(path);
    remove(path);
    ASSERT_NE(handle, -1);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_BACK), 0);
    std::vector<float> out = Render(4000);
    for (int i = 0; i < 4000; i += 131) EXPECT_EQ(RampIndex(out[i]), i);
    DeleteSoundHandle(handle);
}

TEST_F(PlaybackTest, LoopWrapsWithoutAGapOrClick) {
    // 4410 frames hold exactly 100 periods of 1 kHz, so the loop is one
    // unbroken sine; any gap or jump at the wrap shows as an error.
    int handle = LoadSine(1000, 4410, 0.5);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    std::vector<float> out = Render(4410 * 3 + 100);
    double worst = 0;
    for (size_t i = 0; i < out.size(); i++) {
        double ideal = lrint(32767 * 0.5 * sin(2 * M_PI * 1000 * (double)(i % 4410) / RATE)) / 32768.0;
        worst = std::max(worst, fabs(out[i] - ideal));
    }
    EXPECT_LT(worst, 1e-4);

    // Played 1.5 times faster the resampler reads across the wrap: the output
    // is still one clean 1.5 kHz sine.
    ASSERT_EQ(SetSoundHandleFrequency(66150, handle), 0);
    Render(64);
    double fitted = 0;
    EXPECT_GT(MeasureSinad(Render(4410 * 2), RATE, 1500, &fitted), 70);
    EXPECT_NEAR(fitted, 1500, 1);
}

TEST_F(PlaybackTest, PlayingAgainStartsOverAndStopKeepsNothing) {
    int handle = LoadRamp(20000);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    std::vector<float> out = Render(1000);
    EXPECT_EQ(RampIndex(out[0]), 0);
    EXPECT_EQ(RampIndex(out[999]), 999);
    // Playing while it plays: from the beginning again.
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    out = Render(10);
    EXPECT_EQ(RampIndex(out[0]), 0);
    EXPECT_EQ(RampIndex(out[9]), 9);
    // Stopped: silence, then a play starts from the beginning.
    ASSERT_EQ(StopSoundHandle(handle), 0);
    EXPECT_EQ(IsSoundHandlePlaying(handle), 0);
    EXPECT_EQ(RmsLevel(Render(100)), 0);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_BACK), 0);
    out = Render(10);
    EXPECT_EQ(RampIndex(out[0]), 0);
    EXPECT_EQ(RampIndex(out[9]), 9);
}

TEST_F(PlaybackTest, PlayOnceEndsByItselfAndStandsAtItsStart) {
    int handle = LoadRamp(1000);
    ASSERT_EQ(PlaySoundHandle(handle, 1), 0);  // returns at once
    EXPECT_EQ(IsSoundHandlePlaying(handle), 1);
    Render(600);
    EXPECT_EQ(IsSoundHandlePlaying(handle), 1);
    std::vector<float> out = Render(600);
    EXPECT_EQ(RampIndex(out[399]), 999);
    EXPECT_EQ(out[450], 0.0f);
    EXPECT_EQ(IsSoundHandlePlaying(handle), 0);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_BACK), 0);
    EXPECT_EQ(RampIndex(Render(5)[4]), 4);
}

TEST_F(PlaybackTest, PlayNormalReturnsAfterTheSoundHasEnded) {
    int handle = LoadRamp(2000);
    // The pump is where time passes: each pass mixes 100 frames.
    FAKE.onPeek = [](int) {
        float block[200];
        RenderLoopbackSamples(block, 100);
    };
    FAKE.peekCount = 0;
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_NORMAL), 0);
    EXPECT_EQ(IsSoundHandlePlaying(handle), 0);
    EXPECT_GE(FAKE.peekCount, 20);
    FAKE.onPeek = nullptr;
}

TEST_F(PlaybackTest, FasterPlayDoesNotAlias) {
    // At 1.5x an 18 kHz tone would sound at 27 kHz, above the output's
    // 22.05 kHz Nyquist frequency: whatever comes out is alias.
    int handle = LoadSine(18000, RATE, 1.0);
    ASSERT_EQ(SetSoundHandleFrequency(66150, handle), 0);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    Render(256);
    EXPECT_LT(ToDecibels(RmsLevel(Render(RATE / 2)) * sqrt(2)), -65);
}

TEST_F(PlaybackTest, SampleLayoutsPlayAtTheirLevelsAndSides) {
    // Left: a sine of amplitude 0.5; right: a constant -0.25 (or the same sine
    // for mono, which sounds on both sides).
    struct Case {
        int tag, channels, bits;
    } cases[] = {
        {WAVE_FORMAT_PCM, 1, 8}, {WAVE_FORMAT_PCM, 2, 8}, {WAVE_FORMAT_PCM, 2, 16},
        {WAVE_FORMAT_PCM, 2, 24}, {WAVE_FORMAT_PCM, 2, 32}, {WAVE_FORMAT_IEEE_FLOAT, 2, 32},
        {WAVE_FORMAT_IEEE_FLOAT, 1, 64},
    };
    const int frames = 4410;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tag << "/" << c.channels << "/" << c.bits);
        WaveFormat format = MakeWaveFormat(c.tag, c.channels, RATE, c.bits);
        std::vector<uint8_t> pcm((size_t)frames * format.blockAlign);
        for (int i = 0; i < frames; i++) {
            for (int ch = 0; ch < c.channels; ch++) {
                double v = ch == 0 ? 0.5 * sin(2 * M_PI * 1000 * i / RATE) : -0.25;
                uint8_t* p = pcm.data() + (size_t)i * format.blockAlign + ch * (c.bits / 8);
                if (c.tag == WAVE_FORMAT_IEEE_FLOAT && c.bits == 32) {
                    float f = (float)v;
                    memcpy(p, &f, 4);
                } else if (c.tag == WAVE_FORMAT_IEEE_FLOAT) {
                    memcpy(p, &v, 8);
                } else if (c.bits == 8) {
                    *p = (uint8_t)(128 + lrint(v * 127));
                } else {
                    int64_t n = (int64_t)llrint(v * (double)((1LL << (c.bits - 1)) - 1));
                    for (int b = 0; b < c.bits / 8; b++) p[b] = (uint8_t)(n >> (8 * b));
                }
            }
        }
        int handle = LoadPcm(format, pcm.data(), (int)pcm.size());
        ASSERT_GE(handle, 0);
        ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
        std::vector<float> stereo(frames * 2);
        RenderLoopbackSamples(stereo.data(), frames);
        double worstLeft = 0, worstRight = 0;
        double tolerance = c.bits == 8 ? 0.01 : 1e-4;
        for (int i = 0; i < frames; i++) {
            double left = 0.5 * sin(2 * M_PI * 1000 * i / RATE);
            double right = c.channels == 1 ? left : -0.25;
            worstLeft = std::max(worstLeft, fabs(stereo[i * 2] - left));
            worstRight = std::max(worstRight, fabs(stereo[i * 2 + 1] - right));
        }
        EXPECT_LT(worstLeft, tolerance);
        EXPECT_LT(worstRight, tolerance);
        DeleteSoundHandle(handle);
    }
}

TEST_F(PlaybackTest, SurroundSoundKeepsItsFrontChannels) {
    // 5.1 with a tone on front left only: it comes out on the left.
    WaveFormat format = MakeWaveFormat(WAVE_FORMAT_PCM, 6, RATE, 16);
    std::vector<int16_t> pcm(4410 * 6, 0);
    for (int i = 0; i < 4410; i++) pcm[i * 6] = (int16_t)lrint(16000 * sin(2 * M_PI * 1000 * i / RATE));
    int handle = LoadPcm(format, pcm.data(), (int)pcm.size() * 2);
    ASSERT_GE(handle, 0);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    std::vector<float> stereo(4410 * 2);
    RenderLoopbackSamples(stereo.data(), 4410);
    std::vector<float> left(4410), right(4410);
    for (int i = 0; i < 4410; i++) {
        left[i] = stereo[i * 2];
        right[i] = stereo[i * 2 + 1];
    }
    EXPECT_GT(RmsLevel(left), 0.1);
    EXPECT_GT(RmsLevel(left), 4 * RmsLevel(right));
    EXPECT_NEAR(MeasureFrequency(left, RATE), 1000, 1);
}

TEST_F(PlaybackTest, PositionIsCountedInTheBuffersOwnFormat) {
    const PlatformSoundOps* ops = PLATFORM.sound;
    WaveFormat format = MakeWaveFormat(WAVE_FORMAT_PCM, 2, RATE, 24);
    int id = ops->CreateBuffer(&format, 6 * 10000, DSBCAPS_CTRLFREQUENCY | DSBCAPS_STATIC);
    ASSERT_GT(id, 0);
    uint32_t position = 1;
    ASSERT_EQ(ops->Play(id, DSBPLAY_LOOPING), 0);
    RenderLoopbackSamples(std::vector<float>(2000).data(), 1000);
    ASSERT_EQ(ops->GetPosition(id, &position), 0);
    EXPECT_EQ(position, 6000u);
    // Stop keeps the place; a position set while stopped is where play resumes.
    ASSERT_EQ(ops->Stop(id), 0);
    ASSERT_EQ(ops->GetPosition(id, &position), 0);
    EXPECT_EQ(position, 6000u);
    ASSERT_EQ(ops->SetPosition(id, 600), 0);
    ASSERT_EQ(ops->GetPosition(id, &position), 0);
    EXPECT_EQ(position, 600u);
    ASSERT_EQ(ops->Play(id, 0), 0);
    RenderLoopbackSamples(std::vector<float>(200).data(), 100);
    ASSERT_EQ(ops->GetPosition(id, &position), 0);
    EXPECT_EQ(position, 1200u);
    // Without frequency control every rate is refused; the range is 100..200000 Hz.
    int fixed = ops->CreateBuffer(&format, 600, DSBCAPS_STATIC);
    EXPECT_EQ(ops->SetFrequency(fixed, 22050), -1);
    EXPECT_EQ(ops->SetFrequency(id, 99), -1);
    EXPECT_EQ(ops->SetFrequency(id, 200001), -1);
    EXPECT_EQ(ops->SetFrequency(id, 100), 0);
    EXPECT_EQ(ops->SetFrequency(id, 200000), 0);
    ops->ReleaseBuffer(fixed);
    ops->ReleaseBuffer(id);
}

TEST_F(PlaybackTest, DataLockedInPiecesPlaysWhole) {
    int handle = AddSoundData();
    WaveFormat format = MakeWaveFormat(WAVE_FORMAT_PCM, 1, RATE, 16);
    ASSERT_EQ(CreateSoundBuffers(&format, 2000, 1, handle), 0);
    for (int piece = 0; piece < 2; piece++) {
        void* part1 = nullptr;
        int bytes1 = 0;
        ASSERT_EQ(LockSoundBuffer(handle, 0, piece * 1000, 1000, &part1, &bytes1, nullptr, nullptr), 0);
        ASSERT_EQ(bytes1, 1000);
        for (int i = 0; i < 500; i++) ((int16_t*)part1)[i] = (int16_t)(piece * 500 + i);
        ASSERT_EQ(UnlockSoundBuffer(handle, 0, part1, bytes1, nullptr, 0), 0);
    }
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_BACK), 0);
    std::vector<float> out = Render(1000);
    for (int i = 0; i < 1000; i += 97) EXPECT_EQ(RampIndex(out[i]), i);
    // Its earlier content cannot be read back, so a filled buffer takes no new lock.
    void* part1 = nullptr;
    int bytes1 = 0;
    EXPECT_EQ(LockSoundBuffer(handle, 0, 0, 100, &part1, &bytes1, nullptr, nullptr), -1);
}

TEST_F(PlaybackTest, DefaultDeviceReportsItsOutputs) {
    EndSoundDevice();
    CloseLoopbackSoundDevice();
    NewLog();
    ASSERT_EQ(InitSoundDevice(), 0);  // the null output of this process
    std::string log = NewLog();
    EXPECT_NE(log.find("\t\tモジュール名:         openal  ドライバ記述:"), std::string::npos) << log;
    EXPECT_NE(log.find("\t最大サンプリングレート:200.00KHz 最小サンプリングレート:0.10KHz \r\n"), std::string::npos);
    EXPECT_NE(log.find("\t総サウンドメモリ領域:0.00KB 空きサウンドメモリ領域:0.00KB \r\n"), std::string::npos);
    EXPECT_NE(log.find("\t プライマリ MONO = OK  STEREO = OK \r\n"), std::string::npos);
    int handle = LoadSine(1000, 4410, 0.5);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    EXPECT_EQ(IsSoundHandlePlaying(handle), 1);
    EXPECT_EQ(StopSoundHandle(handle), 0);
    EXPECT_EQ(IsSoundHandlePlaying(handle), 0);
}

TEST_F(PlaybackTest, ToneLoopsWithoutASeam) {
    int handle = MakeToneSound(440, 250);
    ASSERT_GE(handle, 0);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    std::vector<float> out = Render(RATE);  // four times round the loop
    double fitted = 0;
    EXPECT_GT(MeasureSinad(out, RATE, 440, &fitted), 80);
    EXPECT_NEAR(fitted, 440, 2);
    EXPECT_NEAR(RmsLevel(out), 0.25 / sqrt(2), 0.002);
    EXPECT_EQ(MakeToneSound(0, 250), -1);
    EXPECT_EQ(MakeToneSound(30000, 250), -1);
    EndSoundDevice();
    EXPECT_EQ(MakeToneSound(440, 250), -1);
}

TEST_F(PlaybackTest, DataArrivingWhilePlayingJoinsWithoutAJump) {
    int handle = AddSoundData();
    WaveFormat format = MakeWaveFormat(WAVE_FORMAT_PCM, 1, RATE, 16);
    ASSERT_EQ(CreateSoundBuffers(&format, 2000, 1, handle), 0);
    auto fill = [&](int piece) {
        void* part1 = nullptr;
        int bytes1 = 0;
        ASSERT_EQ(LockSoundBuffer(handle, 0, piece * 1000, 1000, &part1, &bytes1, nullptr, nullptr), 0);
        for (int i = 0; i < 500; i++) ((int16_t*)part1)[i] = (int16_t)(piece * 500 + i);
        ASSERT_EQ(UnlockSoundBuffer(handle, 0, part1, bytes1, nullptr, 0), 0);
    };
    fill(0);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_BACK), 0);  // plays what is there so far
    std::vector<float> out = Render(300);
    EXPECT_EQ(RampIndex(out[299]), 299);
    fill(1);
    EXPECT_EQ(IsSoundHandlePlaying(handle), 1);
    // The mixer fades a source in when it restarts mid-sound: give it one
    // update, then the ramp must go on from where it was.
    Render(100);
    out = Render(600);
    for (int i = 0; i < 600; i += 50) EXPECT_EQ(RampIndex(out[i]), 400 + i);
    EXPECT_EQ(RampIndex(out[599]), 999);
}
