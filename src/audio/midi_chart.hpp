#pragma once
// A stem's MIDI chart: the file's note-ons and note-offs as a flat list sorted by time in seconds,
// rescaled to the level's BPM. The master clock fires from it and the circle spawner looks ahead
// into it.
#include "audio/midi/midi_file.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One note-on or note-off of a chart.
struct MidiNoteEvent {
    int32_t note = 0;       // key number 0..127
    int32_t velocity = 0;   // note-on velocity 1..127; a note-off's release velocity byte
    int32_t pan = 64;       // controller 10 of the channel as last set before the event; 64 if never
    double time = 0.0;      // seconds from the start of the file (on the level's BPM once scaled)
    double duration = 0.0;  // seconds to the paired note-off; 0 for note-offs and unpaired note-ons
    int32_t tick = 0;       // absolute tick, never scaled
    bool isNoteOn = false;  // false for 0x8n and for 0x9n with velocity 0
    int32_t channel = 0;    // 0..15
    int32_t track = 0;      // track after merging: always 0
    int32_t stemIndex = -1; // stem that fired the note; set by the master clock on its copies
};

// Which lines loading and scaling a chart log: each step on stdout and every failure on stderr (the
// game), or the failures alone (reading levels to check rounds, where a line per chart is noise).
enum class ChartLog { Progress, ErrorsOnly };

// One per loaded stem. Default-constructible and movable.
struct MidiChart {
    std::unique_ptr<MidiFile> midi;   // the parsed file, replaced on each load
    std::vector<MidiNoteEvent> notes; // sorted by time ascending
    std::string midiPath;             // cleaned path of the loaded file
    double lastPosition = 0.0;        // clock position up to which notes have fired (seconds)
    bool loaded = false;              // only a loaded chart is scaled, fired and spawned from
    double audioLength = 0.0;         // the stem's audio length in seconds: the chart's loop period
    uint32_t loopCount = 0;           // how often the master clock saw the song time go backwards
    double lastClock = 0.0;           // song time at the previous clock tick (seconds)
    float midiBpm = 120.0f;           // the file's tempo; the level BPM once scaled
};

// Loads the MIDI file at `path` (backslashes become '/', double quotes are dropped) into the chart
// and builds its note list. Logs progress on stdout (unless `log` is ErrorsOnly) and failures on
// stderr; returns false when the file is missing, cannot be read whole (a folder) or is refused
// (the chart is then not `loaded`). Plain file reading: any thread, on the caller's chart.
bool loadMidiChart(MidiChart& chart, const std::string& path, ChartLog log = ChartLog::Progress);

// Reads the whole file and lets `midi` parse it from memory. Failures are reported on stderr
// ("ERROR: Could not open MIDI file <path>: <reason>", "ERROR: MidiFile failed to parse data from
// <path>"). Any thread.
bool readMidiFileBytes(const std::string& path, MidiFile& midi);

// Runs the chart sequence on `chart.midi` (time analysis, note pairs, join), finds the tempo and
// rebuilds `notes`. Used by loadMidiChart after a successful read. `chart.midi` must be set.
void buildChartFromMidi(MidiChart& chart, ChartLog log = ChartLog::Progress);

// Rescales note times and durations of a loaded chart from its `midiBpm` to `audioBpm`, unless the
// two are within 1 % of each other. A BPM that is not a positive finite number changes nothing
// (and says so on stderr). At level load, on the caller's chart.
void scaleChartToBpm(MidiChart& chart, float audioBpm, ChartLog log = ChartLog::Progress);

// Frees the MIDI file, the note list and the path, and marks the chart not loaded. Used when a
// stem is released.
void releaseMidiChart(MidiChart& chart);
