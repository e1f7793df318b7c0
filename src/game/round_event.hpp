#pragma once
// The player's inputs as a round takes them: each press or release with its own moment on the song
// clock, the device it came from and what it pressed (a key, or a point of the drawable area).
// Plain data: the input layer makes them from the platform's events, a round applies them in time
// order, and a replay stores them.
#include <cmath>
#include <cstdint>

// Press or release; or the drawable area changing size (the window was resized): circles spawn into
// the new area from then on, and pointer positions are in its pixels.
enum class InputKind : std::uint8_t { Press = 0, Release = 1, Resize = 2 };

// Where an input came from. Pointers (mouse, finger) carry a position; keys carry the grid cell
// their key is bound to, gamepad buttons the button.
enum class InputDevice : std::uint8_t { Key = 0, Mouse = 1, Finger = 2, Gamepad = 3 };

// One input as the hold map and a circle's holders know it: its device and its id there (a finger's
// platform id, kMouseInputId for the mouse, a key's cell, a gamepad button's gamepadInputId), so
// that a finger whose id equals a key's cell is still another input.
struct InputRef {
    InputDevice device = InputDevice::Key;
    std::uint64_t id = 0;
    bool operator<(const InputRef& other) const {
        return device != other.device ? device < other.device : id < other.id;
    }
    bool operator==(const InputRef& other) const { return device == other.device && id == other.id; }
};

// A gamepad button's id as an input: its pad's id (SDL's, 32 bits) above the button's number, so
// that one button on two pads is two inputs and each holds its own circle.
inline std::uint64_t gamepadInputId(std::uint64_t pad, std::uint32_t button) { return (pad << 32) | button; }

// One input event of a round.
struct RoundEvent {
    std::int64_t songTimeUs = 0; // its moment on the song clock, in whole microseconds
    InputKind kind = InputKind::Press;
    InputDevice device = InputDevice::Key;
    std::uint64_t id = 0;  // which finger (its platform id) or gamepad (SDL's id); 0 for the mouse and keys
    std::uint32_t key = 0; // Key: the grid cell pressed (key_grid.hpp); Gamepad: the button; 0 for pointers
    float x = 0.0f;        // pointers: drawable pixels from the left edge; Resize: the new width
    float y = 0.0f; // pointers: drawable pixels from the bottom edge (the circles' space); Resize: height
};

// A song time in whole microseconds, as events carry it (rounded to the nearest; a time that is not
// finite goes to the far end it points at).
inline std::int64_t songTimeToMicros(double seconds) {
    constexpr double kFar = 4e12; // seconds: past any song, and well inside the range of the microseconds
    if (!(std::fabs(seconds) < kFar)) {
        return seconds > 0 ? static_cast<std::int64_t>(kFar * 1e6) : -static_cast<std::int64_t>(kFar * 1e6);
    }
    return static_cast<std::int64_t>(std::llround(seconds * 1e6));
}

// The first whole microsecond at or after song time `seconds` (as a double, microseconds / 1e6
// compares at least `seconds`).
inline std::int64_t firstMicrosFrom(double seconds) {
    std::int64_t us = songTimeToMicros(seconds);
    while (static_cast<double>(us) / 1e6 < seconds && us < songTimeToMicros(1e300)) {
        ++us;
    }
    while (static_cast<double>(us - 1) / 1e6 >= seconds) {
        --us;
    }
    return us;
}

// A pause within a round: the song stopped at `atUs` and play went on from `resumeUs` (at most
// `atUs`: a rewind), both on the song clock in microseconds.
// In a practice round, play went on at `speedPercent` of the music's own speed (changed while
// paused); 100 in a round played in earnest.
struct RoundPause {
    std::int64_t atUs = 0;
    std::int64_t resumeUs = 0;
    std::int32_t speedPercent = 100;
};

// A practice loop's jump: the song reached the loop's end `atUs` and went back to `toUs` (its start
// A less a bar of count-in) to play the passage from A (`liveFromUs`) again, its circles live again;
// the circles due in the count-in (before A) are shown but never judged. Song times in microseconds.
// `eventIndex` and `pauseIndex` count the inputs and pauses of the round before the jump: those
// after it belong to the song as it plays from `toUs` on.
struct LoopJump {
    std::int64_t atUs = 0;
    std::int64_t toUs = 0;
    std::int64_t liveFromUs = 0;
    std::uint32_t eventIndex = 0;
    std::uint32_t pauseIndex = 0;
};
