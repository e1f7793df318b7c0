#include "render/text_renderer.hpp"

#include "base/log.hpp"
#include "base/utf8.hpp"
#include "render/font_file.hpp"
#include "render/gl_functions.hpp"
#include "render/render_system.hpp"
#include "render/shader_utils.hpp"

#include <SDL3/SDL.h>
#include <stb_truetype.h>

#include <algorithm>
#include <cstdint>
#include <vector>

// ---- Start-up ----

bool initTextRenderer(RenderState& render) {
    const ProgramFailureLines lines = {
        "Failed to load text vertex shader source", "Failed to load text fragment shader source",
        "Failed to compile text vertex shader", "Failed to compile text fragment shader",
        "Failed to create text shader program"};
    if (!buildProgramFromFiles("shaders/text.vert", "shaders/text.frag", lines, render.textVertexShader,
                               render.textFragmentShader, render.textProgram)) {
        return false;
    }
    gGL.glGenVertexArrays(1, &render.textVertexArray);
    gGL.glGenBuffers(1, &render.textVertexBuffer);
    gGL.glBindVertexArray(render.textVertexArray);
    gGL.glBindBuffer(GL_ARRAY_BUFFER, render.textVertexBuffer);
    constexpr GLsizei kStride = 8 * sizeof(float);
    gGL.glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, kStride, reinterpret_cast<const void*>(0));
    gGL.glEnableVertexAttribArray(0);
    gGL.glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, kStride, reinterpret_cast<const void*>(8));
    gGL.glEnableVertexAttribArray(1);
    gGL.glVertexAttribPointer(2, 4, GL_FLOAT, GL_FALSE, kStride, reinterpret_cast<const void*>(16));
    gGL.glEnableVertexAttribArray(2);
    gGL.glBindVertexArray(0);
    gGL.glBindBuffer(GL_ARRAY_BUFFER, 0);
    logMessage("Text rendering system initialized successfully!");
    return true;
}

// ---- The atlas ----

char32_t readCodePoint(std::string_view text, std::size_t& at) {
    char32_t codePoint = 0;
    const std::size_t length = utf8SequenceAt(text, at, codePoint);
    if (length == 0) {
        ++at;
        return 0xFFFD;
    }
    at += length;
    return codePoint;
}

namespace {

// The letters a keyboard layout's keys may print in the languages players use most, and the mark
// that stands for bytes that are not UTF-8.
constexpr char32_t kBakedRanges[][2] = {{0x20, 0x7E},   {0xA0, 0xFF},   {0x100, 0x17F},
                                        {0x370, 0x3FF}, {0x400, 0x4FF}, {0xFFFD, 0xFFFD}};

// A font file read whole, freed with the record.
struct FontFile {
    void* data = nullptr;
    stbtt_fontinfo info{};
    FontFile() = default;
    FontFile(const FontFile&) = delete;
    FontFile& operator=(const FontFile&) = delete;
    ~FontFile() { SDL_free(data); }
};

bool readFont(const char* path, FontFile& font) {
    size_t size = 0;
    font.data = SDL_LoadFile(path, &size);
    if (font.data == nullptr || size == 0) {
        logError(stderr, "Failed to load font file: %s", path);
        return false;
    }
    const unsigned char* bytes = static_cast<const unsigned char*>(font.data);
    if (!fontDirectoryFits(bytes, size) || stbtt_InitFont(&font.info, bytes, 0) == 0) {
        logError(stderr, "Failed to initialize font: %s", path);
        return false;
    }
    return true;
}

// Packs `codePoints` of `font` into the atlas being built; false when not all of them fit.
bool packFont(stbtt_pack_context& pack, const FontFile& font, float pixelHeight, std::vector<int>& codePoints,
              std::vector<stbtt_packedchar>& packed) {
    packed.assign(codePoints.size(), stbtt_packedchar{});
    if (codePoints.empty()) {
        return true;
    }
    stbtt_pack_range range{};
    range.font_size = pixelHeight;
    range.array_of_unicode_codepoints = codePoints.data();
    range.num_chars = static_cast<int>(codePoints.size());
    range.chardata_for_range = packed.data();
    return stbtt_PackFontRanges(&pack, static_cast<const unsigned char*>(font.data), 0, &range, 1) != 0;
}

void addGlyphs(RenderState& render, const std::vector<int>& codePoints,
               const std::vector<stbtt_packedchar>& packed) {
    const float texelU = 1.0f / static_cast<float>(kFontAtlasWidth);
    const float texelV = 1.0f / static_cast<float>(kFontAtlasHeight);
    for (std::size_t k = 0; k < codePoints.size(); ++k) {
        const stbtt_packedchar& c = packed[k];
        Glyph glyph;
        glyph.width = static_cast<float>(c.x1 - c.x0);
        glyph.height = static_cast<float>(c.y1 - c.y0);
        glyph.uMin = static_cast<float>(c.x0) * texelU;
        glyph.vMin = static_cast<float>(c.y0) * texelV;
        glyph.uMax = static_cast<float>(c.x1) * texelU;
        glyph.vMax = static_cast<float>(c.y1) * texelV;
        glyph.advance = c.xadvance;
        glyph.xOffset = c.xoff;
        glyph.yOffset = c.yoff;
        render.glyphs[codePoints[k]] = glyph;
    }
}

} // namespace

