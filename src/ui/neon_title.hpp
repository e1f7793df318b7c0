#pragma once
// What makes the menus' neon titles cheap to draw. The glow around a title is 64 copies of its
// large text in one colour, each of its own opacity, spread on rings around it; blended one over
// another they equal one layer of that colour whose opacity is 1 - the product of (1 - each
// copy's). That opacity is baked once into a texture, by drawing the copies in white into it, and
// each frame draws one quad of it tinted with the frame's colour: software GL no longer blends 64
// screens' worth of glyphs a frame. The darkening of the scene under the menus is drawn without a
// texture, mostly with the background's own pass (render/screen_dim.hpp). Main thread only.
#include <cstdint>
#include <string>
#include <vector>

struct ImDrawList;
struct ImVec2;

// What a baked glow depends on: any change bakes it again. Colour and time are not part of it.
struct GlowKey {
    std::string text;
    const void* font = nullptr;    // the ImFont the title is drawn in
    float fontSize = 0.0f;         // GUI pixels
    float uiScale = 0.0f;          // spreads the copies
    float x = 0.0f, y = 0.0f;      // where the text starts, GUI pixels: each copy is rounded from there
    float framebufferScale = 1.0f; // drawable pixels per GUI pixel
};
bool sameGlow(const GlowKey& a, const GlowKey& b);

// One title's baked glow and what led to it.
struct GlowEntry {
    std::string text;           // the title's
    GlowKey baked;              // what `texture` holds
    std::uint32_t texture = 0;  // GL name; 0 while nothing is baked
    float x0 = 0.0f, y0 = 0.0f; // where the texture goes, GUI pixels
    float x1 = 0.0f, y1 = 0.0f;
    GlowKey drawn;                // the key last drawn copy by copy
    std::int64_t drawnFrame = -2; // the GUI frame that drew it
    GlowKey failed;               // a key whose baking failed: drawn copy by copy, not baked again
    bool hasFailed = false;
    std::uint64_t lastUsed = 0; // frame counter of the cache, for eviction
};

// The baked glows, one per title text, at most kGlowCacheEntries of them (the least recently used
// goes first). Textures of entries dropped or replaced wait in `retired` for the GL side.
constexpr std::size_t kGlowCacheEntries = 8;
struct GlowCache {
    std::vector<GlowEntry> entries;
    std::vector<std::uint32_t> retired;
    std::uint64_t uses = 0;
};

// The entry for `text`, made when missing. Plain code: no GL.
GlowEntry& glowEntryFor(GlowCache& cache, const std::string& text);

// How this frame draws the glow of `key`:
//   UseTexture  the texture baked for this very key;
//   Bake        bake it now and draw the result: the frame just before drew the copies of this
//               key, so the font atlas's texture holds their glyphs where the atlas says;
//   DrawCopies  draw the copies one by one, as the first frame of a key does, a frame where
//               baking cannot happen (`canBake` false: no GL renderer, or the atlas's texture
//               has changes not yet uploaded), and every frame of a key whose baking failed.
// `frame` counts GUI frames (ImGui::GetFrameCount()). Plain code: no GL. Whoever bakes records
// the outcome with glowBaked or glowBakeFailed.
enum class GlowStep { UseTexture, Bake, DrawCopies };
GlowStep nextGlowStep(GlowEntry& entry, const GlowKey& key, bool canBake, std::int64_t frame);

// Records a successful bake of `key` into `texture`, placed at (x0, y0)-(x1, y1); the texture it
// replaces goes to `cache.retired`.
void glowBaked(GlowCache& cache, GlowEntry& entry, const GlowKey& key, std::uint32_t texture, float x0,
               float y0, float x1, float y1);

// Records that baking `key` failed: its glow is drawn copy by copy until the key changes. A stale
// texture goes to `cache.retired`.
void glowBakeFailed(GlowCache& cache, GlowEntry& entry, const GlowKey& key);

// Adds the glow of the title `text` (in the current font) whose text starts at `textPos`, in the
// colour (r, g, b) (0..1), to `draw`: from the cache when it can, baking it when due. Inside a GUI
// frame, with the GL context current when the GUI has its GL renderer (the bake draws into a
// texture there and then).
void drawNeonGlow(ImDrawList* draw, const char* text, const ImVec2& textPos, float uiScale, float r, float g,
                  float b);

// Adds to `draw` the menus' darkening of the scene (black of opacity kMenuDimAlpha over the whole
// screen): with the textureless passes of render/screen_dim.hpp when the GUI has its GL renderer
// and they could be built, else as a rectangle of the GUI's own. Inside a GUI frame.
void dimScreenUnder(ImDrawList* draw);

// Deletes every baked glow and the dimming pass (before the GL context goes).
void releaseNeonTitle();

// The cache drawNeonGlow uses (tests look at it).
GlowCache& neonGlowCache();
