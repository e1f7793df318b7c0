#pragma once
// Hit judgement: presses and releases of keys, gamepad buttons, fingers and the mouse on circles,
// graded by how close they land to the note time; and the frame's input turned into the round's
// events. Every input is judged as the device it names.
#include "game/game_rules.hpp"
#include "game/game_state.hpp"

#include "game/round_event.hpp"

#include <cstdint>
#include <vector>

struct InputState;

// The grade of a judged press; it only scales the points.
enum class Judgement { PERFECT, GREAT, GOOD, OK };

// 1 - |time - songTime|, limited to 0..1.
double accuracyAt(const Circle& circle, double songTime);

// PERFECT from 0.9, GREAT from 0.75, GOOD from 0.5, OK below.
Judgement judgementFor(double accuracy);

// Note points by MIDI key number: lower notes are worth more (50, 30, 20, 10).
std::int32_t notePoints(std::int32_t note);

// (1 + floor(2a)) x note points x tier factor (3, 2, 1, 1), before the multiplier.
std::int32_t pressPoints(double accuracy, std::int32_t note);

// The song time at the moment an input happened, from its SDL event timestamp (nanoseconds): the
// game's clock carried from its last reading at its rate (songRate). An input without a
// timestamp (0), or a clock never read, is taken at the clock's last value.
double inputSongTime(const GameState& game, std::uint64_t eventNs);

// The frame's presses and releases (InputState::actions) as the round's events, in time order:
// keys (in keyboard gameplay), fingers, the mouse (only while no finger is tracked) and gamepad
// buttons (with their pad's id), each at the song time of its own event (inputSongTime), pointers in the
// circles' space (y flipped upward in a window `windowHeight` pixels high). Among events at one time: keys,
// fingers, mouse, buttons; a key's or button's press before its release. None unless a round is
// playing. Main thread, game mutex held.
std::vector<RoundEvent> gameplayInputEvents(const GameState& game, const InputState& input,
                                            std::int32_t windowHeight);

// The index of the nearest pressable circle whose centre lies within its target radius + 2 px of
// (x, y) (circle space, y upward), the older one on a tie; -1 when there is none. Pressable at song
// time `at`: active, not hit, not held, at most 0.1 s early and not yet over (circleOverAt).
std::int32_t findCircleAt(const GameState& game, float x, float y, double at);
inline std::int32_t findCircleAt(const GameState& game, float x, float y) {
    return findCircleAt(game, x, y, game.songTime);
}

// The first pressable circle (as above, in spawn order) that `code` of `device` hits: a key's grid
// cell, or a gamepad button. Circles sharing a cell or a button are taken oldest first. -1 when
// none, and always for pointers (they aim: findCircleAt).
std::int32_t findCircleForButton(const GameState& game, InputDevice device, std::uint32_t code, double at);

// One press or release of `input` on circle `index` at song time `at`. A finger has the wider
// hold press window and its messages on stderr; the mouse, keys and gamepad buttons the narrower
// window. Game mutex held.
void judgeInput(GameState& game, std::int32_t index, InputRef input, bool isPress, double at);
inline void judgeInput(GameState& game, std::int32_t index, InputRef input, bool isPress) {
    judgeInput(game, index, input, isPress, game.songTime);
}
