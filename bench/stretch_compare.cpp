// stretch_compare.cpp: the two time-stretching libraries Debian offers, side by
// side on the same input, in their real-time modes with blocks of the size the
// player streams: SoundTouch 2.3 and Rubber Band 3 (its R3 "finer" engine and
// its R2 "faster" one). For each speed it prints
//   - the pitch of a 440 Hz tone after stretching (Hz; the tone's own is 440),
//     and with the pitch raised two semitones (493.88 Hz);
//   - how sharp the clicks of a click train stay: the share of each click's
//     energy within 2 ms of its peak (1 for the input, lower when the stretcher
//     smears it), and the level of what comes before each click (pre-echo, dB
//     under the click's peak);
//   - CPU time per second of output (ms), single-threaded.
// Rubber Band is GPL: this program only measures it and is never installed.
#include <rubberband/RubberBandStretcher.h>
#include <SoundTouch.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "../tests/sound/signal_measure.h"

namespace {

const int RATE = 44100;
const int CHANNELS = 2;
const int BLOCK = 1024;  // frames fed at a time

double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

enum Engine { SOUNDTOUCH, RUBBERBAND_R3, RUBBERBAND_R2 };
const char* ENGINE_NAMES[] = {"SoundTouch 2.3", "Rubber Band R3", "Rubber Band R2"};

// Stereo interleaved input (both channels the same) stretched to speed with
// the pitch moved by semitones; returns the left channel and the CPU time.
std::vector<float> Stretch(Engine engine, const std::vector<float>& mono, double speed, int semitones,
                           double* cpu) {
    std::vector<float> out;
    double pitch = std::pow(2.0, semitones / 12.0);
    double start = CpuSeconds();
    if (engine == SOUNDTOUCH) {
        soundtouch::SoundTouch st;
        st.setSampleRate(RATE);
        st.setChannels(CHANNELS);
        st.setTempo(speed);
        st.setPitch(pitch);
        // As the player sets it (platform/soundtouch/soundtouch_stretcher.cpp).
        st.setSetting(SETTING_SEQUENCE_MS, 40);
        st.setSetting(SETTING_SEEKWINDOW_MS, 15);
        std::vector<float> in(BLOCK * CHANNELS), got(BLOCK * CHANNELS);
        for (size_t at = 0; at < mono.size(); at += BLOCK) {
            size_t n = mono.size() - at < (size_t)BLOCK ? mono.size() - at : BLOCK;
            for (size_t i = 0; i < n; i++) in[2 * i] = in[2 * i + 1] = mono[at + i];
            st.putSamples(in.data(), (uint)n);
            uint r;
            while ((r = st.receiveSamples(got.data(), BLOCK)) > 0) {
                for (uint i = 0; i < r; i++) out.push_back(got[2 * i]);
            }
        }
    } else {
        using RubberBand::RubberBandStretcher;
        RubberBandStretcher::Options options = RubberBandStretcher::OptionProcessRealTime |
                                               RubberBandStretcher::OptionPitchHighConsistency;
        options |= engine == RUBBERBAND_R3 ? RubberBandStretcher::OptionEngineFiner
                                           : RubberBandStretcher::OptionEngineFaster;
        RubberBandStretcher rb(RATE, CHANNELS, options, 1.0 / speed, pitch);
        std::vector<float> left(BLOCK), right(BLOCK), outLeft(BLOCK), outRight(BLOCK);
        for (size_t at = 0; at < mono.size(); at += BLOCK) {
            size_t n = mono.size() - at < (size_t)BLOCK ? mono.size() - at : BLOCK;
            for (size_t i = 0; i < n; i++) left[i] = right[i] = mono[at + i];
            const float* channels[2] = {left.data(), right.data()};
            rb.process(channels, n, false);
            int available;
            while ((available = rb.available()) > 0) {
                float* outs[2] = {outLeft.data(), outRight.data()};
                size_t r = rb.retrieve(outs, available < BLOCK ? available : BLOCK);
                for (size_t i = 0; i < r; i++) out.push_back(outLeft[i]);
            }
        }
    }
    *cpu = CpuSeconds() - start;
    return out;
}

// The pitch of the middle of a stretched tone.
double MeasurePitch(const std::vector<float>& out) {
    if (out.size() < (size_t)RATE * 3) return 0;
    std::vector<float> middle(out.begin() + out.size() / 2 - RATE, out.begin() + out.size() / 2 + RATE);
    return MeasureFrequency(middle, RATE);
}

// Clicks (a 1 ms burst every 250 ms) after stretching: their sharpness and pre-echo.
void MeasureClicks(const std::vector<float>& out, double* sharpness, double* preEcho) {
    const int window = RATE / 500;  // 2 ms
    double kept = 0, total = 0, before = 0, peaks = 0;
    int counted = 0;
    // Each click's peak: the loudest sample of each 1/4 s of output stretched.
    size_t span = (size_t)(RATE / 4 / 1);
    for (size_t at = RATE; at + span < out.size() - RATE; at += span / 2) {
        size_t peak = at;
        for (size_t i = at; i < at + span; i++) {
            if (std::fabs(out[i]) > std::fabs(out[peak])) peak = i;
        }
        if (std::fabs(out[peak]) < 0.1) continue;
        double near = 0, all = 0, pre = 0;
        for (size_t i = peak - RATE / 20; i < peak + RATE / 20; i++) {
            double e = (double)out[i] * out[i];
            all += e;
            if (i + window >= peak && i <= peak + window) near += e;
            if (i + RATE / 200 < peak) pre = std::fmax(pre, std::fabs(out[i]));
        }
        kept += near;
        total += all;
        before += pre;
        peaks += std::fabs(out[peak]);
        counted++;
    }
    *sharpness = total > 0 ? kept / total : 0;
    *preEcho = counted > 0 ? ToDecibels(before / peaks) : 0;
}

}  // namespace

int main() {
    const int seconds = 20;
    std::vector<float> tone(RATE * seconds), clicks(RATE * seconds, 0.0f);
    for (size_t i = 0; i < tone.size(); i++) tone[i] = 0.5f * (float)std::sin(2 * M_PI * 440.0 * i / RATE);
    for (size_t i = 0; i < clicks.size(); i += RATE / 4) {
        for (int k = 0; k < RATE / 1000; k++) clicks[i + k] = 0.8f * (float)std::sin(2 * M_PI * 3000.0 * k / RATE);
    }
    const double speeds[] = {0.5, 0.75, 1.5};
    printf("%-16s %5s %9s %10s %9s %9s %10s\n", "engine", "speed", "pitch Hz", "+2 st Hz", "sharp", "pre dB",
           "CPU ms/s");
    for (int e = 0; e < 3; e++) {
        for (double speed : speeds) {
            double cpu = 0, cpu2 = 0, cpu3 = 0;
            std::vector<float> plain = Stretch((Engine)e, tone, speed, 0, &cpu);
            std::vector<float> raised = Stretch((Engine)e, tone, speed, 2, &cpu2);
            std::vector<float> clicked = Stretch((Engine)e, clicks, speed, 0, &cpu3);
            double sharp = 0, pre = 0;
            MeasureClicks(clicked, &sharp, &pre);
            double outSeconds = (double)plain.size() / RATE;
            printf("%-16s %5.2f %9.2f %10.2f %9.3f %9.1f %10.2f\n", ENGINE_NAMES[e], speed, MeasurePitch(plain),
                   MeasurePitch(raised), sharp, pre, outSeconds > 0 ? cpu * 1000 / outSeconds : 0);
        }
    }
    return 0;
}
