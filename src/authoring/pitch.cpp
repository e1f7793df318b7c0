#include "authoring/pitch.hpp"

#include "authoring/stem_audio.hpp"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kYinThreshold = 0.15;
constexpr double kSilentEnergy = 1e-9;
// Harmonic weights g(h) = (f0 + alpha) / (h f0 + beta), from Klapuri's 93 ms analysis frame.
constexpr double kSalienceAlpha = 27.0;
constexpr double kSalienceBeta = 320.0;
constexpr double kHighestHarmonicHz = 5000.0;

// Sample i of a looping signal.
float sampleAt(const std::vector<float>& signal, size_t i) {
    return signal.empty() ? 0.0f : signal[i % signal.size()];
}

} // namespace

bool initPitchScratch(PitchScratch& scratch) {
    if (!initRealFft(scratch.correlation, 2 * kYinWindow) ||
        !initRealFft(scratch.spectrum, 2 * kSalienceWindow)) {
        return false;
    }
    scratch.window = hannWindow(kSalienceWindow);
    return true;
}

PitchEstimate estimatePitchYin(const std::vector<float>& signal, size_t start, double minHz, double maxHz,
                               PitchScratch& scratch) {
    PitchEstimate estimate;
    const int tauMin = std::max(2, static_cast<int>(std::floor(kAnalysisRate / maxHz)));
    const int tauMax = std::min(kYinWindow, static_cast<int>(std::ceil(kAnalysisRate / minHz)));
    if (tauMax <= tauMin + 2) {
        return estimate;
    }
    RealFft& fft = scratch.correlation;
    const int points = fft.size;

    // r(tau) = sum over j < W of x[j] x[j + tau], as the correlation of the first W samples with
    // the first W + tauMax samples (no wrap-around: W + tauMax <= points).
    std::fill(fft.input.begin(), fft.input.end(), 0.0f);
    for (int j = 0; j < kYinWindow; ++j) {
        fft.input[static_cast<size_t>(j)] = sampleAt(signal, start + static_cast<size_t>(j));
    }
    fftForward(fft);
    const std::vector<float> headReal = fft.real;
    const std::vector<float> headImag = fft.imag;
    for (int j = 0; j < kYinWindow + tauMax; ++j) {
        fft.input[static_cast<size_t>(j)] = sampleAt(signal, start + static_cast<size_t>(j));
    }
    fftForward(fft);
    for (size_t k = 0; k < fft.real.size(); ++k) {
        const float re = headReal[k] * fft.real[k] + headImag[k] * fft.imag[k];
        const float im = headReal[k] * fft.imag[k] - headImag[k] * fft.real[k];
        fft.real[k] = re;
        fft.imag[k] = im;
    }
    fftInverse(fft);
    const double scale = 1.0 / points;

    // d(tau) = E(0) + E(tau) - 2 r(tau), E(tau) the energy of x[tau, tau + W).
    double energy0 = 0.0;
    for (int j = 0; j < kYinWindow; ++j) {
        const double x = sampleAt(signal, start + static_cast<size_t>(j));
        energy0 += x * x;
    }
    if (energy0 < kSilentEnergy) {
        return estimate;
    }
    std::vector<float>& d = scratch.difference;
    d.assign(static_cast<size_t>(tauMax + 2), 1.0f);
    double energyTau = energy0;
    double running = 0.0;
    for (int tau = 1; tau <= tauMax + 1 && tau < points; ++tau) {
        const double out = sampleAt(signal, start + static_cast<size_t>(tau - 1));
        const double in = sampleAt(signal, start + static_cast<size_t>(tau + kYinWindow - 1));
        energyTau += in * in - out * out;
        const double diff =
            std::max(0.0, energy0 + energyTau - 2.0 * fft.input[static_cast<size_t>(tau)] * scale);
        running += diff;
        d[static_cast<size_t>(tau)] = running > 0.0 ? static_cast<float>(diff * tau / running) : 1.0f;
    }

    int chosen = -1;
    for (int tau = tauMin; tau <= tauMax; ++tau) {
        if (d[static_cast<size_t>(tau)] < kYinThreshold) {
            while (tau + 1 <= tauMax && d[static_cast<size_t>(tau + 1)] < d[static_cast<size_t>(tau)]) {
                ++tau;
            }
            chosen = tau;
            break;
        }
    }
    if (chosen < 0) {
        chosen = tauMin;
        for (int tau = tauMin; tau <= tauMax; ++tau) {
            if (d[static_cast<size_t>(tau)] < d[static_cast<size_t>(chosen)]) {
                chosen = tau;
            }
        }
    }
    double period = chosen;
    if (chosen > 1 && chosen < tauMax + 1) {
        const double a = d[static_cast<size_t>(chosen - 1)];
        const double b = d[static_cast<size_t>(chosen)];
        const double c = d[static_cast<size_t>(chosen + 1)];
        const double curve = a - 2.0 * b + c;
        if (curve > 0.0) {
            period += std::clamp(0.5 * (a - c) / curve, -0.5, 0.5);
        }
    }
    estimate.found = true;
    estimate.hz = kAnalysisRate / period;
    estimate.aperiodicity = d[static_cast<size_t>(chosen)];
    return estimate;
}

