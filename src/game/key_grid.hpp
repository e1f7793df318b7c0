#pragma once
// The keyboard grid of keyboard gameplay: 8 lanes across the screen (by key number) times 3
// velocity rows, 24 logical cells. A round, its circles and its replays work on cells; which
// physical key plays a cell is the player's `KeyBindings`, by key position (SDL scancode numbers,
// which do not depend on the keyboard layout). What a key prints (the circle's label) comes from
// the layout, through the input layer. Plain data and pure functions: any thread.
#include "game/game_rules.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// A cell is lane * 3 + row: lane 0..7 from the left, row 0 (low velocity, bottom) to 2 (high, top).
constexpr std::int32_t kVelocityRows = 3;
constexpr std::int32_t kGridCells = kKeyLaneCount * kVelocityRows; // 24
// No cell: a circle spawned without keyboard gameplay, or a key bound to no cell.
constexpr std::uint32_t kNoCell = 0xFF;

constexpr std::uint32_t cellOf(std::int32_t lane, std::int32_t row) {
    return static_cast<std::uint32_t>(lane * kVelocityRows + row);
}
constexpr bool isCell(std::uint32_t cell) { return cell < static_cast<std::uint32_t>(kGridCells); }

// The cell of a note: the lane of its key number (16 per lane; a key number outside 0..127 takes
// lane `note` mod 8) and the row of its velocity (below 42, 42..85, above 85).
std::uint32_t cellForNote(std::int32_t note, std::int32_t velocity);

// The character each cell's key prints on a US layout, in cell order (z a q, x s w, ..., comma k i).
// Older replays recorded these keycodes (SDL keycodes of printable keys are their characters).
extern const char kUsGridCharacters[kGridCells + 1];

// The labels a US layout gives the cells: upper-case letters, and the comma.
std::array<std::string, kGridCells> usCellLabels();

// The cell a US-layout keycode played in older replays; kNoCell for any other key.
std::uint32_t cellForUsKeycode(std::uint32_t keycode);

// The player's grid: one SDL scancode number per cell.
struct KeyBindings {
    std::array<std::uint16_t, kGridCells> scancodes{};
};

// The grid by position as a US keyboard has it: the scancodes under z a q, x s w, ..., comma k i.
KeyBindings defaultKeyBindings();

// The cell bound to `scancode`; kNoCell when no cell is (the key is not a round input).
std::uint32_t cellForScancode(const KeyBindings& bindings, std::uint32_t scancode);

// Keys that keep their own meaning and are never bound to a cell: Escape, Space, F12, Print Screen,
// and the two keys right of P ([ and ] on a US keyboard), which mark a practice loop's start and end.
bool isReservedScancode(std::uint32_t scancode);

// Binds `cell` to the key at `scancode`. A key another cell has is swapped: that cell takes the key
// `cell` had. A reserved key, or a number that is no key (outside 4..511), is refused: false, the
// bindings unchanged, and `message` says which key (`keyName`, as the player's layout names it) and
// why ("Space starts and stops the song: it cannot play a cell"). True, `message` cleared, otherwise;
// binding a cell to its own key changes nothing. A value that is no cell is refused too.
bool bindKey(KeyBindings& bindings, std::uint32_t cell, std::uint32_t scancode, const std::string& keyName,
             std::string& message);

// Bindings from stored numbers (one per cell, in cell order). A list of the wrong length, a number
// that is no key (outside 4..511), a reserved key, or a key bound twice makes the whole grid the
// default: false, with the reason in `message`. True and `bindings` set otherwise.
bool keyBindingsFrom(const std::vector<std::int64_t>& stored, KeyBindings& bindings, std::string& message);

// A key's label from its keycode on the current layout (SDL keycodes of printable keys are Unicode
// code points) and its name: the character upper-cased, as UTF-8, for a printable key; otherwise a
// short name ("Spc", "Tab", or the name's first three characters; "?" when it has none).
std::string keyLabelText(std::uint32_t keycode, const std::string& keyName);
