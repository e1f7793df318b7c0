#include "authoring/onsets.hpp"

#include "authoring/spectrum.hpp"
#include "authoring/stem_audio.hpp"

#include <algorithm>
#include <cmath>

namespace {

// Filterbank: 24 bands per octave from 30 Hz to 17 kHz, bands narrower than one FFT bin merged.
constexpr double kLowestHz = 30.0;
constexpr double kHighestHz = 17000.0;
constexpr int kBandsPerOctave = 24;
constexpr float kSilentPeak = 1e-5f;
// Progress is reported every this many frames (about 2.5 s of audio, a few milliseconds of work).
constexpr long kProgressFrames = 512;

struct Band {
    float position = 0.0f;      // centre on the log-frequency axis, 0..1
    int first = 0;              // first FFT bin
    std::vector<float> weights; // one per bin from `first`, summing to 1
};

std::vector<Band> makeFilterbank(int fftSize) {
    const double binHz = static_cast<double>(kAnalysisRate) / fftSize;
    std::vector<int> centres;
    for (int i = 0;; ++i) {
        const double hz = kLowestHz * std::pow(2.0, static_cast<double>(i) / kBandsPerOctave);
        if (hz > kHighestHz) {
            break;
        }
        const int bin = static_cast<int>(std::lround(hz / binHz));
        if (centres.empty() || bin > centres.back()) {
            centres.push_back(bin);
        }
    }
    std::vector<Band> bands;
    for (size_t b = 1; b + 1 < centres.size(); ++b) {
        const int lo = centres[b - 1];
        const int mid = centres[b];
        const int hi = centres[b + 1];
        Band band;
        band.position =
            static_cast<float>(std::log(mid * binHz / kLowestHz) / std::log(kHighestHz / kLowestHz));
        band.first = lo;
        float sum = 0.0f;
        for (int k = lo; k <= hi; ++k) {
            float w = 0.0f;
            if (k <= mid) {
                w = mid == lo ? 1.0f : static_cast<float>(k - lo) / (mid - lo);
            } else {
                w = static_cast<float>(hi - k) / (hi - mid);
            }
            band.weights.push_back(w);
            sum += w;
        }
        for (float& w : band.weights) {
            w /= sum;
        }
        bands.push_back(std::move(band));
    }
    return bands;
}

// Sample i of a looping signal.
float circularSample(const std::vector<float>& signal, long i) {
    const long n = static_cast<long>(signal.size());
    i %= n;
    return signal[static_cast<size_t>(i < 0 ? i + n : i)];
}

} // namespace

bool computeOnsetCurve(const std::vector<float>& mono, float peak, int lag, OnsetCurve& out,
                       const StepProgress& progress) {
    out = OnsetCurve{};
    out.frameRate = static_cast<double>(kAnalysisRate) / kOnsetHop;
    out.lag = std::max(1, lag);
    out.firstFrame = -(kOnsetFrame / 2 / kOnsetHop + 1);
    const long frames = mono.empty() ? 0 : static_cast<long>(mono.size() / kOnsetHop + 1) - out.firstFrame;
    out.flux.assign(static_cast<size_t>(frames), 0.0f);
    out.brightness.assign(static_cast<size_t>(frames), 0.5f);
    if (peak < kSilentPeak || frames == 0) {
        return true;
    }
    RealFft fft;
    if (!initRealFft(fft, kOnsetFrame)) {
        return false;
    }
    const std::vector<float> window = hannWindow(kOnsetFrame);
    const std::vector<Band> bands = makeFilterbank(kOnsetFrame);
    const float gain = 1.0f / peak;

    // The log band energies of the last lag + 1 frames, oldest first. The first frames compare
    // with frames before the start, which wrap round to the end of the signal.
    std::vector<std::vector<float>> history(static_cast<size_t>(out.lag) + 1,
                                            std::vector<float>(bands.size(), 0.0f));
    std::vector<float> magnitudes;
    std::vector<float> widened(bands.size());
    for (long n = -out.lag; n < frames; ++n) {
        if (progress && n % kProgressFrames == 0 &&
            !progress(static_cast<double>(std::max(0L, n)) / frames)) {
            return false;
        }
        const long start = (n + out.firstFrame) * kOnsetHop - kOnsetFrame / 2;
        for (int i = 0; i < kOnsetFrame; ++i) {
            fft.input[static_cast<size_t>(i)] =
                circularSample(mono, start + i) * gain * window[static_cast<size_t>(i)];
        }
        fftForward(fft);
        fftMagnitudes(fft, magnitudes);

        std::rotate(history.begin(), history.begin() + 1, history.end());
        std::vector<float>& current = history.back();
        for (size_t b = 0; b < bands.size(); ++b) {
            const Band& band = bands[b];
            float e = 0.0f;
            for (size_t j = 0; j < band.weights.size(); ++j) {
                e += band.weights[j] * magnitudes[static_cast<size_t>(band.first) + j];
            }
            current[b] = std::log10(1.0f + e);
        }
        if (n < 0) {
            continue;
        }
        // Compare with the earlier frame's maximum over neighbouring bands.
        const std::vector<float>& earlier = history.front();
        float flux = 0.0f;
        float weighted = 0.0f;
        for (size_t b = 0; b < bands.size(); ++b) {
            float m = earlier[b];
            if (b > 0) {
                m = std::max(m, earlier[b - 1]);
            }
            if (b + 1 < bands.size()) {
                m = std::max(m, earlier[b + 1]);
            }
            const float rise = std::max(0.0f, current[b] - m);
            flux += rise;
            weighted += rise * bands[b].position;
        }
        out.flux[static_cast<size_t>(n)] = flux;
        if (flux > 0.0f) {
            out.brightness[static_cast<size_t>(n)] = weighted / flux;
        }
    }
    return true;
}

