// The real mixer's limits: how many buffers it holds, how much memory a buffer
// takes, what happens when memory runs out, and the ends of the rate range.
// Each test renders through OpenAL Soft's loopback device.
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef __SANITIZE_ADDRESS__
// The sanitizer's allocator statistics (not in the compiler's headers).
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

#include "signal_measure.h"
#include "sound_test_support.h"

namespace {

[[maybe_unused]] const int NULL_DRIVER = setenv("ALSOFT_DRIVERS", "null", 1);

constexpr int RATE = 44100;  // Hz

class DeviceLimitTest : public SoundTest {
protected:
    void SetUp() override {
        SoundTest::SetUp();
        PLATFORM.sound = &OPENAL_SOUND_OPS;
        OpenAt(RATE);
    }
    void OpenAt(int outputRate) {
        EndSoundDevice();
        ASSERT_EQ(OpenLoopbackSoundDevice(outputRate, 2, LOOPBACK_FLOAT), 0);
        ASSERT_EQ(InitSoundDevice(), 0);
        ASSERT_EQ(IsSoundDeviceOpen(), 1);
    }
    static void FillAndPlayBuffersTooLargeForMemory(void);
    static std::vector<float> Render(int frames, int channel) {
        std::vector<float> stereo((size_t)frames * 2);
        RenderLoopbackSamples(stereo.data(), frames);
        std::vector<float> out(frames);
        for (int i = 0; i < frames; i++) out[i] = stereo[(size_t)i * 2 + channel];
        return out;
    }
};

// Bytes the process holds from the allocator (the mixer's own blocks included).
size_t AllocatedBytes(void) {
#ifdef __SANITIZE_ADDRESS__
    return __sanitizer_get_current_allocated_bytes();
#else
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

// Virtual memory of this process, in bytes.
[[maybe_unused]] size_t AddressSpaceBytes(void) {
    unsigned long pages = 0;
    FILE* f = fopen("/proc/self/statm", "r");
    if (f) {
        if (fscanf(f, "%lu", &pages) != 1) pages = 0;
        fclose(f);
    }
    return pages * (size_t)sysconf(_SC_PAGESIZE);
}

// A death test whose child starts the program afresh instead of forking it:
// the mixer's event thread may hold one of its locks at the moment of a fork,
// and the forked child would wait on it for ever.
class ChildStartsAfresh {
public:
    ChildStartsAfresh() : saved_(GTEST_FLAG_GET(death_test_style)) { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
    ~ChildStartsAfresh() { GTEST_FLAG_SET(death_test_style, saved_); }

private:
    std::string saved_;
};

}  // namespace

TEST_F(DeviceLimitTest, AFullTableOfSoundsWithTenBuffersEachLoadsAndPlays) {
    // One source per buffer: 512 x 10 of them plus the beep buffer's. The
    // mixer's default of 256 would end the program at the 26th sound.
    ChildStartsAfresh afresh;
    EXPECT_EXIT(
        {
            std::vector<int16_t> pcm(64, 1);
            WaveFormat format = MakeWaveFormat(WAVE_FORMAT_PCM, 1, RATE, 16);
            std::vector<int> handles;
            for (int i = 0; i < MAX_SOUND_HANDLES; i++) {
                handles.push_back(LoadPcm(format, pcm.data(), 128, MAX_SOUND_BUFFERS));
            }
            int ok = GetSoundHandleCount() == MAX_SOUND_HANDLES;
            // Every buffer of every sound at once.
            for (int handle : handles) {
                for (int i = 0; i < MAX_SOUND_BUFFERS; i++) ok &= PlaySoundHandle(handle, PLAY_LOOP) == 0;
            }
            std::vector<float> out = Render(16, 0);
            for (int handle : handles) ok &= IsSoundHandlePlaying(handle) == 1;
            // 5120 sources of 1/32768 each, at their level.
            ok &= fabs(out[8] - 5120.0 / 32768) < 1e-3;
            fprintf(stderr, "all played: %d (level %f)\n", ok, out[8]);
            _exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "all played: 1");
}

TEST_F(DeviceLimitTest, MonoIsHeldAsMonoAndPlaysAtFullScaleOnBothSides) {
    const PlatformSoundOps* ops = PLATFORM.sound;
    const int frames = RATE * 60;  // 5.3 MB of 16-bit mono
    WaveFormat format = MakeWaveFormat(WAVE_FORMAT_PCM, 1, RATE, 16);
    std::vector<int16_t> pcm(frames);
    for (int i = 0; i < frames; i++) pcm[i] = i % 2 ? -32767 : 32767;
    size_t before = AllocatedBytes();
    int id = ops->CreateBuffer(&format, frames * 2, DSBCAPS_STATIC);
    ASSERT_GT(id, 0);
    ASSERT_EQ(ops->Fill(id, pcm.data(), frames * 2), 0);
    // The mixer keeps one copy in the buffer's own size, not a doubled one.
    double held = (double)(AllocatedBytes() - before) / (frames * 2);
    EXPECT_LT(held, 1.2);
    EXPECT_GT(held, 0.8);
    ASSERT_EQ(ops->Play(id, 0), 0);
    std::vector<float> stereo(400);
    RenderLoopbackSamples(stereo.data(), 200);
    for (int i = 100; i < 200; i++) {
        double expected = i % 2 ? -32767 / 32768.0 : 32767 / 32768.0;
        ASSERT_NEAR(stereo[i * 2], expected, 1e-4) << i;
        ASSERT_NEAR(stereo[i * 2 + 1], expected, 1e-4) << i;
    }
    ops->ReleaseBuffer(id);
}

// The child of the test below: 600 MB buffers the allocator refuses.
void DeviceLimitTest::FillAndPlayBuffersTooLargeForMemory(void) {
    const uint32_t BYTES = 600000000;  // a whole number of 24-bit stereo frames
    const PlatformSoundOps* ops = PLATFORM.sound;
    // The data lies in pages of its own, outside the allocator.
    void* data = mmap(nullptr, BYTES, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) _exit(2);
#ifndef __SANITIZE_ADDRESS__
    // Without the sanitizer's allocator options: room for 256 MB more.
    struct rlimit limit = {};
    limit.rlim_cur = limit.rlim_max = AddressSpaceBytes() + (256u << 20);
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
#endif
    // Converted to float on the way up (800 MB).
    WaveFormat deep = MakeWaveFormat(WAVE_FORMAT_PCM, 2, RATE, 24);
    int converted = ops->CreateBuffer(&deep, (int)BYTES, DSBCAPS_STATIC);
    int fill = ops->Fill(converted, data, BYTES);
    // Never written: played as silence of its own size.
    WaveFormat plain = MakeWaveFormat(WAVE_FORMAT_PCM, 2, RATE, 16);
    int silent = ops->CreateBuffer(&plain, (int)BYTES, DSBCAPS_STATIC);
    int play = ops->Play(silent, 0);
    // The device goes on with sounds that fit.
    int small = LoadPcm(MakeWaveFormat(WAVE_FORMAT_PCM, 1, RATE, 16), data, 1000);
    int ok = converted > 0 && silent > 0 && fill == -1 && play == -1 && small >= 0 &&
             PlaySoundHandle(small, PLAY_BACK) == 0;
    fprintf(stderr, "refused: %d %d %d %d %d\n", converted, fill, silent, play, small);
    _exit(ok ? 0 : 1);
}

TEST_F(DeviceLimitTest, BuffersTooLargeForMemoryFailWithoutEndingTheProgram) {
    // In a child whose allocator refuses blocks of 256 MB or more the
    // device's blocks fail and the operations return -1.
    ChildStartsAfresh afresh;  // which also makes the child read the options below
#ifdef __SANITIZE_ADDRESS__
    const char* options = getenv("ASAN_OPTIONS");
    std::string saved = options ? options : "";
    setenv("ASAN_OPTIONS", (saved + ":allocator_may_return_null=1:max_allocation_size_mb=256").c_str(), 1);
#endif
    EXPECT_EXIT(FillAndPlayBuffersTooLargeForMemory(), testing::ExitedWithCode(0), "refused: ");
#ifdef __SANITIZE_ADDRESS__
    setenv("ASAN_OPTIONS", saved.c_str(), 1);
#endif
}

TEST_F(DeviceLimitTest, SizeCheckCountsTheBytesAsUploaded) {
    // The mixer's size type holds 2^31 - 1 bytes; 24-bit samples are uploaded
    // as floats (4/3 as large), a folded 3-channel layout as stereo floats
    // (8 bytes a frame), 16-bit stereo as it is.
    struct Case {
        int tag, channels, bits;
        double bytes;
        int holds;
    } cases[] = {
        {WAVE_FORMAT_PCM, 2, 24, 1.5e9, 1}, {WAVE_FORMAT_PCM, 2, 24, 1.7e9, 0},
        {WAVE_FORMAT_PCM, 3, 8, 0.75e9, 1}, {WAVE_FORMAT_PCM, 3, 8, 0.85e9, 0},
        {WAVE_FORMAT_PCM, 2, 16, 2.1e9, 1}, {WAVE_FORMAT_IEEE_FLOAT, 1, 64, 4.2e9, 1},
        {WAVE_FORMAT_PCM, 6, 16, 2.1e9, 1},
    };
    for (const Case& c : cases) {
        WaveFormat format = MakeWaveFormat(c.tag, c.channels, RATE, c.bits);
        EXPECT_EQ(PLATFORM.sound->CanHoldBuffer(&format, (uint32_t)c.bytes), c.holds)
            << c.channels << " x " << c.bits << " bits, " << c.bytes << " bytes";
    }
}

TEST_F(DeviceLimitTest, RatesBeyondTheResamplersReachAreRefused) {
    // The sinc resampler plays a step of up to about 4.9 source samples per
    // output sample at full level and fades beyond (silent by 12). At 22050 Hz
    // of output a 100 Hz buffer holding one period (a 1 Hz tone) set to 108000
    // Hz sounds at 1080 Hz; 110000 Hz would fade, so it is refused and the
    // rate stays where it was.
    const int OUTPUT = 22050;
    OpenAt(OUTPUT);
    std::vector<int16_t> pcm(100);
    for (int i = 0; i < 100; i++) pcm[i] = (int16_t)lrint(16384 * sin(2 * M_PI * i / 100));
    int handle = LoadPcm(MakeWaveFormat(WAVE_FORMAT_PCM, 1, 100, 16), pcm.data(), 200);
    ASSERT_GE(handle, 0);
    int buffer = GetSoundBufferId(handle, 0);
    const PlatformSoundOps* ops = PLATFORM.sound;
    ASSERT_EQ(ops->SetFrequency(buffer, 108000), 0);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    Render(256, 0);
    std::vector<float> out = Render(OUTPUT / 2, 0);
    EXPECT_NEAR(MeasureFrequency(out, OUTPUT), 1080, 0.5);
    EXPECT_NEAR(RmsLevel(out), 0.5 / sqrt(2), 0.003);
    EXPECT_EQ(ops->SetFrequency(buffer, 110000), -1);
    EXPECT_EQ(ops->SetFrequency(buffer, 200000), -1);
    Render(256, 0);
    out = Render(OUTPUT / 2, 0);
    EXPECT_NEAR(MeasureFrequency(out, OUTPUT), 1080, 0.5);
    EXPECT_NEAR(RmsLevel(out), 0.5 / sqrt(2), 0.003);
    // The buffer's own rate and the low end are always reached.
    EXPECT_EQ(ops->SetFrequency(buffer, 0), 0);
    EXPECT_EQ(ops->SetFrequency(buffer, 100), 0);
    // At 44100 Hz of output the whole range is reached, 200000 Hz included.
    OpenAt(RATE);
    handle = LoadPcm(MakeWaveFormat(WAVE_FORMAT_PCM, 1, 100, 16), pcm.data(), 200);
    ASSERT_EQ(ops->SetFrequency(GetSoundBufferId(handle, 0), 200000), 0);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    Render(256, 0);
    out = Render(RATE / 2, 0);
    EXPECT_NEAR(MeasureFrequency(out, RATE), 2000, 0.5);
    EXPECT_NEAR(RmsLevel(out), 0.5 / sqrt(2), 0.003);
}

TEST_F(DeviceLimitTest, EachNewRateIsHeardAndTheOwnRateComesBack) {
    // A 441 Hz tone at 44100 Hz (one period of 100 samples, looped), set to
    // rates in turn, each heard as it is set, the buffer's own rate included
    // (as 0 and as its number), whatever was set before.
    std::vector<int16_t> pcm(100);
    for (int i = 0; i < 100; i++) pcm[i] = (int16_t)lrint(16384 * sin(2 * M_PI * i / 100));
    int handle = LoadPcm(MakeWaveFormat(WAVE_FORMAT_PCM, 1, RATE, 16), pcm.data(), 200);
    ASSERT_GE(handle, 0);
    int buffer = GetSoundBufferId(handle, 0);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    const struct {
        uint32_t hz;
        double heard;
    } steps[] = {{88200, 882}, {0, 441}, {88200, 882}, {88200, 882}, {RATE, 441}, {22050, 220.5}, {0, 441}};
    for (const auto& step : steps) {
        ASSERT_EQ(PLATFORM.sound->SetFrequency(buffer, step.hz), 0) << step.hz;
        Render(256, 0);
        EXPECT_NEAR(MeasureFrequency(Render(RATE / 4, 0), RATE), step.heard, 1.0) << "after setting " << step.hz;
    }
    // The status says how the buffer plays now.
    uint32_t status = 0;
    ASSERT_EQ(PLATFORM.sound->GetStatus(buffer, &status), 0);
    EXPECT_EQ(status, (uint32_t)(DSBSTATUS_PLAYING | DSBSTATUS_LOOPING));
    ASSERT_EQ(PLATFORM.sound->Play(buffer, 0), 0);
    ASSERT_EQ(PLATFORM.sound->GetStatus(buffer, &status), 0);
    EXPECT_EQ(status, (uint32_t)DSBSTATUS_PLAYING);
}
