#pragma once
// A small text renderer apart from the GUI's: the printable ASCII range of one TrueType font baked
// into a 512 x 512 single-channel atlas, and single-line strings drawn as textured quads in
// drawable pixels (origin top left, y downward). The circles' key letters use it.
// Main thread only (GL).
#include <vector>

struct RenderState;

constexpr int kFontAtlasSize = 512;
constexpr int kFirstGlyph = 32; // the atlas holds codes 32..126
constexpr int kGlyphCount = 95;

// Reads shaders/text.vert and shaders/text.frag, links the text program and makes the vertex
// array and buffer (position, texture coordinate, colour: 32 bytes a vertex). Each failure writes
// its line to stderr and returns false.
bool initTextRenderer(RenderState& render);

// Bakes codes 32..126 of the font file at `path` at `pixelHeight` into a new atlas texture
// (replacing the old one) and the glyph table. False, with its line on stderr, when the file
// cannot be read, is not a font, or the glyphs do not fit.
bool loadFontAtlas(RenderState& render, const char* path, float pixelHeight);

// Draws `text` with its pen starting at (x, y) on the baseline, in drawable pixels from the top
// left, every glyph metric multiplied by `scale`. Bytes without a glyph (control characters,
// anything above 126) are skipped without moving the pen; the string stays on one line. One draw
// call; nothing when `text` is null or the program or atlas is missing.
void drawText(RenderState& render, const char* text, float x, float y, float r, float g, float b, float a,
              float scale);

// Replaces `vertices` with the six vertices (two triangles) of each drawn character of `text`,
// 8 floats each (x, y, u, v, r, g, b, a), exactly as drawText uploads them. Plain code: no GL.
void buildTextVertices(const RenderState& render, const char* text, float x, float y, const float rgba[4],
                       float scale, std::vector<float>& vertices);