double curveFrameTime(const OnsetCurve& curve, size_t frame) {
    return (static_cast<double>(frame) + curve.firstFrame) / curve.frameRate;
}

double onsetFrameTime(const OnsetCurve& curve, size_t frame) {
    return curveFrameTime(curve, frame) - 0.5 * curve.lag / curve.frameRate;
}

std::vector<size_t> pickOnsetFrames(const std::vector<float>& curve, double frameRate,
                                    const PeakPicking& picking) {
    std::vector<size_t> onsets;
    const long n = static_cast<long>(curve.size());
    if (n == 0 || frameRate <= 0.0) {
        return onsets;
    }
    const long preMax = std::lround(picking.preMax * frameRate);
    const long postMax = std::lround(picking.postMax * frameRate);
    const long preAvg = std::max(0L, std::lround(picking.preAverage * frameRate));
    const long postAvg = std::max(0L, std::lround(picking.postAverage * frameRate));
    const double combine = picking.combine * frameRate;
    // Prefix sums over the curve with preAvg frames of its end in front and postAvg of its start
    // behind, so that the moving mean wraps.
    std::vector<double> prefix(static_cast<size_t>(n + preAvg + postAvg) + 1, 0.0);
    for (long i = -preAvg; i < n + postAvg; ++i) {
        const long j = i + preAvg;
        prefix[static_cast<size_t>(j + 1)] = prefix[static_cast<size_t>(j)] + circularSample(curve, i);
    }
    const double span = static_cast<double>(preAvg + postAvg + 1);
    double threshold = picking.threshold;
    if (picking.spread > 0.0f) {
        const double mean = prefix[static_cast<size_t>(preAvg + n)] - prefix[static_cast<size_t>(preAvg)];
        double variance = 0.0;
        for (float v : curve) {
            variance += (v - mean / n) * (v - mean / n);
        }
        threshold += picking.spread * std::sqrt(variance / n);
    }
    for (long i = 0; i < n; ++i) {
        const float v = curve[static_cast<size_t>(i)];
        if (v <= 0.0f) {
            continue;
        }
        bool isMax = true;
        for (long j = i - preMax; j <= i + postMax && isMax; ++j) {
            isMax = circularSample(curve, j) <= v;
        }
        if (!isMax) {
            continue;
        }
        const double mean =
            (prefix[static_cast<size_t>(i + preAvg + postAvg + 1)] - prefix[static_cast<size_t>(i)]) / span;
        if (v < mean + threshold) {
            continue;
        }
        if (!onsets.empty() && static_cast<double>(i - static_cast<long>(onsets.back())) < combine) {
            continue;
        }
        onsets.push_back(static_cast<size_t>(i));
    }
    // The last onset may lie just before the first one, across the loop's end.
    if (onsets.size() > 1 &&
        static_cast<double>(onsets.front() + static_cast<size_t>(n) - onsets.back()) < combine) {
        onsets.pop_back();
    }
    return onsets;
}

size_t swellStart(const std::vector<float>& curve, double frameRate, size_t frame, double maxBack,
                  double share, const PeakPicking& picking) {
    const long n = static_cast<long>(curve.size());
    const long preAvg = std::max(0L, std::lround(picking.preAverage * frameRate));
    double mean = 0.0;
    for (long j = static_cast<long>(frame) - preAvg; j <= static_cast<long>(frame); ++j) {
        mean += circularSample(curve, j);
    }
    mean /= static_cast<double>(preAvg + 1);
    const double level = mean + share * (curve[frame] - mean);
    const long limit = std::lround(maxBack * frameRate);
    long start = static_cast<long>(frame);
    while (static_cast<long>(frame) - (start - 1) <= limit && circularSample(curve, start - 1) >= level) {
        --start;
    }
    return static_cast<size_t>(((start % n) + n) % n);
}

double refineOnsetTime(const std::vector<float>& mono, double frameTime) {
    // Blocks of 64 samples (1.45 ms) around the frame; the onset is the block whose energy rises
    // most above the mean of the ~9 ms before it.
    constexpr int kBlock = 64;
    constexpr int kBefore = 6;
    constexpr double kSearchBefore = 0.020;
    constexpr double kSearchAfter = 0.035;
    constexpr double kMinRiseDb = 6.0;
    const long total = static_cast<long>(mono.size());
    if (total == 0) {
        return frameTime;
    }
    const long first = static_cast<long>((frameTime - kSearchBefore) * kAnalysisRate) - kBefore * kBlock;
    const long last = static_cast<long>((frameTime + kSearchAfter) * kAnalysisRate);
    std::vector<double> level;
    std::vector<long> starts;
    for (long s = first; s + kBlock <= last; s += kBlock) {
        double e = 0.0;
        for (long i = s; i < s + kBlock; ++i) {
            const double x = circularSample(mono, i);
            e += x * x;
        }
        level.push_back(10.0 * std::log10(e / kBlock + 1e-12));
        starts.push_back(s);
    }
    double bestRise = kMinRiseDb;
    bool found = false;
    long best = 0; // may be negative: before the start comes the loop's end
    for (size_t k = kBefore; k < level.size(); ++k) {
        double before = 0.0;
        for (size_t j = k - kBefore; j < k; ++j) {
            before += level[j];
        }
        const double rise = level[k] - before / kBefore;
        if (rise > bestRise) {
            bestRise = rise;
            best = starts[k];
            found = true;
        }
    }
    const double length = static_cast<double>(total) / kAnalysisRate;
    const double time = found ? static_cast<double>(best) / kAnalysisRate : frameTime;
    return time < 0.0 ? time + length : (time >= length ? time - length : time);
}
