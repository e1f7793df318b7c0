#pragma once
// Short-time spectra for the analysis: a reusable real FFT (KissFFT), the Hann window and
// conversions between frequencies and MIDI key numbers.
#include <memory>
#include <vector>

struct kiss_fftr_state;

// A real FFT of one fixed, even size, both ways, with its scratch space. Owns the KissFFT plans.
struct RealFft {
    int size = 0;
    std::unique_ptr<kiss_fftr_state, void (*)(void*)> plan{nullptr, nullptr};
    std::unique_ptr<kiss_fftr_state, void (*)(void*)> inversePlan{nullptr, nullptr};
    std::vector<float> input; // size values: the frame to transform, or the inverse's result
    std::vector<float> real;  // size / 2 + 1 values after fftForward
    std::vector<float> imag;  // likewise
    std::unique_ptr<void, void (*)(void*)> bins{nullptr, nullptr}; // the plans' complex data
};

// Prepares `fft` for frames of `size` samples (even, at least 2). False when KissFFT refuses.
bool initRealFft(RealFft& fft, int size);

// Transforms `fft.input` into `fft.real` and `fft.imag` (bins 0..size/2, unnormalised).
void fftForward(RealFft& fft);

// Transforms `fft.real` and `fft.imag` back into `fft.input`, scaled by `size` (unnormalised).
void fftInverse(RealFft& fft);

// Magnitudes |X(k)| of the last transform, bins 0..size/2, into `out` (resized).
void fftMagnitudes(const RealFft& fft, std::vector<float>& out);

// A periodic Hann window of `size` samples.
std::vector<float> hannWindow(int size);

// 440 Hz is key 69; twelve keys per octave.
double keyToHz(double key);
double hzToKey(double hz);
