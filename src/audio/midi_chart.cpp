#include "audio/midi_chart.hpp"

#include "audio/asset_path.hpp"
#include "base/file_io.hpp"
#include "base/log.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <exception>
#include <sstream>

namespace {

// The first tempo event in track order decides the chart's native BPM; 120 when there is none.
float findChartTempo(const MidiFile& midi, ChartLog log) {
    float bpm = 120.0f;
    for (int t = 0; t < midi.getTrackCount() && bpm == 120.0f; ++t) {
        for (int i = 0; i < midi.getEventCount(t); ++i) {
            const SmfEvent& event = midi.getEvent(t, i);
            // A tempo of 0 microseconds has no BPM; the next tempo event may still give one.
            if (isTempo(event) && tempoBpm(event) > 0.0) {
                bpm = static_cast<float>(tempoBpm(event));
                if (log == ChartLog::Progress) {
                    logMessage("Found MIDI tempo: %.1f BPM", bpm);
                }
                break;
            }
        }
    }
    return bpm;
}

} // namespace

// Parses a whole file's bytes into `midi`; false, with a line on stderr, when they are refused.
static bool parseMidiBytes(std::string bytes, const std::string& path, MidiFile& midi) {
    try {
        std::istringstream stream(std::move(bytes));
        if (midi.read(stream)) {
            return true;
        }
    } catch (const std::exception&) {
        // Out of memory for a huge file, mostly; the stem then plays as audio only.
    }
    logError(stderr, "ERROR: MidiFile failed to parse data from %s", path.c_str());
    return false;
}

bool readMidiFileBytes(const std::string& path, MidiFile& midi) {
    std::string bytes;
    try {
        if (!readWholeFile(path, bytes)) {
            logError(stderr, "ERROR: Could not open MIDI file %s: %s", path.c_str(),
                     fileErrorText(errno).c_str());
            return false;
        }
    } catch (const std::exception&) {
        logError(stderr, "ERROR: MidiFile failed to parse data from %s", path.c_str());
        return false;
    }
    return parseMidiBytes(std::move(bytes), path, midi);
}

void buildChartFromMidi(MidiChart& chart, ChartLog log) {
    MidiFile& midi = *chart.midi;
    midi.doTimeAnalysis();
    midi.linkNotePairs();
    midi.joinTracks();

    chart.midiBpm = findChartTempo(midi, log);

    chart.notes.clear();
    int pan[16];
    std::fill(std::begin(pan), std::end(pan), 64);
    for (int t = 0; t < midi.getTrackCount(); ++t) {
        for (int i = 0; i < midi.getEventCount(t); ++i) {
            const SmfEvent& event = midi.getEvent(t, i);
            if (isController(event) && controllerNumber(event) == 10) {
                pan[eventChannel(event)] = controllerValue(event);
            }
            const bool on = isNoteOn(event);
            if (!on && !isNoteOff(event)) {
                continue;
            }
            MidiNoteEvent note;
            note.note = keyNumber(event);
            note.velocity = velocity(event);
            note.pan = pan[eventChannel(event)];
            note.time = event.seconds;
            note.duration = on ? durationSeconds(event) : 0.0;
            note.tick = event.tick;
            note.isNoteOn = on;
            note.channel = eventChannel(event);
            note.track = t;
            chart.notes.push_back(note);
        }
    }
    // Stable, so that notes at one time keep the file's order from run to run.
    std::stable_sort(chart.notes.begin(), chart.notes.end(),
                     [](const MidiNoteEvent& a, const MidiNoteEvent& b) { return a.time < b.time; });
}

bool loadMidiChart(MidiChart& chart, const std::string& path, ChartLog log) {
    const bool progress = log == ChartLog::Progress;
    const std::string clean = cleanAssetPath(path);
    if (progress) {
        logMessage("Loading MIDI file: %s", clean.c_str());
    }
    // Read once, as a whole: a file that cannot be read through (a folder, say) does not exist as
    // far as the chart is concerned.
    std::string bytes;
    bool read = false;
    try {
        read = readWholeFile(clean, bytes);
    } catch (const std::exception&) {
        read = false;
    }
    if (!read) {
        logError(stderr, "Error: MIDI file does not exist: %s", clean.c_str());
        return false;
    }
    chart.midi = std::make_unique<MidiFile>();
    if (!parseMidiBytes(std::move(bytes), clean, *chart.midi)) {
        logError(stderr, "Failed to load MIDI file using asset loader: %s", clean.c_str());
        return false;
    }
    if (progress) {
        logMessage("Loaded MIDI file: %s", clean.c_str());
    }
    chart.midiPath = clean;
    chart.lastPosition = 0.0;
    chart.loaded = true;

    buildChartFromMidi(chart, log);

    if (progress) {
        logMessage("Successfully loaded MIDI file: %s with %zu note events (native BPM: %.1f)",
                   assetBaseName(clean).c_str(), chart.notes.size(), chart.midiBpm);
    }
    return true;
}

void scaleChartToBpm(MidiChart& chart, float audioBpm, ChartLog log) {
    const bool progress = log == ChartLog::Progress;
    if (!chart.loaded || chart.notes.empty()) {
        return;
    }
    // A zero, negative or non-finite BPM would turn every note time into nonsense.
    if (!std::isfinite(audioBpm) || audioBpm <= 0.0f) {
        logError(stderr, "Cannot scale MIDI timing to audio BPM %.1f", audioBpm);
        return;
    }
    const float ratio = chart.midiBpm / audioBpm;
    if (std::fabs(ratio - 1.0f) < 0.01f) {
        if (progress) {
            logMessage("MIDI BPM (%.1f) matches audio BPM (%.1f), no scaling needed", chart.midiBpm,
                       audioBpm);
        }
        return;
    }
    if (progress) {
        logMessage("Scaling MIDI timing: MIDI BPM %.1f -> Audio BPM %.1f (ratio: %.3f)", chart.midiBpm,
                   audioBpm, ratio);
    }
    const double factor = static_cast<double>(ratio);
    for (MidiNoteEvent& note : chart.notes) {
        note.time *= factor;
        note.duration *= factor;
    }
    chart.midiBpm = audioBpm;
    if (progress) {
        logMessage("MIDI events scaled to match audio BPM (%.1f)", audioBpm);
    }
}

void releaseMidiChart(MidiChart& chart) {
    chart.midi.reset();
    std::vector<MidiNoteEvent>().swap(chart.notes);
    std::string().swap(chart.midiPath);
    chart.loaded = false;
}
