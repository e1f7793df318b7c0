#pragma once
// The circle renderer: every live circle (and every hit burst) as one instanced draw call, one
// quad per circle covering its ring and glow, shaded by shaders/circle_sdf.frag from uniform
// arrays; then each circle's gamepad glyph (while the player's last device was a gamepad and the
// circle carries a button) or, in keyboard gameplay, its key label, through the text renderer in
// one more draw call.
// Main thread only (GL), with the game mutex held while the game state is read.
#include "game/game_rules.hpp"
#include "render/text_renderer.hpp"

#include <cstdint>

struct Circle;
struct GameState;
struct RenderState;

// The uniform arrays below and the circle shaders (MAX_CIRCLES there) hold kMaxCircles
// (game/game_rules.hpp). The densest shipped level has 24 circles alive at once; beyond the limit
// the circles due soonest are kept.

// The per-circle uniform arrays of one frame, one element per uploaded circle in list order.
struct CircleBatch {
    int count = 0;
    float centers[kMaxCircles][2];
    float radii[kMaxCircles];
    float targetRadii[kMaxCircles];
    float holdProgress[kMaxCircles];
    std::int32_t active[kMaxCircles];
    std::int32_t hit[kMaxCircles];
    std::int32_t stemIndex[kMaxCircles];
    std::int32_t isHold[kMaxCircles];
    std::int32_t source[kMaxCircles]; // index of each element's circle in the game's list, or kGhostSource
};

// A ghost's `source` (it is in the round's ghosts, not its circles) and its `active` value, which
// the shaders draw faded.
constexpr std::int32_t kGhostSource = -1;
constexpr std::int32_t kGhostActive = 2;

// How far a hold circle's hold has run at `songTime`: 0 before its note time, rising to 1 when
// the hold is due to end. Always 0 for tap circles and for holds of no length.
float holdProgress(const Circle& circle, double songTime);

// Fills the arrays from the game's circles in list order, inactive circles included, but not those
// a rewound span has not spawned yet (awaitingSpawn). With more than kMaxCircles circles, the
// kMaxCircles whose note times come soonest are kept (list order among them). Then the round's
// ghosts on screen, while room is left.
void buildCircleBatch(const GameState& game, CircleBatch& batch);

// Where and how large a circle's label is drawn: `unit` is the label's ink box measured at scale 1
// (measureText), centred on (x, y) (pixels, origin bottom left) in a drawable `height` pixels
// high, at `preferredScale` or smaller so that the box fits `maxWidth` x `maxHeight` pixels (a key
// name such as "Spc" shrinks to the circle). The pen is in the text renderer's space (origin top
// left).
struct LabelPlacement {
    float scale = 0.0f;
    float penX = 0.0f, penY = 0.0f;
};
LabelPlacement placeLabel(const TextExtent& unit, float x, float y, int height, float preferredScale,
                          float maxWidth, float maxHeight);

// Reads shaders/circle_sdf.vert and .frag, links the circle program, binds its uniform block
// (or warns) and makes the empty vertex array. False, with its line on stderr, on failure.
bool initCircleRenderer(RenderState& render);

// Draws the circles of `game` over the background: nothing at all when no circle is active and
// no hit burst is fading out. Labels and gamepad glyphs follow. A background darkened
// ahead for a menu is brought back first (the menu's pass then darkens both).
void drawCircles(const GameState& game, RenderState& render);
