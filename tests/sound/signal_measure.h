// signal_measure.h: measuring rendered sound: frequency, level and the
// distortion left after fitting an ideal sine.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

// Frequency in Hz from the rising zero crossings of a signal sampled at rate
// (interpolated between samples), over the whole span between the first and
// the last crossing.
inline double MeasureFrequency(const std::vector<float>& x, double rate) {
    double first = -1, last = -1;
    int periods = -1;
    for (size_t i = 1; i < x.size(); i++) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            double t = (i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0) first = t;
            last = t;
            periods++;
        }
    }
    if (periods <= 0) return 0;
    return periods * rate / (last - first);
}

// The RMS of the quietest window of the given length, windows a third of it
// apart: a looped sine keeps its level in every one, a gap does not.
inline double QuietestWindowRms(const std::vector<float>& x, int window) {
    double quietest = 1;
    for (size_t start = 0; start + (size_t)window <= x.size(); start += (size_t)window / 3) {
        double sum = 0;
        for (size_t i = start; i < start + (size_t)window; i++) sum += (double)x[i] * x[i];
        quietest = std::min(quietest, std::sqrt(sum / window));
    }
    return quietest;
}

// The longest run of samples below the level (in magnitude).
inline int LongestQuietRun(const std::vector<float>& x, float level) {
    int run = 0, longest = 0;
    for (float v : x) {
        run = std::fabs(v) < level ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

inline double RmsLevel(const std::vector<float>& x) {
    double sum = 0;
    for (float v : x) sum += (double)v * v;
    return x.empty() ? 0 : std::sqrt(sum / x.size());
}

inline double ToDecibels(double ratio) { return 20 * std::log10(ratio > 1e-15 ? ratio : 1e-15); }

// Least-squares fit of a*sin + b*cos + c at a fixed frequency; returns the
// residual's power and the fitted sine's power.
inline void FitSine(const std::vector<float>& x, double rate, double hz, double* residualPower, double* sinePower) {
    double ss = 0, sc = 0, cc = 0, s1 = 0, c1 = 0, n = (double)x.size(), xs = 0, xc = 0, x1 = 0;
    for (size_t i = 0; i < x.size(); i++) {
        double w = 2 * M_PI * hz * i / rate;
        double s = std::sin(w), c = std::cos(w);
        ss += s * s; sc += s * c; cc += c * c; s1 += s; c1 += c;
        xs += x[i] * s; xc += x[i] * c; x1 += x[i];
    }
    // Solve the 3x3 normal equations by Cramer's rule.
    double m[3][3] = {{ss, sc, s1}, {sc, cc, c1}, {s1, c1, n}};
    double r[3] = {xs, xc, x1};
    auto det = [](double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    double d = det(m);
    double coef[3];
    for (int k = 0; k < 3; k++) {
        double t[3][3];
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 3; j++) t[i][j] = j == k ? r[i] : m[i][j];
        coef[k] = det(t) / d;
    }
    double residual = 0, sine = 0;
    for (size_t i = 0; i < x.size(); i++) {
        double w = 2 * M_PI * hz * i / rate;
        double fit = coef[0] * std::sin(w) + coef[1] * std::cos(w);
        double e = x[i] - fit - coef[2];
        residual += e * e;
        sine += fit * fit;
    }
    *residualPower = residual / n;
    *sinePower = sine / n;
}

// Signal to noise and distortion in dB against the best-fitting sine, its
// frequency searched around hz (the step of the resampler rounds the rate).
inline double MeasureSinad(const std::vector<float>& x, double rate, double hz, double* fittedHz = nullptr) {
    double best = -1, bestHz = hz, span = hz * 0.002;
    for (int pass = 0; pass < 4; pass++) {
        double center = bestHz;
        for (int k = -10; k <= 10; k++) {
            double f = center + span * k / 10;
            double residual, sine;
            FitSine(x, rate, f, &residual, &sine);
            double ratio = sine / (residual > 0 ? residual : 1e-30);
            if (ratio > best) {
                best = ratio;
                bestHz = f;
            }
        }
        span /= 10;
    }
    if (fittedHz) *fittedHz = bestHz;
    return 10 * std::log10(best);
}
