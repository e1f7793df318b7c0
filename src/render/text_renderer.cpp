#include "render/text_renderer.hpp"

#include "base/log.hpp"
#include "render/font_file.hpp"
#include "render/gl_functions.hpp"
#include "render/render_system.hpp"
#include "render/shader_utils.hpp"

#include <SDL3/SDL.h>
#include <stb_truetype.h>

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

bool loadFontAtlas(RenderState& render, const char* path, float pixelHeight) {
    size_t size = 0;
    void* data = SDL_LoadFile(path, &size);
    if (data == nullptr || size == 0) {
        logError(stderr, "Failed to load font file: %s", path);
        SDL_free(data);
        return false;
    }
    const unsigned char* font = static_cast<const unsigned char*>(data);
    stbtt_fontinfo info;
    if (!fontDirectoryFits(font, size) || stbtt_InitFont(&info, font, 0) == 0) {
        logError(stderr, "Failed to initialize font: %s", path);
        SDL_free(data);
        return false;
    }
    std::vector<unsigned char> bitmap(static_cast<size_t>(kFontAtlasSize) * kFontAtlasSize, 0);
    stbtt_bakedchar baked[kGlyphCount];
    const int result = stbtt_BakeFontBitmap(font, 0, pixelHeight, bitmap.data(), kFontAtlasSize,
                                            kFontAtlasSize, kFirstGlyph, kGlyphCount, baked);
    if (result <= 0) {
        logError(stderr, "Failed to bake font bitmap: %s", path);
        SDL_free(data);
        return false;
    }

    if (render.fontTexture != 0) {
        glDeleteTextures(1, &render.fontTexture);
        render.fontTexture = 0;
    }
    glGenTextures(1, &render.fontTexture);
    gGL.glBindTexture(GL_TEXTURE_2D, render.fontTexture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1); // rows of single bytes
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, kFontAtlasSize, kFontAtlasSize, 0, GL_RED, GL_UNSIGNED_BYTE,
                 bitmap.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gGL.glBindTexture(GL_TEXTURE_2D, 0);

    render.fontAtlasWidth = kFontAtlasSize;
    render.fontAtlasHeight = kFontAtlasSize;
    render.glyphs.clear();
    const float texel = 1.0f / static_cast<float>(kFontAtlasSize);
    for (int k = 0; k < kGlyphCount; ++k) {
        const stbtt_bakedchar& c = baked[k];
        Glyph glyph;
        glyph.width = static_cast<float>(c.x1 - c.x0);
        glyph.height = static_cast<float>(c.y1 - c.y0);
        glyph.uMin = static_cast<float>(c.x0) * texel;
        glyph.vMin = static_cast<float>(c.y0) * texel;
        glyph.uMax = static_cast<float>(c.x1) * texel;
        glyph.vMax = static_cast<float>(c.y1) * texel;
        glyph.advance = c.xadvance;
        glyph.xOffset = c.xoff;
        glyph.yOffset = c.yoff;
        render.glyphs[kFirstGlyph + k] = glyph;
    }
    SDL_free(data);
    logMessage("Font atlas loaded successfully: %dx%d, %d characters", kFontAtlasSize, kFontAtlasSize,
               kGlyphCount);
    return true;
}

// ---- Drawing ----

void buildTextVertices(const RenderState& render, const char* text, float x, float y, const float rgba[4],
                       float scale, std::vector<float>& vertices) {
    vertices.clear();
    if (text == nullptr) {
        return;
    }
    float pen = x;
    for (const char* c = text; *c != '\0'; ++c) {
        const auto found = render.glyphs.find(static_cast<int>(static_cast<signed char>(*c)));
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

void drawText(RenderState& render, const char* text, float x, float y, float r, float g, float b, float a,
              float scale) {
    if (text == nullptr || render.textProgram == 0 || render.fontTexture == 0) {
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

    const float rgba[4] = {r, g, b, a};
    std::vector<float>& vertices = render.textVertices;
    buildTextVertices(render, text, x, y, rgba, scale, vertices);
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