bool loadFontAtlas(RenderState& render, const char* path, float pixelHeight, const char* fallbackPath) {
    FontFile primary, fallback;
    if (!readFont(path, primary)) {
        return false;
    }
    const bool haveFallback = fallbackPath != nullptr && readFont(fallbackPath, fallback);
    // Each letter from the first font that has it, so that the font's own look is kept wherever it
    // can be; letters neither font has are left out.
    std::vector<int> fromPrimary, fromFallback;
    for (const auto& range : kBakedRanges) {
        for (char32_t c = range[0]; c <= range[1]; ++c) {
            const int code = static_cast<int>(c);
            if (stbtt_FindGlyphIndex(&primary.info, code) != 0) {
                fromPrimary.push_back(code);
            } else if (haveFallback && stbtt_FindGlyphIndex(&fallback.info, code) != 0) {
                fromFallback.push_back(code);
            }
        }
    }

    // The glyphs are packed above the solid block's rows, which the packer never sees.
    std::vector<unsigned char> bitmap(static_cast<size_t>(kFontAtlasWidth) * kFontAtlasHeight, 0);
    stbtt_pack_context pack{};
    std::vector<stbtt_packedchar> packedPrimary, packedFallback;
    bool packed = stbtt_PackBegin(&pack, bitmap.data(), kFontAtlasWidth, kFontAtlasHeight - kSolidBlockSize,
                                  kFontAtlasWidth, 1, nullptr) != 0;
    if (packed) {
        packed = packFont(pack, primary, pixelHeight, fromPrimary, packedPrimary) &&
                 packFont(pack, fallback, pixelHeight, fromFallback, packedFallback);
        stbtt_PackEnd(&pack);
    }
    if (!packed) {
        logError(stderr, "Failed to bake font bitmap: %s", path);
        return false;
    }
    for (int row = kFontAtlasHeight - kSolidBlockSize; row < kFontAtlasHeight; ++row) {
        std::fill_n(bitmap.begin() + static_cast<std::ptrdiff_t>(row) * kFontAtlasWidth, kSolidBlockSize,
                    255);
    }

    if (render.fontTexture != 0) {
        glDeleteTextures(1, &render.fontTexture);
        render.fontTexture = 0;
    }
    glGenTextures(1, &render.fontTexture);
    gGL.glBindTexture(GL_TEXTURE_2D, render.fontTexture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1); // rows of single bytes
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, kFontAtlasWidth, kFontAtlasHeight, 0, GL_RED, GL_UNSIGNED_BYTE,
                 bitmap.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gGL.glBindTexture(GL_TEXTURE_2D, 0);

    render.fontAtlasWidth = kFontAtlasWidth;
    render.fontAtlasHeight = kFontAtlasHeight;
    // The middle of the solid block: bilinear sampling there reads full coverage only.
    render.solidU = 0.5f * kSolidBlockSize / static_cast<float>(kFontAtlasWidth);
    render.solidV = 1.0f - 0.5f * kSolidBlockSize / static_cast<float>(kFontAtlasHeight);
    render.glyphs.clear();
    addGlyphs(render, fromPrimary, packedPrimary);
    addGlyphs(render, fromFallback, packedFallback);
    logMessage("Font atlas loaded successfully: %dx%d, %d characters", kFontAtlasWidth, kFontAtlasHeight,
               static_cast<int>(render.glyphs.size()));
    return true;
}

// ---- Drawing ----