bool noteSpectrum(const std::vector<float>& signal, size_t start, PitchScratch& scratch) {
    RealFft& fft = scratch.spectrum;
    std::fill(fft.input.begin(), fft.input.end(), 0.0f);
    double energy = 0.0;
    for (int j = 0; j < kSalienceWindow; ++j) {
        const float x = sampleAt(signal, start + static_cast<size_t>(j));
        energy += static_cast<double>(x) * x;
        fft.input[static_cast<size_t>(j)] = x * scratch.window[static_cast<size_t>(j)];
    }
    if (energy < kSilentEnergy) {
        scratch.magnitudes.assign(scratch.magnitudes.size(), 0.0f);
        return false;
    }
    fftForward(fft);
    fftMagnitudes(fft, scratch.magnitudes);
    return true;
}

namespace {

// The largest magnitude within a quarter tone of hz.
float peakNear(const std::vector<float>& mag, double hz) {
    const double binHz = static_cast<double>(kAnalysisRate) / (2 * kSalienceWindow);
    const double quarterTone = std::pow(2.0, 1.0 / 24.0);
    const size_t lo = static_cast<size_t>(std::floor(hz / quarterTone / binHz));
    const size_t hi = std::min(mag.size() - 1, static_cast<size_t>(std::ceil(hz * quarterTone / binHz)));
    float peak = 0.0f;
    for (size_t k = lo; k <= hi; ++k) {
        peak = std::max(peak, mag[k]);
    }
    return peak;
}

} // namespace

int predominantKey(const PitchScratch& scratch, int minKey, int maxKey) {
    const std::vector<float>& mag = scratch.magnitudes;
    if (mag.empty()) {
        return -1;
    }
    const double nyquist = 0.5 * kAnalysisRate;
    int bestKey = -1;
    double bestSalience = 0.0;
    for (int key = std::max(0, minKey); key <= std::min(127, maxKey); ++key) {
        const double f0 = keyToHz(key);
        double salience = 0.0;
        for (int h = 1; h * f0 < std::min(kHighestHarmonicHz, nyquist); ++h) {
            salience += (f0 + kSalienceAlpha) / (h * f0 + kSalienceBeta) * peakNear(mag, h * f0);
        }
        if (salience > bestSalience) {
            bestSalience = salience;
            bestKey = key;
        }
    }
    return bestKey;
}

float relativePeakNear(const PitchScratch& scratch, double hz) {
    const std::vector<float>& mag = scratch.magnitudes;
    const float top = mag.empty() ? 0.0f : *std::max_element(mag.begin(), mag.end());
    if (top <= 0.0f || hz <= 0.0 || hz >= 0.5 * kAnalysisRate) {
        return 0.0f;
    }
    return peakNear(mag, hz) / top;
}
