// What the shaders really draw, read back from the frame on Mesa.
#include "game/game_state.hpp"
#include "render/background.hpp"
#include "render/circle_renderer.hpp"
#include "render/text_renderer.hpp"

#include "gl_test_fixture.hpp"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

Circle circleAt(float x, float y) {
    Circle circle;
    circle.x = x;
    circle.y = y;
    circle.radius = 60.0f;
    circle.targetRadius = 100.0f;
    circle.time = 10.0;
    circle.stemIndex = 2;
    return circle;
}

// A frame's drawing without the swap, so the back buffer can be read.
void drawFrame(RenderState& render, const GameState* game) {
    fillShaderUniforms(render);
    beginFrame(render);
    if (game != nullptr) {
        drawCircles(*game, render);
    }
}

TEST_F(GLTest, ShaderBlockOffsetsMatchTheTableInBothPrograms) {
    using GetIndices = void(APIENTRY*)(GLuint, GLsizei, const GLchar* const*, GLuint*);
    using GetActive = void(APIENTRY*)(GLuint, GLsizei, const GLuint*, GLenum, GLint*);
    using GetBlock = void(APIENTRY*)(GLuint, GLuint, GLenum, GLint*);
    const auto getIndices = reinterpret_cast<GetIndices>(SDL_GL_GetProcAddress("glGetUniformIndices"));
    const auto getActive = reinterpret_cast<GetActive>(SDL_GL_GetProcAddress("glGetActiveUniformsiv"));
    const auto getBlock = reinterpret_cast<GetBlock>(SDL_GL_GetProcAddress("glGetActiveUniformBlockiv"));
    ASSERT_TRUE(getIndices && getActive && getBlock);

    const struct {
        const char* name;
        GLint offset;
    } table[] = {{"resolution", 0},  {"resolutionPad", 12}, {"time", 16},       {"timeDelta", 20},
                 {"frameRate", 24},  {"frame", 28},         {"pointer", 32},    {"date", 48},
                 {"sampleRate", 64}, {"samplePad0", 68},    {"samplePad1", 72}, {"samplePad2", 76},
                 {"stems[0]", 80}};
    for (const GLuint program : {render.backgroundProgram, render.circleProgram}) {
        const GLuint block = gGL.glGetUniformBlockIndex(program, "ShaderUniforms");
        ASSERT_NE(block, GL_INVALID_INDEX);
        GLint size = 0;
        getBlock(program, block, GL_UNIFORM_BLOCK_DATA_SIZE, &size);
        EXPECT_EQ(size, kShaderUniformsSize);
        for (const auto& member : table) {
            GLuint index = GL_INVALID_INDEX;
            getIndices(program, 1, &member.name, &index);
            ASSERT_NE(index, GL_INVALID_INDEX) << member.name << " in program " << program;
            GLint offset = -1;
            getActive(program, 1, &index, GL_UNIFORM_OFFSET, &offset);
            EXPECT_EQ(offset, member.offset) << member.name;
        }
    }
    // The circle arrays hold exactly as many circles as the renderer uploads at most.
    const char* centers = "uCircleCenters[0]";
    GLuint index = GL_INVALID_INDEX;
    getIndices(render.circleProgram, 1, &centers, &index);
    ASSERT_NE(index, GL_INVALID_INDEX);
    GLint length = 0;
    getActive(render.circleProgram, 1, &index, GL_UNIFORM_SIZE, &length);
    EXPECT_EQ(length, kMaxCircles);

    // The frame uploads the whole CPU copy.
    using GetBufferData = void(APIENTRY*)(GLenum, GLintptr, GLsizeiptr, void*);
    const auto getBufferData = reinterpret_cast<GetBufferData>(SDL_GL_GetProcAddress("glGetBufferSubData"));
    render.time = 3.5f;
    render.stemValue[4] = 1.75f;
    drawFrame(render, nullptr);
    ShaderUniforms uploaded{};
    gGL.glBindBuffer(GL_UNIFORM_BUFFER, render.uniformBuffer);
    getBufferData(GL_UNIFORM_BUFFER, 0, sizeof uploaded, &uploaded);
    EXPECT_EQ(std::memcmp(&uploaded, &render.uniforms, sizeof uploaded), 0);
    EXPECT_FLOAT_EQ(uploaded.stems[4][0], 1.75f);
}

