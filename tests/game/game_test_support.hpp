#pragma once
// Plain-struct builders for the gameplay tests: stems with hand-written charts, circles placed by
// hand, no audio device.
#include "audio/audio_system.hpp"
#include "game/game_state.hpp"
#include "render/render_system.hpp"

#include <gtest/gtest.h>

#include <string>

namespace gametest {

inline MidiNoteEvent noteOn(double time, int key, int velocity = 100, int channel = 0,
                            double duration = 0.0) {
    MidiNoteEvent note;
    note.note = key;
    note.velocity = velocity;
    note.time = time;
    note.duration = duration;
    note.isNoteOn = true;
    note.channel = channel;
    return note;
}

inline MidiNoteEvent noteOff(double time, int key) {
    MidiNoteEvent note;
    note.note = key;
    note.time = time;
    note.isNoteOn = false;
    return note;
}

// Appends an active stem with a loaded chart of the given audio length (0: no loop period).
inline LoadedStem& addStem(AudioSystem& audio, double audioLength, bool active = true) {
    LoadedStem& stem = audio.stems.emplace_back();
    stem.index = static_cast<int>(audio.stems.size()) - 1;
    stem.name = "stem" + std::to_string(stem.index) + ".ogg";
    stem.active = active;
    stem.chart.loaded = true;
    stem.chart.audioLength = audioLength;
    return stem;
}

inline RenderState fullHdRender() {
    RenderState render;
    render.width = 1920;
    render.height = 1080;
    return render;
}

// A game state as start-up leaves it, with a round playing.
inline GameState playingGame() {
    GameState game;
    initGameState(game, 8);
    game.playing = true;
    return game;
}

// A tap circle of key number `note` due at `time`, centred on (x, y) (y upward).
inline Circle tapAt(float x, float y, double time, int note = 40) {
    Circle circle;
    circle.x = x;
    circle.y = y;
    circle.time = time;
    circle.note = note;
    return circle;
}

// A hold circle `duration` seconds long.
inline Circle holdAt(float x, float y, double time, float duration, int note = 40) {
    Circle circle = tapAt(x, y, time, note);
    circle.channel = kHoldChannel;
    circle.holdDuration = duration;
    return circle;
}

// What `f` printed on stdout (or stderr).
template <class F> std::string stdoutOf(F&& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}
template <class F> std::string stderrOf(F&& f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

} // namespace gametest
