#pragma once
// Fundamental-frequency estimates for one note:
// - YIN (de Cheveigné and Kawahara, 2002): the cumulative-mean-normalised difference function of
//   the waveform, its first dip below an absolute threshold, refined by parabolic interpolation.
//   Right for one voice at a time; its dip depth says how periodic the sound is.
// - Harmonic summation (Klapuri, 2006): for each candidate key the weighted sum of spectral
//   peaks at its harmonics; the key with the largest sum is the predominant pitch. Used when
//   the sound is not periodic enough for YIN, as chords are.
#include "authoring/spectrum.hpp"

#include <cstddef>
#include <vector>

// Samples YIN integrates over, and the spectrum length of the harmonic summation.
constexpr int kYinWindow = 2048;
constexpr int kSalienceWindow = 4096;

// Reusable FFT plans and buffers for the estimators. One per thread.
struct PitchScratch {
    RealFft correlation; // 2 * kYinWindow points
    RealFft spectrum;    // 2 * kSalienceWindow points (the window zero-padded)
    std::vector<float> window;
    std::vector<float> difference;
    std::vector<float> magnitudes;
};

// Prepares the scratch space; false when an FFT cannot be set up.
bool initPitchScratch(PitchScratch& scratch);

struct PitchEstimate {
    bool found = false;
    double hz = 0.0;
    double aperiodicity = 1.0; // the normalised difference at the chosen period: 0 periodic, ~1 noise
};

// YIN over signal[start, start + kYinWindow + period) for periods of minHz..maxHz (Hz at
// kAnalysisRate; maxHz / minHz at least 2). The signal loops: past its end comes its start. `found` is
// false for silence or when no period fits the range.
PitchEstimate estimatePitchYin(const std::vector<float>& signal, size_t start, double minHz, double maxHz,
                               PitchScratch& scratch);

// Takes the magnitude spectrum of signal[start, start + kSalienceWindow) (Hann window) into
// `scratch.magnitudes`. False for silence.
bool noteSpectrum(const std::vector<float>& signal, size_t start, PitchScratch& scratch);

// Of the spectrum last taken: the key from minKey to maxKey with the largest harmonic sum; -1
// when no key has any.
int predominantKey(const PitchScratch& scratch, int minKey, int maxKey);

// Of the spectrum last taken: the largest magnitude within a quarter tone of `hz`, relative to the
// largest magnitude of the whole spectrum (0..1).
float relativePeakNear(const PitchScratch& scratch, double hz);