TEST_F(GLTest, ACircleDrawsItsStemColourOverTheBackgroundAndInactiveOnesNothing) {
    GameState game;
    const float cx = static_cast<float>(render.width / 2), cy = static_cast<float>(render.height / 2);
    game.circles = {circleAt(cx, cy)};
    const float stemColour[3] = {1.0f, 0.5f, 0.0f};
    std::memcpy(render.stemColors[2], stemColour, sizeof stemColour);

    drawFrame(render, nullptr);
    const Pixel farBefore = pixelAt(4, 4);
    const Pixel ringBefore = pixelAt(static_cast<int>(cx) + 100, static_cast<int>(cy));
    drawFrame(render, &game);
    const Pixel ring = pixelAt(static_cast<int>(cx) + 100, static_cast<int>(cy));
    EXPECT_TRUE(near(ring, {255, 128, 0}, 3)) << ring[0] << "," << ring[1] << "," << ring[2];
    EXPECT_FALSE(near(ringBefore, ring, 30)) << "the ring is not the background's colour";
    EXPECT_EQ(pixelAt(4, 4), farBefore) << "far from the circle the background shows unchanged";
    EXPECT_TRUE(checkGLError("after the circle"));

    game.circles = {circleAt(100, 100), circleAt(cx, cy)};
    for (Circle& circle : game.circles) {
        circle.active = false;
    }
    drawFrame(render, nullptr);
    const std::vector<unsigned char> before = readFrame();
    gGL.glUseProgram(0);
    drawCircles(game, render);
    GLint program = -1;
    gGL.glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    EXPECT_EQ(program, 0) << "the circle program was never bound";
    EXPECT_EQ(readFrame(), before);
}

TEST_F(GLTest, AHoldCirclesProgressShowsOnItsTrack) {
    GameState game;
    const float cx = static_cast<float>(render.width / 2), cy = static_cast<float>(render.height / 2);
    Circle hold = circleAt(cx, cy);
    hold.channel = kHoldChannel;
    hold.holdDuration = 2.0f;
    game.circles = {hold};
    // On the track, a quarter turn clockwise from the top: inside the arc once half the hold ran.
    const int trackX = static_cast<int>(cx) + 113, trackY = static_cast<int>(cy);

    game.songTime = hold.time;
    drawFrame(render, &game);
    const Pixel notStarted = pixelAt(trackX, trackY);
    game.songTime = hold.time + 1.0;
    drawFrame(render, &game);
    const Pixel halfWay = pixelAt(trackX, trackY);
    const Pixel leftSide = pixelAt(static_cast<int>(cx) - 113, trackY); // three quarters: not yet
    EXPECT_GT(halfWay[0] + halfWay[1] + halfWay[2], notStarted[0] + notStarted[1] + notStarted[2] + 120);
    EXPECT_TRUE(near(leftSide, notStarted, 12));
}

TEST_F(GLTest, DrawTextLightsTheGlyphInsideItsBoxAndNothingForSpacesOrControls) {
    // The box of "A" at scale 2 in GL's bottom-up rows, one pixel of margin for the antialiased edge.
    const Glyph& a = render.glyphs.at('A');
    const int boxX = static_cast<int>(std::floor(100.0f + a.xOffset * 2.0f)) - 1;
    const int boxY = render.height - static_cast<int>(std::ceil(200.0f + (a.yOffset + a.height) * 2.0f)) - 1;
    const int boxW = static_cast<int>(std::ceil(a.width * 2.0f)) + 3;
    const int boxH = static_cast<int>(std::ceil(a.height * 2.0f)) + 3;
    const auto lit = [](const std::vector<unsigned char>& rgba) {
        int count = 0;
        for (size_t i = 0; i < rgba.size(); i += 4) {
            count += rgba[i] > 128 ? 1 : 0;
        }
        return count;
    };
    const auto draw = [&](const char* text) {
        gGL.glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        gGL.glClear(GL_COLOR_BUFFER_BIT);
        drawText(render, text, 100.0f, 200.0f, 1.0f, 1.0f, 1.0f, 1.0f, 2.0f);
        return lit(readFrame());
    };
    EXPECT_EQ(draw(" "), 0);
    EXPECT_EQ(draw("\x7F\x01\xE2\x80\x8B"), 0) << "control characters and U+200B have no glyph";
    const int glyphPixels = draw("A");
    EXPECT_EQ(lit(readRegion(boxX, boxY, boxW, boxH)), glyphPixels) << "only inside its box";
    EXPECT_GT(glyphPixels, boxW * boxH / 5) << "a good part of its box";
    gGL.glClearColor(0.1f, 0.2f, 0.3f, 1.0f);
    EXPECT_TRUE(checkGLError("after text"));
}

TEST_F(GLTest, FontAtlasFailuresSayWhy) {
    const std::string notAFont = writeFile("not_a_font.ttf", std::string(64, 'x'));
    const struct {
        const char* path;
        float height;
        const char* line;
    } cases[] = {
        {"/nonexistent/font.ttf", 32.0f, "Failed to load font file: /nonexistent/font.ttf\n"},
        {notAFont.c_str(), 32.0f, "Failed to initialize font: "},
        {"fonts/Roboto-Regular.ttf", 300.0f, "Failed to bake font bitmap: fonts/Roboto-Regular.ttf\n"}};
    const std::uint32_t texture = render.fontTexture;
    const std::size_t glyphs = render.glyphs.size();
    for (const auto& c : cases) {
        const std::string err = errorsOf([&] { EXPECT_FALSE(loadFontAtlas(render, c.path, c.height)); });
        EXPECT_EQ(err.rfind(c.line, 0), 0u) << err;
        EXPECT_EQ(render.fontTexture, texture) << "a failed load keeps the atlas in use";
        EXPECT_EQ(render.glyphs.size(), glyphs);
    }
}

} // namespace
