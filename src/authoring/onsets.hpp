#pragma once
// Onset detection on a stem's mono signal: a spectral-flux onset strength curve (log-magnitude
// spectra on a logarithmic filterbank, compared with a frequency-wise maximum of an earlier frame
// so that vibrato and slow glides do not count as new notes), peak picking against a moving
// average of the curve, and a refinement of each onset's time on the waveform.
#include "authoring/step_progress.hpp"

#include <cstddef>
#include <vector>

// STFT frame and hop of the onset analysis, in samples at kAnalysisRate (46 ms and 5 ms).
constexpr int kOnsetFrame = 2048;
constexpr int kOnsetHop = 220;

// Stems loop, so the analysis treats the signal as circular: what comes before its start is its
// end, and an onset at time 0 is found like any other.

// Per-frame features of one stem. Entry i is the frame centred on sample (i + firstFrame) *
// kOnsetHop: the curve starts a little before the signal (frames there look at its end), so that
// a sound at its very start rises inside the curve like any other.
struct OnsetCurve {
    int firstFrame = 0;
    std::vector<float> flux;       // onset strength (sum of positive log-magnitude rises), >= 0
    std::vector<float> brightness; // where on the log-frequency axis the frame's rise lies, 0 (30 Hz)
                                   // .. 1 (17 kHz); 0.5 when nothing rises
    double frameRate = 0.0;        // frames per second
    int lag = 2;                   // frames between the two spectra each flux value compares
};

// Computes the onset curve of `mono` (samples at kAnalysisRate), comparing each frame with the
// one `lag` frames earlier (at least 1; a longer lag suits sounds that swell in slowly). The signal
// is scaled by 1 / `peak` first, so that the curve does not depend on the stem's level; a peak
// below -100 dBFS counts as silence and gives an all-zero curve. False when the FFT cannot be set
// up, or when `progress` (told the share of frames done every few hundred frames) answers false.
bool computeOnsetCurve(const std::vector<float>& mono, float peak, int lag, OnsetCurve& out,
                       const StepProgress& progress = {});

// The time (seconds, negative before the signal's start) of entry `frame`'s centre.
double curveFrameTime(const OnsetCurve& curve, size_t frame);

// The time a flux entry stands for: midway between the two spectra it compares.
double onsetFrameTime(const OnsetCurve& curve, size_t frame);

// Peak picking: frame n is an onset when its value is the largest within [n - preMax, n + postMax],
// and at least `threshold` + `spread` x (the curve's standard deviation) above the mean of
// [n - preAverage, n + postAverage]; of onsets closer than `combine`, the first is kept. Times in
// seconds.
struct PeakPicking {
    float threshold = 1.1f;
    float spread = 0.0f;
    double preMax = 0.01;
    double postMax = 0.05;
    double preAverage = 0.15;
    double postAverage = 0.0;
    double combine = 0.03;
};

// Returns the onset frames of `curve` in increasing order; the windows wrap around its ends.
std::vector<size_t> pickOnsetFrames(const std::vector<float>& curve, double frameRate,
                                    const PeakPicking& picking);

// For sounds that swell in: the frame where the rise that peaks at `frame` began, searching back
// at most `maxBack` seconds for the first frame of an unbroken run above the moving mean plus
// `share` of the peak's height over it.
size_t swellStart(const std::vector<float>& curve, double frameRate, size_t frame, double maxBack,
                  double share, const PeakPicking& picking);

// The time (seconds, 0 up to the signal's length) where the signal's short-block energy rises
// most steeply near the onset that the curve found at `frameTime`; `frameTime` itself when the
// waveform shows no clear rise (a change of timbre or pitch without an attack).
double refineOnsetTime(const std::vector<float>& mono, double frameTime);
