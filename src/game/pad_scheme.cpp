#include "game/pad_scheme.hpp"

#include "game/game_rules.hpp"

#include <algorithm>
#include <cstdlib>

namespace {

// Four buttons by direction from a region's centre, compared in the region's own proportions (so
// the region splits along its diagonals): the button on the side the circle leans to most.
struct Cross {
    PadButton up, down, left, right;
};
constexpr Cross kDpad{kPadDpadUp, kPadDpadDown, kPadDpadLeft, kPadDpadRight};
constexpr Cross kFace{kPadNorth, kPadSouth, kPadWest, kPadEast};

// Keys first..first+keys-1 across, velocities 0..127 up. Doubled coordinates keep the centre of an
// even span on a whole number.
PadButton crossButton(const Cross& cross, std::int32_t first, std::int32_t keys, std::int32_t note,
                      std::int32_t velocity) {
    const std::int32_t across = 2 * (note - first) + 1 - keys; // -keys..keys
    const std::int32_t up = 2 * velocity + 1 - 128;            // -128..128
    if (std::abs(across) * 128 > std::abs(up) * keys) {
        return across < 0 ? cross.left : cross.right;
    }
    return up < 0 ? cross.down : cross.up;
}

} // namespace

PadButton padButtonForNote(std::int32_t note, std::int32_t velocity) {
    const std::int32_t lanes = kKeyLaneCount * kKeysPerLane;
    // As the keyboard grid: a key number outside the screen takes lane note mod 8.
    const std::int32_t lane = note >= 0 && note < lanes
                                  ? note / kKeysPerLane
                                  : ((note % kKeyLaneCount) + kKeyLaneCount) % kKeyLaneCount;
    const std::int32_t key = note >= 0 && note < lanes ? note : lane * kKeysPerLane + kKeysPerLane / 2;
    velocity = std::clamp(velocity, 0, 127);
    const bool upper = velocity >= 64;
    if (lane == 0) {
        return upper ? kPadLeftShoulder : kPadLeftTrigger;
    }
    if (lane == kKeyLaneCount - 1) {
        return upper ? kPadRightShoulder : kPadRightTrigger;
    }
    const std::int32_t half = kKeyLaneCount / 2;
    const std::int32_t regionKeys = (half - 1) * kKeysPerLane; // lanes 1..3, or 4..6
    return lane < half ? crossButton(kDpad, kKeysPerLane, regionKeys, key, velocity)
                       : crossButton(kFace, half * kKeysPerLane, regionKeys, key, velocity);
}
