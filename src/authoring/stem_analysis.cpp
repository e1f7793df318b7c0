#include "authoring/stem_analysis.hpp"

#include "authoring/onsets.hpp"
#include "authoring/pitch.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

// Onsets closer than this are one note (seconds).
constexpr double kMergeSeconds = 0.03;
// An onset this close before the loop's end is the loop's start (seconds).
constexpr double kLoopEndSnap = 0.002;
// The pitch is measured this long after the onset, past the attack (seconds).
constexpr double kPitchDelay = 0.03;
// YIN below this aperiodicity is trusted; above it the sound is taken as a chord.
constexpr double kPeriodicEnough = 0.2;
// ... and when the spectrum at its frequency reaches this share of the spectrum's largest peak.
constexpr float kFundamentalPresent = 0.1f;
// A note ends where its level has fallen this far below its attack peak (dB).
constexpr double kDecayDb = 15.0;
constexpr double kAttackSeconds = 0.06;
constexpr double kPanSeconds = 0.1;
// Progress: the onset curve is most of the work; each note's pitch and length the rest.
constexpr double kCurveShare = 0.8;
constexpr size_t kProgressNotes = 32;

struct OnsetSettings {
    int lag = 2;
    PeakPicking picking;
};

// Pads swell in over a tenth of a second or more, often under chorus that keeps their spectrum
// moving, and change chords seldom: their spectra are compared over a longer span, the threshold
// follows how restless the stem's curve is, onsets closer than a quarter second are one, and each
// onset is moved back to where its swell began.
constexpr int kPadLag = 10;
constexpr float kPadSpread = 2.0f;
constexpr double kPadCombine = 0.25;
constexpr double kPadSwellBack = 0.5;
constexpr double kPadSwellShare = 0.2;

OnsetSettings onsetSettings(StemKind kind) {
    OnsetSettings settings;
    if (kind == StemKind::Pad) {
        settings.lag = kPadLag;
        settings.picking.spread = kPadSpread;
        settings.picking.preMax = kPadCombine;
        settings.picking.postMax = kPadCombine;
        settings.picking.combine = kPadCombine;
    }
    return settings;
}

struct PitchRange {
    double minHz, maxHz;
    int minKey, maxKey;
};

PitchRange pitchRange(StemKind kind) {
    switch (kind) {
    case StemKind::Bass:
        return {28.0, 480.0, 23, 66};
    case StemKind::Pad:
        return {55.0, 1800.0, 33, 100};
    default:
        return {55.0, 3000.0, 33, 108};
    }
}

