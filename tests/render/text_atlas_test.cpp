// The text renderer's letters beyond ASCII, its UTF-8 reading, and the gamepad glyphs on circles.
#include "game/game_state.hpp"
#include "game/pad_buttons.hpp"
#include "render/circle_renderer.hpp"
#include "render/pad_glyphs.hpp"
#include "render/screenshot.hpp"
#include "render/text_renderer.hpp"

#include "gl_test_fixture.hpp"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

TEST(Utf8Reading, GivesEachCodePointOrU_FFFDPerBadByte) {
    const struct {
        const char* bytes;
        std::vector<char32_t> codePoints;
    } cases[] = {
        {"A\xC3\x89\xC5\x81", {U'A', U'\u00C9', U'\u0141'}},    // É Ł
        {"\xCE\xA9\xD0\x96", {U'\u03A9', U'\u0416'}},           // Ω Ж
        {"\xF0\x9F\x8E\xB5", {U'\U0001F3B5'}},                  // four bytes
        {"\xC0\xAF", {0xFFFD, 0xFFFD}},                         // overlong '/'
        {"\xE0\x80\xAF", {0xFFFD, 0xFFFD, 0xFFFD}},             // overlong in three bytes
        {"\xE2\x82", {0xFFFD, 0xFFFD}},                         // cut by the end
        {"\xE2\x82Z", {0xFFFD, 0xFFFD, U'Z'}},                  // cut by a letter
        {"\xED\xA0\x80", {0xFFFD, 0xFFFD, 0xFFFD}},             // surrogate U+D800
        {"\xF4\x90\x80\x80", {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}}, // past U+10FFFF
        {"\x80\xFF", {0xFFFD, 0xFFFD}},                         // stray bytes
    };
    for (const auto& c : cases) {
        const std::string text = c.bytes;
        std::vector<char32_t> read;
        for (std::size_t at = 0; at < text.size();) {
            read.push_back(readCodePoint(text, at));
        }
        EXPECT_EQ(read, c.codePoints) << c.bytes;
    }
}

TEST_F(GLTest, AtlasHoldsEachLayoutsLettersAndMovesThePenForThem) {
    const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    std::vector<float> vertices;
    for (const char* letter : {"\xC3\x89", "\xC5\x81", "\xCE\xA9", "\xD0\x96", "\xC3\x9F", "\xEF\xBF\xBD"}) {
        const TextExtent extent = measureText(render, letter, 1.0f);
        EXPECT_TRUE(extent.inked) << letter;
        EXPECT_GT(extent.advance, 10.0f) << letter;
        buildTextVertices(render, letter, 0.0f, 0.0f, white, 1.0f, vertices);
        EXPECT_EQ(vertices.size(), 6u * 8u) << letter;
    }
    // A letter outside the baked ranges (CJK) is skipped: neither drawn nor moving the pen.
    const TextExtent ab = measureText(render, "AB", 1.0f);
    const TextExtent withUnknown = measureText(render,
                                               "A\xE4\xB8\xAD"
                                               "B",
                                               1.0f);
    EXPECT_FLOAT_EQ(withUnknown.advance, ab.advance);
    EXPECT_FLOAT_EQ(withUnknown.right, ab.right);
    buildTextVertices(render,
                      "A\xE4\xB8\xAD"
                      "B",
                      0.0f, 0.0f, white, 1.0f, vertices);
    EXPECT_EQ(vertices.size(), 2u * 6u * 8u);
}

// Every glyph on a circle of its own, and two key letters. With
// VIBRELLE_LABEL_SHOTS naming a folder, the frame is also saved there at 1280x720 and 1920x1080.
TEST_F(GLTest, PadGlyphsAndKeyLettersDrawInsideTheirCircles) {
    const PadButton buttons[] = {kPadSouth,        kPadEast,          kPadWest,        kPadNorth,
                                 kPadDpadUp,       kPadDpadDown,      kPadDpadLeft,    kPadDpadRight,
                                 kPadLeftShoulder, kPadRightShoulder, kPadLeftTrigger, kPadRightTrigger};
    const float colour[3] = {0.2f, 1.0f, 0.6f};
    for (float* slot : render.stemColors) {
        std::copy(colour, colour + 3, slot);
    }
    const auto scene = [&](bool marked) {
        GameState game;
        game.keyboardGameplay = true;
        game.lastDevice = InputDevice::Gamepad; // glyphs where a circle has a button, letters elsewhere
        const float step = static_cast<float>(render.width) / 7.0f;
        const float radius = std::min(step * 0.42f, static_cast<float>(render.height) / 7.0f);
        for (int i = 0; i < 14; ++i) {
            Circle circle;
            circle.x = step * (static_cast<float>(i % 7) + 0.5f);
            circle.y = static_cast<float>(render.height) * (i < 7 ? 0.68f : 0.32f);
            circle.radius = circle.targetRadius = radius;
            circle.time = 1.0;
            circle.padButton = i < 12 && marked ? buttons[i] : kNoPadButton;
            circle.keyLabel = !marked ? "" : i == 12 ? "S" : i == 13 ? "W" : "";
            game.circles.push_back(circle);
        }
        fillShaderUniforms(render);
        beginFrame(render);
        drawCircles(game, render);
        return game;
    };
    // Inside each target ring, the glyph lights pixels in the stem colour the bare circle does not.
    const auto litInside = [&](const Circle& circle) {
        const int half = static_cast<int>(circle.targetRadius * 0.6f);
        const std::vector<unsigned char> inside = readRegion(
            static_cast<int>(circle.x) - half, static_cast<int>(circle.y) - half, 2 * half, 2 * half);
        int lit = 0;
        for (std::size_t i = 0; i < inside.size(); i += 4) {
            lit += inside[i + 1] > 200 && inside[i] < 120 ? 1 : 0;
        }
        return lit;
    };
    std::vector<int> bare;
    for (const Circle& circle : scene(false).circles) {
        bare.push_back(litInside(circle));
    }
    const GameState game = scene(true);
    for (std::size_t i = 0; i < game.circles.size(); ++i) {
        const Circle& circle = game.circles[i];
        const int half = static_cast<int>(circle.targetRadius * 0.6f);
        EXPECT_GT(litInside(circle), bare[i] + half * half / 8) << "circle " << i;
    }
    EXPECT_TRUE(checkGLError("after the glyphs"));

    if (const char* folder = std::getenv("VIBRELLE_LABEL_SHOTS")) {
        for (const auto& size : {std::pair{1280, 720}, std::pair{1920, 1080}}) {
            SDL_SetWindowSize(render.window, size.first, size.second);
            SDL_SyncWindow(render.window);
            scene(true); // a swap lets the GL drawable take the window's new size
            swapBuffers(render);
            scene(true);
            drawText(render, "Q W \xC3\x89 \xC3\x9F \xC5\x81 \xCE\xA9 \xD0\x96 \xD0\xAF \xEF\xBF\xBD Spc Ent",
                     40.0f, 90.0f, 1.0f, 1.0f, 1.0f, 1.0f, 2.0f);
            EXPECT_TRUE(saveScreenshot(render, std::string(folder) + "/pad-glyphs-" +
                                                   std::to_string(size.first) + "x" +
                                                   std::to_string(size.second) + ".png"));
        }
        SDL_SetWindowSize(render.window, 640, 480);
        SDL_SyncWindow(render.window);
    }
}

} // namespace
