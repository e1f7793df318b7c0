#pragma once
// The background's per-stem animation slots in the RenderState: what a level gives each stem.
#include "render/render_system.hpp"

// Slot 0..7 (others ignored): base, value and target := base; peak, lerp speed and colour
// (alpha 1) as given. Main thread, from the level loader (under the game mutex).
void setStemVisuals(RenderState& render, int slot, float base, float peak, float lerpSpeed, float r, float g,
                    float b);

// Slot 0..7 back to value, target and base 1.0, peak 2.0, lerp speed 18.0; the colour is kept.
void resetStemSlot(RenderState& render, int slot);
