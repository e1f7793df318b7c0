#include "audio/midi_chart.hpp"

#include "audio/asset_path.hpp"
#include "base/log.hpp"

#include <SDL3/SDL.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <sstream>

namespace {

// Existence as the asset loader sees it: the whole file can be loaded.
bool midiFileExists(const std::string& path) {
    size_t size = 0;
    void* data = SDL_LoadFile(path.c_str(), &size);
    if (!data) {
        return false;
    }
    SDL_free(data);
    return true;
}

// The first tempo event in track order decides the chart's native BPM; 120 when there is none.
float findChartTempo(const MidiFile& midi) {
    float bpm = 120.0f;
    for (int t = 0; t < midi.getTrackCount() && bpm == 120.0f; ++t) {
        for (int i = 0; i < midi.getEventCount(t); ++i) {
            const SmfEvent& event = midi.getEvent(t, i);
            // A tempo of 0 microseconds has no BPM; the next tempo event may still give one.
            if (isTempo(event) && tempoBpm(event) > 0.0) {
                bpm = static_cast<float>(tempoBpm(event));
                logMessage("Found MIDI tempo: %.1f BPM", bpm);
                break;
            }
        }
    }
    return bpm;
}

} // namespace

bool readMidiFileBytes(const std::string& path, MidiFile& midi) {
    SDL_IOStream* io = SDL_IOFromFile(path.c_str(), "rb");
    if (!io) {
        SDL_Log("ERROR: Could not open MIDI file %s: %s", path.c_str(), SDL_GetError());
        return false;
    }
    const Sint64 size = SDL_GetIOSize(io);
    if (size < 0) {
        SDL_Log("ERROR: Could not get size of MIDI file %s: %s", path.c_str(), SDL_GetError());
        SDL_CloseIO(io);
        return false;
    }
    try {
        std::string buffer(static_cast<size_t>(size), '\0');
        const size_t got = size > 0 ? SDL_ReadIO(io, buffer.data(), buffer.size()) : 0;
        SDL_CloseIO(io);
        io = nullptr;
        if (got != static_cast<size_t>(size)) {
            SDL_Log("ERROR: Failed to read the entire MIDI file %s. Read %zu of %lld bytes.", path.c_str(),
                    got, static_cast<long long>(size));
            return false;
        }
        std::istringstream stream(std::move(buffer));
        const bool ok = midi.read(stream);
        if (!ok) {
            SDL_Log("ERROR: MidiFile failed to parse data from %s", path.c_str());
        }
        return ok;
    } catch (const std::exception& e) {
        // Out of memory for a huge file, mostly; the stem then plays as audio only.
        if (io) {
            SDL_CloseIO(io);
        }
        SDL_Log("ERROR: MidiFile failed to parse data from %s", path.c_str());
        return false;
    }
}

void buildChartFromMidi(MidiChart& chart) {
    MidiFile& midi = *chart.midi;
    midi.doTimeAnalysis();
    midi.linkNotePairs();
    midi.joinTracks();

    chart.midiBpm = findChartTempo(midi);

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

bool loadMidiChart(MidiChart& chart, const std::string& path) {
    const std::string clean = cleanAssetPath(path);
    logMessage("Loading MIDI file: %s", clean.c_str());
    if (!midiFileExists(clean)) {
        logError(stderr, "Error: MIDI file does not exist: %s", clean.c_str());
        return false;
    }
    chart.midi = std::make_unique<MidiFile>();
    if (!readMidiFileBytes(clean, *chart.midi)) {
        logError(stderr, "Failed to load MIDI file using asset loader: %s", clean.c_str());
        return false;
    }
    logMessage("Loaded MIDI file: %s", clean.c_str());
    chart.midiPath = clean;
    chart.lastPosition = 0.0;
    chart.loaded = true;

    buildChartFromMidi(chart);

    logMessage("Successfully loaded MIDI file: %s with %zu note events (native BPM: %.1f)",
               assetBaseName(clean).c_str(), chart.notes.size(), chart.midiBpm);
    return true;
}

void scaleChartToBpm(MidiChart& chart, float audioBpm) {
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
        logMessage("MIDI BPM (%.1f) matches audio BPM (%.1f), no scaling needed", chart.midiBpm, audioBpm);
        return;
    }
    logMessage("Scaling MIDI timing: MIDI BPM %.1f -> Audio BPM %.1f (ratio: %.3f)", chart.midiBpm, audioBpm,
               ratio);
    const double factor = static_cast<double>(ratio);
    for (MidiNoteEvent& note : chart.notes) {
        note.time *= factor;
        note.duration *= factor;
    }
    chart.midiBpm = audioBpm;
    logMessage("MIDI events scaled to match audio BPM (%.1f)", audioBpm);
}

void releaseMidiChart(MidiChart& chart) {
    chart.midi.reset();
    std::vector<MidiNoteEvent>().swap(chart.notes);
    std::string().swap(chart.midiPath);
    chart.loaded = false;
}
