#pragma once
// Which gamepad button answers a circle, as plain numbers the rules can carry without SDL: the
// buttons are SDL's `SDL_GamepadButton` values (stable across SDL 3 releases; the render layer
// checks them against SDL's header at compile time), and the two triggers, which SDL reports as
// axes, get two values of their own past SDL's buttons.
#include <cstdint>

using PadButton = std::int32_t;

constexpr PadButton kNoPadButton = -1; // the circle is answered by a key or a pointer

constexpr PadButton kPadSouth = 0; // bottom face button (A on an Xbox pad)
constexpr PadButton kPadEast = 1;  // right face button (B)
constexpr PadButton kPadWest = 2;  // left face button (X)
constexpr PadButton kPadNorth = 3; // top face button (Y)
constexpr PadButton kPadLeftShoulder = 9;
constexpr PadButton kPadRightShoulder = 10;
constexpr PadButton kPadDpadUp = 11;
constexpr PadButton kPadDpadDown = 12;
constexpr PadButton kPadDpadLeft = 13;
constexpr PadButton kPadDpadRight = 14;
constexpr PadButton kPadLeftTrigger = 100; // an axis in SDL: pressed past its threshold
constexpr PadButton kPadRightTrigger = 101;