std::string lowerCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool containsAny(const std::string& text, std::initializer_list<const char*> words) {
    for (const char* word : words) {
        if (text.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Level of each onset frame in dB (frame energy of kOnsetHop samples).
std::vector<float> frameLevels(const std::vector<float>& mono, size_t frames) {
    std::vector<float> levels(frames, -120.0f);
    for (size_t n = 0; n < frames; ++n) {
        const size_t from = n * kOnsetHop;
        const size_t to = std::min(mono.size(), from + kOnsetHop);
        double e = 0.0;
        for (size_t i = from; i < to; ++i) {
            e += static_cast<double>(mono[i]) * mono[i];
        }
        levels[n] = static_cast<float>(10.0 * std::log10(e / kOnsetHop + 1e-12));
    }
    return levels;
}

size_t frameOf(double seconds, double frameRate, size_t frames) {
    const double f = std::floor(seconds * frameRate);
    return f <= 0.0 ? 0 : std::min(frames - 1, static_cast<size_t>(f));
}

int balanceAt(const StemAudio& audio, double time) {
    const size_t first = static_cast<size_t>(std::max(0.0, time) * kAnalysisRate / kBalanceBlock);
    const size_t last = static_cast<size_t>((time + kPanSeconds) * kAnalysisRate / kBalanceBlock);
    double left = 0.0;
    double right = 0.0;
    for (size_t b = first; b <= last && b < audio.leftEnergy.size(); ++b) {
        left += audio.leftEnergy[b];
        right += audio.rightEnergy[b];
    }
    if (left + right <= 1e-12) {
        return 64;
    }
    // The inverse of a constant-power pan law: equal amplitudes are the centre.
    const double angle = std::atan2(std::sqrt(right), std::sqrt(left)); // 0 .. pi/2
    return std::clamp(static_cast<int>(std::lround(angle / (0.5 * 3.14159265358979323846) * 127.0)), 0, 127);
}

// Unpitched keys: the stem's own range of brightness (from its 5th to its 95th percentile onset)
// is spread over the unpitched key range, so that its sounds use the whole screen whatever the
// kit; a stem of one sound sits in the middle.
struct BrightnessScale {
    float low = 0.0f;
    float high = 1.0f;
};

BrightnessScale brightnessScale(std::vector<float> values) {
    BrightnessScale scale;
    if (values.empty()) {
        return scale;
    }
    std::sort(values.begin(), values.end());
    scale.low = values[values.size() * 5 / 100];
    scale.high = values[std::min(values.size() - 1, values.size() * 95 / 100)];
    return scale;
}

int unpitchedKey(float brightness, const BrightnessScale& scale) {
    constexpr float kNarrowest = 0.02f;
    double position = 0.5;
    if (scale.high - scale.low >= kNarrowest) {
        position = std::clamp((brightness - scale.low) / (scale.high - scale.low), 0.0f, 1.0f);
    }
    return static_cast<int>(
        std::lround(kUnpitchedLowKey + position * (kUnpitchedHighKey - kUnpitchedLowKey)));
}

// How long the note at `time` sounds: until its level falls kDecayDb under its attack peak, or
// the next onset.
double soundingTime(const std::vector<float>& levels, double frameRate, double time, double next) {
    const size_t frames = levels.size();
    const size_t start = frameOf(time, frameRate, frames);
    const size_t attackEnd = frameOf(time + kAttackSeconds, frameRate, frames);
    size_t peakFrame = start;
    for (size_t n = start; n <= attackEnd; ++n) {
        if (levels[n] > levels[peakFrame]) {
            peakFrame = n;
        }
    }
    const float floor = levels[peakFrame] - static_cast<float>(kDecayDb);
    const size_t stop = frameOf(next, frameRate, frames);
    size_t n = peakFrame;
    while (n < stop && n + 1 < frames && levels[n + 1] >= floor) {
        ++n;
    }
    const double end = std::min(next, static_cast<double>(n + 1) / frameRate);
    return std::max(0.0, end - time);
}

} // namespace

const char* stemKindName(StemKind kind) {
    switch (kind) {
    case StemKind::Drums:
        return "drums";
    case StemKind::Bass:
        return "bass";
    case StemKind::Pad:
        return "pad";
    case StemKind::Melodic:
        return "melodic";
    }
    return "melodic";
}

bool parseStemKind(const std::string& name, StemKind& kind) {
    for (StemKind k : {StemKind::Drums, StemKind::Bass, StemKind::Pad, StemKind::Melodic}) {
        if (name == stemKindName(k)) {
            kind = k;
            return true;
        }
    }
    return false;
}

StemKind classifyStemName(const std::string& fileName) {
    const std::string name = lowerCase(fileName);
    if (containsAny(name, {"drum", "kick", "snare", "hat", "perc", "clap", "cymbal", "brush", "shaker"})) {
        return StemKind::Drums;
    }
    if (containsAny(name, {"bass"})) {
        return StemKind::Bass;
    }
    if (containsAny(name, {"pad", "string"})) {
        return StemKind::Pad;
    }
    return StemKind::Melodic;
}

bool isPitched(StemKind kind) { return kind != StemKind::Drums; }

bool analyzeStem(const StemAudio& audio, StemKind kind, StemAnalysis& out, std::string& error,
                 const StepProgress& progress) {
    out = StemAnalysis{};
    out.seconds = audio.seconds();
    const OnsetSettings settings = onsetSettings(kind);
    OnsetCurve curve;
    PitchScratch scratch;
    bool stopped = false;
    const StepProgress curveProgress = [&](double done) {
        stopped = !progress(kCurveShare * done);
        return !stopped;
    };
    if (!computeOnsetCurve(audio.mono, audio.peak, settings.lag, curve,
                           progress ? curveProgress : StepProgress{}) ||
        (isPitched(kind) && !initPitchScratch(scratch))) {
        error = stopped ? "cancelled" : "the FFT could not be set up";
        out = StemAnalysis{};
        return false;
    }
    out.frameRate = curve.frameRate;
    const std::vector<size_t> frames = pickOnsetFrames(curve.flux, curve.frameRate, settings.picking);

    // Onset times on the waveform, merged where refinement brought two together (also across the
    // loop's end).
    struct Onset {
        double time;
        float strength;
        float brightness;
        bool operator<(const Onset& o) const { return time < o.time; }
    };
    std::vector<Onset> found;
    float strongest = 0.0f;
    for (size_t f : frames) {
        double frameTime = onsetFrameTime(curve, f);
        if (kind == StemKind::Pad) {
            const size_t start =
                swellStart(curve.flux, curve.frameRate, f, kPadSwellBack, kPadSwellShare, settings.picking);
            frameTime = curveFrameTime(curve, start);
        }
        double time = refineOnsetTime(audio.mono, frameTime);
        if (time > out.seconds - kLoopEndSnap) {
            time = 0.0; // within the refinement's precision of the loop's start
        }
        found.push_back({time, curve.flux[f], curve.brightness[f]});
        strongest = std::max(strongest, curve.flux[f]);
    }
    std::sort(found.begin(), found.end());
    // Of onsets merged into one, the stronger one's sound counts.
    std::vector<Onset> onsets;
    auto merge = [](Onset& into, const Onset& other) {
        if (other.strength > into.strength) {
            into.strength = other.strength;
            into.brightness = other.brightness;
        }
    };
    for (const Onset& onset : found) {
        if (!onsets.empty() && onset.time - onsets.back().time < kMergeSeconds) {
            merge(onsets.back(), onset);
            continue;
        }
        onsets.push_back(onset);
    }
    if (onsets.size() > 1 && onsets.front().time + out.seconds - onsets.back().time < kMergeSeconds) {
        merge(onsets.front(), onsets.back());
        onsets.pop_back();
    }

    const std::vector<float> levels = frameLevels(audio.mono, curve.flux.size());
    double chords = 0.0;
    std::vector<float> brightness;
    for (const Onset& onset : onsets) {
        brightness.push_back(onset.brightness);
    }
    const BrightnessScale scale = brightnessScale(brightness);
    const PitchRange range = pitchRange(kind);
    for (size_t i = 0; i < onsets.size(); ++i) {
        if (progress && i % kProgressNotes == 0 &&
            !progress(kCurveShare + (1.0 - kCurveShare) * static_cast<double>(i) / onsets.size())) {
            error = "cancelled";
            out = StemAnalysis{};
            return false;
        }
        DetectedNote note;
        note.time = onsets[i].time;
        note.strength = strongest > 0.0f ? onsets[i].strength / strongest : 0.0f;
        note.pan = balanceAt(audio, note.time);
        const double next = i + 1 < onsets.size() ? onsets[i + 1].time : out.seconds;
        note.duration = soundingTime(levels, curve.frameRate, note.time, next);
        if (!isPitched(kind)) {
            note.key = unpitchedKey(onsets[i].brightness, scale);
        } else {
            const size_t start = static_cast<size_t>((note.time + kPitchDelay) * kAnalysisRate);
            const PitchEstimate yin = estimatePitchYin(audio.mono, start, range.minHz, range.maxHz, scratch);
            // YIN is right for one voice; it is trusted when the sound is periodic and the
            // spectrum has energy at the period's frequency itself (chords have a common period
            // below all their notes, where there is nothing to hear).
            noteSpectrum(audio.mono, start, scratch);
            int key = -1;
            if (yin.found && yin.aperiodicity <= kPeriodicEnough &&
                relativePeakNear(scratch, yin.hz) >= kFundamentalPresent) {
                key = static_cast<int>(std::lround(hzToKey(yin.hz)));
            } else {
                key = predominantKey(scratch, range.minKey, range.maxKey);
                chords += 1.0;
            }
            note.key = key < 0 ? 60 : std::clamp(key, 0, 127);
            note.hold = note.duration >= kMinHoldSeconds;
        }
        out.notes.push_back(note);
    }
    if (isPitched(kind) && !out.notes.empty()) {
        out.chordShare = chords / static_cast<double>(out.notes.size());
    }
    out.onsetCurve = std::move(curve.flux);
    return true;
}
