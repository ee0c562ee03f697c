// sound_resampler_bench.cpp: how cleanly each of the mixer's resamplers plays
// a sound faster or slower, rendered through the loopback device in float.
//
// For every resampler, side by side:
//   - SINAD of a full-scale 16-bit 1 kHz sine played at 1.5x and 0.75x its
//     rate, against the best-fitting ideal sine (dB, higher is better);
//   - the output level of a full-scale 18 kHz sine played at 1.5x: 27 kHz is
//     above the output's Nyquist frequency, so all that comes out is alias
//     (dBFS, lower is better);
//   - the time to mix one second of that sound (ms).
// Then the rate error of the mixer's fixed-point step (1/4096 of the output
// rate): the largest difference between the rate asked for and the rate that
// plays, over 100..200000 Hz, with a few rates checked by measurement.
//
// Goals for the resampler the library chooses: at least 75 dB at both rates
// and alias at -65 dBFS or lower.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/platform.h"
#include "platform/sound_device.h"
#include "sound/sound.h"
#include "sound/sound_internal.h"
#include "tests/sound/signal_measure.h"

namespace {

constexpr int RATE = 44100;           // Hz, output and sounds
constexpr int SETTLE_FRAMES = 2048;   // skipped after a start or a rate change
constexpr int MEASURE_FRAMES = RATE;  // one second

// A looping 16-bit mono sine; one second holds a whole number of periods.
int LoadSine(double hz) {
    std::vector<int16_t> pcm(RATE);
    for (int i = 0; i < RATE; i++) pcm[i] = (int16_t)lrint(32767 * sin(2 * M_PI * hz * i / RATE));
    WaveFormat format = {WAVE_FORMAT_PCM, 1, RATE, RATE * 2, 2, 16, 0, 0};
    int handle = AddSoundData();
    if (CreateSoundBuffers(&format, RATE * 2, 1, handle) != 0) return -1;
    void* part1 = nullptr;
    int bytes1 = 0;
    if (LockSoundBuffer(handle, 0, 0, RATE * 2, &part1, &bytes1, nullptr, nullptr) != 0) return -1;
    memcpy(part1, pcm.data(), bytes1);
    UnlockSoundBuffer(handle, 0, part1, bytes1, nullptr, 0);
    return handle;
}

std::vector<float> RenderLeft(int frames, double* milliseconds = nullptr) {
    std::vector<float> stereo((size_t)frames * 2);
    // (<chrono> does not build with the Shift-JIS execution character set.)
    timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    RenderLoopbackSamples(stereo.data(), frames);
    clock_gettime(CLOCK_MONOTONIC, &end);
    if (milliseconds) *milliseconds = (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6;
    std::vector<float> left(frames);
    for (int i = 0; i < frames; i++) left[i] = stereo[(size_t)i * 2];
    return left;
}

// Plays a sine at a rate and renders what comes out after it has settled.
std::vector<float> PlayAt(double toneHz, int playRate, double* milliseconds = nullptr) {
    int handle = LoadSine(toneHz);
    SetSoundHandleFrequency(playRate, handle);
    PlaySoundHandle(handle, PLAY_LOOP);
    RenderLeft(SETTLE_FRAMES);
    std::vector<float> out = RenderLeft(MEASURE_FRAMES, milliseconds);
    DeleteSoundHandle(handle);
    return out;
}

// The rate the mixer plays for a requested rate: its step is the pitch times
// 4096, rounded, in single precision as the mixer computes it.
double PlayedRate(int requested) {
    float pitch = (float)RATE / (float)RATE * ((float)requested / (float)RATE);
    long step = lrintf(pitch * 4096.0f);
    if (step < 1) step = 1;
    return (double)step * RATE / 4096.0;
}

}  // namespace

int main() {
    setenv("ALSOFT_DRIVERS", "null", 1);  // never the machine's speakers
    if (OpenLoopbackSoundDevice(RATE, 2, LOOPBACK_FLOAT) != 0 || InitSoundDevice() != 0 || !IsSoundDeviceOpen()) {
        fprintf(stderr, "the loopback device could not be opened\n");
        return 1;
    }
    int count = GetSoundResamplerCount();
    int chosen = GetChosenSoundResampler();
    printf("Resampling quality, %d Hz float output, 16-bit full-scale sines\n\n", RATE);
    printf("%-18s %12s %12s %16s %12s\n", "resampler", "SINAD 1.5x", "SINAD 0.75x", "alias 18k@1.5x", "mix 1 s");
    for (int i = 0; i < count; i++) {
        SetSoundResamplerOverride(i);
        double sinadFast = MeasureSinad(PlayAt(1000, RATE * 3 / 2), RATE, 1500);
        double sinadSlow = MeasureSinad(PlayAt(1000, RATE * 3 / 4), RATE, 750);
        double ms = 0;
        double alias = ToDecibels(RmsLevel(PlayAt(18000, RATE * 3 / 2, &ms)) * sqrt(2.0));
        printf("%-18s %9.1f dB %9.1f dB %11.1f dBFS %9.2f ms%s\n", GetSoundResamplerName(i), sinadFast, sinadSlow,
               alias, ms, i == chosen ? "   <- used" : "");
    }
    SetSoundResamplerOverride(-1);

    // Rate error of the step, worked out over every whole rate, and checked
    // by measuring a 1 kHz tone at a few of them.
    double worstHz = 0, worstRelative = 0, worstNearPlayer = 0;
    int worstHzAt = 0, worstRelativeAt = 0, worstNearPlayerAt = 0;
    for (int r = 100; r <= 200000; r++) {
        double error = fabs(PlayedRate(r) - r);
        if (error > worstHz) worstHz = error, worstHzAt = r;
        if (error / r > worstRelative) worstRelative = error / r, worstRelativeAt = r;
        if (r >= 40000 && r <= 50000 && error > worstNearPlayer) worstNearPlayer = error, worstNearPlayerAt = r;
    }
    printf("\nRate error of the 1/4096 step (%d Hz sounds on a %d Hz output), 100..200000 Hz:\n", RATE, RATE);
    printf("  largest:             %8.3f Hz at %d Hz\n", worstHz, worstHzAt);
    printf("  largest relative:    %8.3f %% at %d Hz (plays as %.3f Hz)\n", worstRelative * 100, worstRelativeAt,
           PlayedRate(worstRelativeAt));
    printf("  largest 40..50 kHz:  %8.3f Hz at %d Hz\n", worstNearPlayer, worstNearPlayerAt);
    printf("\n%10s %14s %14s %14s\n", "asked Hz", "model Hz", "measured Hz", "difference");
    for (int r : {100, 150, 1000, 44150, 44100 + 5, 88200, 150001, 200000}) {
        // The tone's measured frequency over 1 kHz scales the played rate.
        double hz = MeasureFrequency(PlayAt(1000, r), RATE);
        double measured = hz / 1000.0 * RATE;
        printf("%10d %14.3f %14.3f %14.3f\n", r, PlayedRate(r), measured, measured - PlayedRate(r));
    }
    EndSoundDevice();
    CloseLoopbackSoundDevice();
    return 0;
}
