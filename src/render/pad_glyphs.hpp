#pragma once
// Gamepad button glyphs drawn as shapes in the text renderer's vertex layout (the shapes sample
// the atlas's solid block, so they go out in the same draw call as text):
//   - face buttons: the four-dot diamond of the pad's face with the button's own dot filled, read
//     by position, so that it means the same on pads that print other letters on those buttons;
//   - D-pad: a faint cross with the direction's arm solid, ending in a point;
//   - shoulders: a pill with "LB" or "RB"; triggers: a taller rounded block with "LT" or "RT".
// Buttons are the values of game/pad_buttons.hpp. Plain code: no GL.
#include "game/pad_buttons.hpp"

#include <vector>

struct RenderState;

// Appends the triangles of `button`'s glyph, centred on (x, y) (drawable pixels, origin top left,
// y downward) and sized for a circle of radius `size` pixels, in colour `rgba` (the letters on a
// bar are dark on it). Vertices are 8 floats each, as drawTextVertices takes them. False, with
// nothing appended, for a button that has no glyph (kNoPadButton, Start, Back, sticks, ...).
bool appendPadGlyph(const RenderState& render, PadButton button, float x, float y, float size,
                    const float rgba[4], std::vector<float>& vertices);
