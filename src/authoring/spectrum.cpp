#include "authoring/spectrum.hpp"

#include <kiss_fftr.h>

#include <cmath>

namespace {

void freePlan(void* plan) { kiss_fftr_free(plan); }
void freeBins(void* bins) { delete[] static_cast<kiss_fft_cpx*>(bins); }

} // namespace

bool initRealFft(RealFft& fft, int size) {
    if (size < 2 || size % 2 != 0) {
        return false;
    }
    kiss_fftr_cfg plan = kiss_fftr_alloc(size, 0, nullptr, nullptr);
    if (!plan) {
        return false;
    }
    fft.plan = std::unique_ptr<kiss_fftr_state, void (*)(void*)>(plan, freePlan);
    kiss_fftr_cfg inverse = kiss_fftr_alloc(size, 1, nullptr, nullptr);
    if (!inverse) {
        return false;
    }
    fft.inversePlan = std::unique_ptr<kiss_fftr_state, void (*)(void*)>(inverse, freePlan);
    fft.size = size;
    fft.input.assign(static_cast<size_t>(size), 0.0f);
    fft.real.assign(static_cast<size_t>(size / 2 + 1), 0.0f);
    fft.imag.assign(static_cast<size_t>(size / 2 + 1), 0.0f);
    fft.bins = std::unique_ptr<void, void (*)(void*)>(new kiss_fft_cpx[size / 2 + 1](), freeBins);
    return true;
}

void fftForward(RealFft& fft) {
    auto* out = static_cast<kiss_fft_cpx*>(fft.bins.get());
    kiss_fftr(fft.plan.get(), fft.input.data(), out);
    for (int k = 0; k <= fft.size / 2; ++k) {
        fft.real[static_cast<size_t>(k)] = out[k].r;
        fft.imag[static_cast<size_t>(k)] = out[k].i;
    }
}

void fftInverse(RealFft& fft) {
    auto* in = static_cast<kiss_fft_cpx*>(fft.bins.get());
    for (int k = 0; k <= fft.size / 2; ++k) {
        in[k].r = fft.real[static_cast<size_t>(k)];
        in[k].i = fft.imag[static_cast<size_t>(k)];
    }
    kiss_fftri(fft.inversePlan.get(), in, fft.input.data());
}

void fftMagnitudes(const RealFft& fft, std::vector<float>& out) {
    out.resize(fft.real.size());
    for (size_t k = 0; k < out.size(); ++k) {
        out[k] = std::sqrt(fft.real[k] * fft.real[k] + fft.imag[k] * fft.imag[k]);
    }
}

std::vector<float> hannWindow(int size) {
    std::vector<float> window(static_cast<size_t>(size));
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < size; ++i) {
        window[static_cast<size_t>(i)] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * pi * i / size));
    }
    return window;
}

double keyToHz(double key) { return 440.0 * std::pow(2.0, (key - 69.0) / 12.0); }

double hzToKey(double hz) { return 69.0 + 12.0 * std::log2(hz / 440.0); }
