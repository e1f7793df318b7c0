#pragma once
// From a stem's audio to the notes a chart can be made of: onsets, and for each onset its
// strength, stereo balance, key (the pitch of pitched stems; the brightness of unpitched ones,
// spread over a fixed range) and how long it sounds (a hold when it sustains).
#include "authoring/stem_audio.hpp"

#include <string>
#include <vector>

// What a stem plays, which decides how it is analysed and where it goes in the level.
enum class StemKind { Drums, Bass, Pad, Melodic };

// "drums", "bass", "pad" or "melodic".
const char* stemKindName(StemKind kind);

// Reads a kind name as stemKindName writes it; false for anything else.
bool parseStemKind(const std::string& name, StemKind& kind);

// The kind a stem's file name suggests (case-insensitive): drum, kick, snare, hat, perc, clap,
// cymbal, brush or shaker make drums; bass makes bass; pad or string makes pad; anything else is
// melodic.
StemKind classifyStemName(const std::string& fileName);

// Drums are unpitched; every other kind gets keys from its pitch.
bool isPitched(StemKind kind);

// Keys of unpitched stems: bright sounds to the right, dull ones to the left, within this range
// (each stem's own range of sounds is spread over all of it).
constexpr int kUnpitchedLowKey = 16;
constexpr int kUnpitchedHighKey = 112;

// A note shorter than this never becomes a hold (seconds).
constexpr double kMinHoldSeconds = 0.6;

struct DetectedNote {
    double time = 0.0;     // onset, seconds from the start of the stem
    double duration = 0.0; // seconds until the sound decays or the stem's next onset
    int key = 60;          // MIDI key 0..127
    bool hold = false;     // the note sustains for at least kMinHoldSeconds (pitched stems only)
    float strength = 0.0f; // onset strength relative to the stem's strongest onset, 0..1
    int pan = 64;          // stereo balance 0 (left) .. 127 (right), 64 centre
};

struct StemAnalysis {
    std::vector<DetectedNote> notes; // in time order, at least 30 ms apart
    std::vector<float> onsetCurve;   // the onset strength curve, for the tempo estimate
    double frameRate = 0.0;          // frames per second of onsetCurve
    double seconds = 0.0;            // length of the stem
    double chordShare = 0.0;         // share of pitched notes that sounded as chords rather than one voice
};

// Finds the notes of one stem. False (with a reason in `error`) when the FFT cannot be set up, or
// with "cancelled" when `progress` (told the share of the analysis done: the onset curve up to
// 0.8, then the notes) answers false; silence gives no notes.
bool analyzeStem(const StemAudio& audio, StemKind kind, StemAnalysis& out, std::string& error,
                 const StepProgress& progress = {});