TextExtent measureText(const RenderState& render, std::string_view text, float scale) {
    TextExtent extent;
    for (std::size_t at = 0; at < text.size();) {
        const auto found = render.glyphs.find(static_cast<int>(readCodePoint(text, at)));
        if (found == render.glyphs.end()) {
            continue;
        }
        const Glyph& g = found->second;
        if (g.width > 0.0f && g.height > 0.0f) {
            const float left = extent.advance + g.xOffset * scale, top = g.yOffset * scale;
            const float right = left + g.width * scale, bottom = top + g.height * scale;
            extent.left = extent.inked ? std::min(extent.left, left) : left;
            extent.top = extent.inked ? std::min(extent.top, top) : top;
            extent.right = extent.inked ? std::max(extent.right, right) : right;
            extent.bottom = extent.inked ? std::max(extent.bottom, bottom) : bottom;
            extent.inked = true;
        }
        extent.advance += g.advance * scale;
    }
    return extent;
}

void appendTextVertices(const RenderState& render, std::string_view text, float x, float y,
                        const float rgba[4], float scale, std::vector<float>& vertices) {
    float pen = x;
    for (std::size_t at = 0; at < text.size();) {
        const auto found = render.glyphs.find(static_cast<int>(readCodePoint(text, at)));
        if (found == render.glyphs.end()) {
            continue;
        }
        const Glyph& g = found->second;
        const float left = pen + g.xOffset * scale;
        const float top = y + g.yOffset * scale;
        const float right = left + g.width * scale;
        const float bottom = top + g.height * scale;
        const float corners[6][4] = {{left, top, g.uMin, g.vMin},     {right, top, g.uMax, g.vMin},
                                     {right, bottom, g.uMax, g.vMax}, {left, top, g.uMin, g.vMin},
                                     {right, bottom, g.uMax, g.vMax}, {left, bottom, g.uMin, g.vMax}};
        for (const auto& corner : corners) {
            vertices.insert(vertices.end(), corner, corner + 4);
            vertices.insert(vertices.end(), rgba, rgba + 4);
        }
        pen += g.advance * scale;
    }
}

void buildTextVertices(const RenderState& render, const char* text, float x, float y, const float rgba[4],
                       float scale, std::vector<float>& vertices) {
    vertices.clear();
    if (text != nullptr) {
        appendTextVertices(render, text, x, y, rgba, scale, vertices);
    }
}

void drawTextVertices(RenderState& render, const std::vector<float>& vertices) {
    if (render.textProgram == 0 || render.fontTexture == 0) {
        return;
    }
    gGL.glUseProgram(render.textProgram);
    gGL.glActiveTexture(GL_TEXTURE0);
    gGL.glBindTexture(GL_TEXTURE_2D, render.fontTexture);
    const GLint sampler = gGL.glGetUniformLocation(render.textProgram, "uFontTexture");
    if (sampler != -1) {
        gGL.glUniform1i(sampler, 0);
    }
    const GLint projection = gGL.glGetUniformLocation(render.textProgram, "uProjection");
    if (projection != -1 && gGL.glUniformMatrix4fv) {
        const float w = static_cast<float>(render.width > 0 ? render.width : 1);
        const float h = static_cast<float>(render.height > 0 ? render.height : 1);
        // Column-major: window pixels (origin top left, y down) to clip space.
        const float matrix[16] = {2.0f / w, 0, 0,     0, 0,     -2.0f / h, 0, 0,
                                  0,        0, -1.0f, 0, -1.0f, 1.0f,      0, 1.0f};
        gGL.glUniformMatrix4fv(projection, 1, GL_FALSE, matrix);
    }
    gGL.glDisable(GL_DEPTH_TEST);
    gGL.glEnable(GL_BLEND);
    gGL.glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    if (!vertices.empty()) {
        const GLsizei count = static_cast<GLsizei>(vertices.size() / 8);
        gGL.glBindVertexArray(render.textVertexArray);
        gGL.glBindBuffer(GL_ARRAY_BUFFER, render.textVertexBuffer);
        gGL.glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(float)),
                         vertices.data(), GL_DYNAMIC_DRAW);
        gGL.glDrawArrays(GL_TRIANGLES, 0, count);
        gGL.glBindVertexArray(0);
        gGL.glBindBuffer(GL_ARRAY_BUFFER, 0);
    }
    gGL.glUseProgram(0);
    gGL.glDisable(GL_BLEND);
    checkGLError("Text rendering");
}

void drawText(RenderState& render, const char* text, float x, float y, float r, float g, float b, float a,
              float scale) {
    if (text == nullptr || render.textProgram == 0 || render.fontTexture == 0) {
        return;
    }
    const float rgba[4] = {r, g, b, a};
    buildTextVertices(render, text, x, y, rgba, scale, render.textVertices);
    drawTextVertices(render, render.textVertices);
}
