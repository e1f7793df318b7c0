#include "authoring/tempo.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

constexpr double kDefaultTempo = 120.0;
// Weighting of candidate tempos: a log-normal around 120 BPM, one octave wide.
constexpr double kPreferredTempo = 120.0;
constexpr double kPreferenceOctaves = 1.0;
// The beat period is refined on this many beats.
constexpr int kRefineBeats = 8;

// Circular autocorrelation of x at `lag` (the songs loop).
double autocorrelation(const std::vector<double>& x, long lag) {
    const long n = static_cast<long>(x.size());
    double sum = 0.0;
    for (long i = 0; i < n; ++i) {
        sum += x[static_cast<size_t>(i)] * x[static_cast<size_t>((i + lag) % n)];
    }
    return sum / n;
}

// The fractional lag of the largest autocorrelation within [from, to], by parabolic interpolation.
double peakLag(const std::vector<double>& x, long from, long to) {
    long best = from;
    double bestValue = autocorrelation(x, from);
    for (long lag = from + 1; lag <= to; ++lag) {
        const double v = autocorrelation(x, lag);
        if (v > bestValue) {
            bestValue = v;
            best = lag;
        }
    }
    const double a = autocorrelation(x, best - 1);
    const double c = autocorrelation(x, best + 1);
    const double curve = a - 2.0 * bestValue + c;
    double offset = 0.0;
    if (curve < 0.0) {
        offset = std::clamp(0.5 * (a - c) / curve, -0.5, 0.5);
    }
    return static_cast<double>(best) + offset;
}

} // namespace

double estimateTempo(const std::vector<const std::vector<float>*>& curves, double frameRate) {
    size_t length = 0;
    for (const std::vector<float>* curve : curves) {
        if (curve && !curve->empty()) {
            length = length == 0 ? curve->size() : std::min(length, curve->size());
        }
    }
    const long minLag = static_cast<long>(std::floor(60.0 * frameRate / kMaxTempo));
    const long maxLag = static_cast<long>(std::ceil(60.0 * frameRate / kMinTempo));
    if (frameRate <= 0.0 || length < static_cast<size_t>(2.0 * frameRate) ||
        length <= static_cast<size_t>(2 * maxLag)) {
        return kDefaultTempo;
    }
    // Each stem counts alike: its curve is scaled to a mean of 1 before the sum.
    std::vector<double> sum(length, 0.0);
    for (const std::vector<float>* curve : curves) {
        if (!curve || curve->size() < length) {
            continue;
        }
        double mean = 0.0;
        for (size_t i = 0; i < length; ++i) {
            mean += (*curve)[i];
        }
        mean /= static_cast<double>(length);
        if (mean <= 0.0) {
            continue;
        }
        for (size_t i = 0; i < length; ++i) {
            sum[i] += (*curve)[i] / mean;
        }
    }
    double mean = 0.0;
    for (double v : sum) {
        mean += v;
    }
    mean /= static_cast<double>(length);
    double energy = 0.0;
    for (double& v : sum) {
        v -= mean;
        energy += v * v;
    }
    if (energy <= 1e-12) {
        return kDefaultTempo;
    }

    // Score each beat period by its autocorrelation and that of two beats, weighted toward
    // moderate tempos.
    long best = minLag;
    double bestScore = -1e300;
    for (long lag = minLag; lag <= maxLag; ++lag) {
        const double bpm = 60.0 * frameRate / lag;
        const double octaves = std::log2(bpm / kPreferredTempo) / kPreferenceOctaves;
        const double weight = std::exp(-0.5 * octaves * octaves);
        const double score = weight * (autocorrelation(sum, lag) + 0.5 * autocorrelation(sum, 2 * lag));
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    double period = peakLag(sum, best - 1, best + 1);
    const long longLag = static_cast<long>(std::lround(period * kRefineBeats));
    if (longLag + kRefineBeats < static_cast<long>(length) / 2) {
        period = peakLag(sum, longLag - kRefineBeats / 2, longLag + kRefineBeats / 2) / kRefineBeats;
    }
    double bpm = 60.0 * frameRate / period;
    if (std::fabs(bpm - std::round(bpm)) < 0.1) {
        bpm = std::round(bpm);
    }
    return std::clamp(bpm, kMinTempo, kMaxTempo);
}
