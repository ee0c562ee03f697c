// practice_measure.cpp: figures from the wave writer's recordings for
// bench/practice_bench.sh (16-bit stereo at 44100 Hz, the left channel read).
//   practice_measure pitch REC FROM TO    the pitch between FROM and TO seconds (Hz)
//   practice_measure loop REC SOURCE      the loop's length in the recording
//       (seconds; the source file starts with 50 ms of 1000 Hz, the rest is
//       440 Hz), the largest sample step near each return, the source's own
//       largest and the recording's own away from the returns, as fractions
//       of full scale
//   practice_measure change REC AT        seconds from AT (into the recording)
//       to where the speed halved: the source alternates 440 and 660 Hz every
//       50 ms, and the first run that lasts longer tells how much of it was
//       played at the old speed
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../tests/sound/signal_measure.h"

namespace {

const int RATE = 44100;

// Channel 0 of a 16-bit PCM WAVE, as -1..1.
std::vector<float> ReadLeft(const char* path) {
    std::vector<float> out;
    FILE* f = fopen(path, "rb");
    if (!f) return out;
    char head[12];
    if (fread(head, 1, 12, f) != 12) {
        fclose(f);
        return out;
    }
    int channels = 2;
    for (;;) {
        char id[4];
        uint32_t size;
        if (fread(id, 1, 4, f) != 4 || fread(&size, 4, 1, f) != 1) break;
        if (memcmp(id, "fmt ", 4) == 0) {
            std::vector<uint8_t> fmt(size);
            if (fread(fmt.data(), 1, size, f) != size) break;
            channels = fmt[2] | fmt[3] << 8;
            continue;
        }
        if (memcmp(id, "data", 4) != 0) {
            fseek(f, size + (size & 1), SEEK_CUR);
            continue;
        }
        std::vector<int16_t> frame(channels);
        while (fread(frame.data(), 2, channels, f) == (size_t)channels) out.push_back(frame[0] / 32768.0f);
        break;
    }
    fclose(f);
    return out;
}

// Starts of the 1000 Hz marker: 10 ms windows whose rising crossings say
// 1000 Hz after windows that said 440 Hz.
std::vector<double> FindMarkers(const std::vector<float>& x) {
    std::vector<double> starts;
    const int window = RATE / 100;
    // A marker holds for three windows in a row at least (a glitch of one
    // window's length is no marker).
    int run = 3;
    for (size_t at = 0; at + window <= x.size(); at += window / 2) {
        std::vector<float> w(x.begin() + at, x.begin() + at + window);
        double hz = MeasureFrequency(w, RATE);
        int marker = hz > 800 && hz < 1200 && RmsLevel(w) > 0.01;
        run = marker ? run + 1 : 0;
        if (run == 3) starts.push_back((double)(at - window) / RATE);
    }
    return starts;
}

double LargestStep(const std::vector<float>& x, size_t from, size_t to) {
    double largest = 0;
    for (size_t i = from + 1; i < to && i < x.size(); i++) largest = std::fmax(largest, std::fabs(x[i] - x[i - 1]));
    return largest;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && strcmp(argv[1], "pitch") == 0) {
        std::vector<float> x = ReadLeft(argv[2]);
        size_t from = (size_t)(atof(argv[3]) * RATE), to = (size_t)(atof(argv[4]) * RATE);
        if (to > x.size() || from >= to) return 1;
        printf("%.2f\n", MeasureFrequency(std::vector<float>(x.begin() + from, x.begin() + to), RATE));
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "loop") == 0) {
        std::vector<float> x = ReadLeft(argv[2]), source = ReadLeft(argv[3]);
        std::vector<double> starts = FindMarkers(x);
        if (starts.size() < 3 || source.empty()) {
            printf("no loop found (%zu markers)\n", starts.size());
            return 1;
        }
        // Loops between the first and the last marker (the first one may be a partial start).
        double length = (starts.back() - starts[1]) / (starts.size() - 2);
        if (getenv("PRACTICE_MEASURE_VERBOSE") != nullptr) {
            for (double t : starts) fprintf(stderr, "marker at %.3f s\n", t);
        }
        double seam = 0;
        for (size_t i = 1; i < starts.size(); i++) {
            size_t at = (size_t)(starts[i] * RATE);
            seam = std::fmax(seam, LargestStep(x, at > (size_t)RATE / 10 ? at - RATE / 10 : 0, at + RATE / 10));
        }
        // The source's own largest step, its end meeting its start included.
        double own = LargestStep(source, 0, source.size());
        own = std::fmax(own, std::fabs(source.front() - source.back()));
        // And the stretched sound's own, away from the returns.
        double elsewhere = 0;
        for (size_t i = 1; i + 1 < starts.size(); i++) {
            size_t from = (size_t)(starts[i] * RATE) + RATE / 10, to = (size_t)(starts[i + 1] * RATE) - RATE / 10;
            if (from < to) elsewhere = std::fmax(elsewhere, LargestStep(x, from, to));
        }
        printf("%.4f %zu %.4f %.4f %.4f\n", length, starts.size() - 2, seam, own, elsewhere);
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "change") == 0) {
        std::vector<float> x = ReadLeft(argv[2]);
        double at = atof(argv[3]);
        const int window = RATE / 400;  // 2.5 ms
        int tone = 0;
        double runStart = -1;
        for (size_t i = 0; i + 2 * window <= x.size(); i += window) {
            double hz = MeasureFrequency(std::vector<float>(x.begin() + i, x.begin() + i + 2 * window), RATE);
            int now = hz > 400 && hz < 480 ? 1 : hz > 600 && hz < 720 ? 2 : 0;
            if (now == 0 || now == tone) continue;
            double t = (double)i / RATE;
            // A run of 50 ms of the file that lasted L: 100 - L ms of it went
            // at the old speed, the rest at half of it.
            double length = t - runStart;
            if (tone != 0 && runStart > at - 0.1 && length > 0.055) {
                printf("%.3f\n", runStart + (0.1 - length) - at);
                return 0;
            }
            tone = now;
            runStart = t;
        }
        printf("none\n");
        return 1;
    }
    fprintf(stderr, "usage: practice_measure pitch REC FROM TO | loop REC SOURCE | change REC AT\n");
    return 2;
}
