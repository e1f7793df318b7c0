#pragma once
// A small text renderer apart from the GUI's: the letters of the keyboard layouts a player may use
// (Basic Latin, Latin-1 Supplement, Latin Extended-A, Greek, Cyrillic and U+FFFD) baked from one
// TrueType font, with a second font for the letters the first lacks, into a 1024 x 512
// single-channel atlas, and single-line UTF-8 strings drawn as textured quads in drawable pixels
// (origin top left, y downward). The circles' key labels and gamepad glyphs use it.
// Main thread only (GL).
#include <string_view>
#include <vector>

struct RenderState;

constexpr int kFontAtlasWidth = 1024;
constexpr int kFontAtlasHeight = 512;
// A block of fully covered texels in the atlas's bottom left corner, below every glyph: quads whose
// texture coordinates point into it draw solid colour (the gamepad glyphs' shapes).
constexpr int kSolidBlockSize = 4;

// The code point of the UTF-8 sequence at `text[at]`, moving `at` past it. A byte that starts no
// well-formed sequence (stray continuation, overlong form, surrogate, past U+10FFFF, cut by the
// end) gives U+FFFD and moves `at` by that one byte. `at` must be below text.size().
char32_t readCodePoint(std::string_view text, std::size_t& at);

// Reads shaders/text.vert and shaders/text.frag, links the text program and makes the vertex
// array and buffer (position, texture coordinate, colour: 32 bytes a vertex). Each failure writes
// its line to stderr and returns false.
bool initTextRenderer(RenderState& render);

// Bakes the ranges above from the font file at `path` at `pixelHeight` into a new atlas texture
// (replacing the old one) and the glyph table; letters that font lacks come from `fallbackPath`
// when it is given and readable (when it is not, the atlas holds the first font's letters and the
// reason is logged). False, with its line on stderr, when the first file cannot be read, is not a
// font, or the glyphs do not fit; the atlas in use is then kept.
bool loadFontAtlas(RenderState& render, const char* path, float pixelHeight,
                   const char* fallbackPath = nullptr);

// The ink box of `text` drawn from a pen at (0, 0) with every metric multiplied by `scale`
// (pixels, y downward), and how far the pen moves. `inked` is false when no drawn glyph has a box.
struct TextExtent {
    float left = 0.0f, top = 0.0f, right = 0.0f, bottom = 0.0f;
    float advance = 0.0f;
    bool inked = false;
};
TextExtent measureText(const RenderState& render, std::string_view text, float scale);

// Draws UTF-8 `text` with its pen starting at (x, y) on the baseline, in drawable pixels from the
// top left, every glyph metric multiplied by `scale`. Bytes that are not UTF-8 read as U+FFFD;
// a code point the atlas has no glyph for (control characters among them) is skipped without
// moving the pen; the string stays on one line. One draw call; nothing when `text` is null or the
// program or atlas is missing.
void drawText(RenderState& render, const char* text, float x, float y, float r, float g, float b, float a,
              float scale);

// Replaces `vertices` with the six vertices (two triangles) of each drawn character of `text`,
// 8 floats each (x, y, u, v, r, g, b, a), exactly as drawText uploads them. Plain code: no GL.
void buildTextVertices(const RenderState& render, const char* text, float x, float y, const float rgba[4],
                       float scale, std::vector<float>& vertices);

// Appends those vertices for `text` to `vertices`.
void appendTextVertices(const RenderState& render, std::string_view text, float x, float y,
                        const float rgba[4], float scale, std::vector<float>& vertices);

// Draws `vertices` (the layout above; count a multiple of 8 floats, 3 vertices a triangle) in one
// call with the text program and the atlas. Nothing to draw when empty; the program and blend
// state are still set and reset.
void drawTextVertices(RenderState& render, const std::vector<float>& vertices);
