#include "render/stem_slots.hpp"

void setStemVisuals(RenderState& render, int slot, float base, float peak, float lerpSpeed, float r, float g,
                    float b) {
    if (slot < 0 || slot >= kStemSlots) {
        return;
    }
    render.stemBase[slot] = base;
    render.stemValue[slot] = base;
    render.stemTarget[slot] = base;
    render.stemPeak[slot] = peak;
    render.stemLerpSpeed[slot] = lerpSpeed;
    render.stemColors[slot][0] = r;
    render.stemColors[slot][1] = g;
    render.stemColors[slot][2] = b;
    render.stemColors[slot][3] = 1.0f;
}

void resetStemSlot(RenderState& render, int slot) {
    if (slot < 0 || slot >= kStemSlots) {
        return;
    }
    render.stemValue[slot] = 1.0f;
    render.stemTarget[slot] = 1.0f;
    render.stemBase[slot] = 1.0f;
    render.stemPeak[slot] = 2.0f;
    render.stemLerpSpeed[slot] = 18.0f;
}
