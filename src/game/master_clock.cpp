#include "game/master_clock.hpp"

#include "audio/audio_system.hpp"
#include "base/log.hpp"
#include "game/game_state.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using NoteIter = std::vector<MidiNoteEvent>::const_iterator;

// First note later than t: the chart is sorted by time, so every range of due notes is found by
// two binary searches instead of a scan of the whole chart each tick.
NoteIter firstAfter(const std::vector<MidiNoteEvent>& notes, double t) {
    return std::upper_bound(notes.begin(), notes.end(), t,
                            [](double value, const MidiNoteEvent& note) { return value < note.time; });
}

struct DueRange {
    NoteIter begin, end;
};

// The notes due between the previous clock position and now, in chart order: those with
// lastPosition < t <= now; with looping the chart repeats every `length` seconds, so both ends
// are folded into one pass first, and when the loop point was passed since the last tick the
// notes up to now (early in the chart) come before the notes after the old position.
int dueRanges(const std::vector<MidiNoteEvent>& notes, double lastPosition, double now, bool looping,
              double length, DueRange ranges[2]) {
    if (!looping || !(length > 0.0)) {
        if (!(lastPosition < now)) {
            return 0;
        }
        ranges[0] = {firstAfter(notes, lastPosition), firstAfter(notes, now)};
        return 1;
    }
    const double p = std::fmod(lastPosition, length);
    const double n = std::fmod(now, length);
    if (n < p) {
        ranges[0] = {notes.begin(), firstAfter(notes, n)};
        ranges[1] = {firstAfter(notes, p), notes.end()};
        return 2;
    }
    if (!(p < n)) {
        return 0;
    }
    ranges[0] = {firstAfter(notes, p), firstAfter(notes, n)};
    return 1;
}

} // namespace

void advanceMasterClockTo(AudioSystem& audio, GameState& game, RenderState* render, double now) {
    game.pendingNotes.clear();
    std::vector<MidiNoteEvent> fired;
    for (size_t s = 0; s < audio.stems.size(); ++s) {
        LoadedStem& stem = audio.stems[s];
        MidiChart& chart = stem.chart;
        if (!chart.loaded || !stem.active) {
            continue; // an inactive stem keeps its chart where it was
        }
        if (audio.looping && chart.audioLength > 0.0 && now < chart.lastClock) {
            chart.lastPosition = 0.0;
            ++chart.loopCount;
        }
        chart.lastClock = now;
        game.songTime = now;
        DueRange ranges[2];
        const int count =
            dueRanges(chart.notes, chart.lastPosition, now, audio.looping, chart.audioLength, ranges);
        for (int r = 0; r < count; ++r) {
            for (NoteIter note = ranges[r].begin; note < ranges[r].end; ++note) {
                fired.push_back(*note);
                MidiNoteEvent& copy = fired.back();
                copy.stemIndex = static_cast<int>(s);
                if (game.noteCallback && render) {
                    game.noteCallback(copy, render);
                }
            }
        }
        chart.lastPosition = now;
    }
    if (fired.size() > 2) {
        logMessage("MIDI: Triggered %zu events (master clock)", fired.size());
    }
    if (!fired.empty()) {
        game.pendingNotes.insert(game.pendingNotes.end(), fired.begin(), fired.end());
    }
}
