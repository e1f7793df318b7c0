#pragma once
// Builders for the gameplay tests (stems, charts, circles), and the autoplay bot playing a level.
#include "app/input.hpp"
#include "app/logic_thread.hpp"
#include "audio/audio_system.hpp"
#include "capture.hpp"
#include "game/autoplay.hpp"
#include "game/circles.hpp"
#include "game/game_state.hpp"
#include "game/judgement.hpp"
#include "game/round_progress.hpp"
#include "game/scoring.hpp"
#include "level/round_setup.hpp"
#include "render/render_system.hpp"

#include <SDL3/SDL_events.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace gametest {

inline MidiNoteEvent noteOn(double time, int key, int velocity = 100, int channel = 0,
                            double duration = 0.0) {
    return MidiNoteEvent{key, velocity, 64, time, duration, 0, true, channel, 0, -1};
}
inline MidiNoteEvent noteOff(double time, int key) {
    return MidiNoteEvent{key, 0, 64, time, 0.0, 0, false, 0, 0, -1};
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

// A tap circle of key number `note` due at `time`, centred on (x, y) (y upward), hit by the key of
// grid cell `cell`.
inline Circle tapAt(float x, float y, double time, int note = 40, std::uint32_t cell = kNoCell) {
    Circle circle;
    circle.x = x;
    circle.y = y;
    circle.time = time;
    circle.note = note;
    circle.cell = cell;
    return circle;
}

// A hold circle `duration` seconds long.
inline Circle holdAt(float x, float y, double time, float duration, int note = 40,
                     std::uint32_t cell = kNoCell) {
    Circle circle = tapAt(x, y, time, note, cell);
    circle.channel = kHoldChannel;
    circle.holdDuration = duration;
    return circle;
}

// One frame's gameplay at song time `at`: the frame's input joins the round, which is applied up
// to and including `at` (with the audio following its layers when `audio` is given).
inline void frameAt(GameState& game, const InputState& input, double at, AudioSystem* audio = nullptr,
                    std::int32_t height = 1080) {
    game.songTime = at;
    const double through = std::nextafter(at, 1e300); // what falls on `at` itself too
    queueRoundInputs(game, gameplayInputEvents(game, input, height), through);
    advanceRound(game, through, audio != nullptr ? audioLayerRequests(*audio) : LayerRequests{});
    updateCircleLook(game, at);
}

// Plays the level to `end` s of song time as the game's threads would: 120 Hz logic ticks, frames
// every `frameDt`, and the bot's finger events in between, stamped at their own song times. The
// round begins at the game's song time on the level in `audio`.
inline void playWithBot(AudioSystem& audio, GameState& game, double end, double frameDt = 1.0 / 60.0) {
    const RenderState render = fullHdRender();
    beginRound(game, roundSetupOf(audio, render.width, render.height), game.songTime);
    const PointerScale scale{1.0f, static_cast<float>(render.width), static_cast<float>(render.height)};
    auto ticksAt = [](double songTime) {
        return 5'000'000'000ull + static_cast<std::uint64_t>(std::llround(songTime * 1e9));
    };
    AutoplayPlan plan;
    autoplayStart(plan);
    InputState input; // the bot's events land here as SDL queues them, until the next frame
    double nextTick = 0.0;
    double nextFrame = 0.0;
    for (;;) {
        autoplayPlan(plan, game, render.width, render.height);
        AutoplayAction action;
        // An event at a frame's very moment is in that frame's input (it was queued before the poll).
        const bool acting = autoplayNext(plan, &action) && action.at <= std::min(nextTick, nextFrame);
        if ((acting ? action.at : std::min(nextTick, nextFrame)) >= end) {
            break;
        }
        if (acting) {
            SDL_Event event{};
            event.type = action.step == AutoplayStep::Press ? SDL_EVENT_FINGER_DOWN : SDL_EVENT_FINGER_UP;
            event.tfinger.timestamp = ticksAt(action.at);
            event.tfinger.fingerID = action.finger;
            event.tfinger.x = action.x;
            event.tfinger.y = action.y;
            applyInputEvent(input, event, scale);
            autoplayDone(plan, action);
        } else if (nextTick <= nextFrame) {
            game.songTime = nextTick;
            game.songTimeNs = ticksAt(nextTick);
            advanceRound(game, nextTick, audioLayerRequests(audio));
            nextTick += 1.0 / 120.0;
        } else {
            game.songTimeNs = ticksAt(nextFrame);
            frameAt(game, input, nextFrame, &audio, render.height);
            endInputFrame(input);
            nextFrame += frameDt;
        }
    }
}

} // namespace gametest
