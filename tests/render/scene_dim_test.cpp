#include "render/screen_dim.hpp"

#include <gtest/gtest.h>

namespace {

// Frames as the game draws them: background, circles, the GUI (its first step, then a menu's
// darkening), the swap. Whatever order the menus come and go in, every frame must show its scene
// darkened exactly once when a menu is up and not at all otherwise, with the circles darkened
// alongside the background, and a frame that follows a menu frame without circles must need no
// pass of its own.
TEST(SceneDim, EachFrameIsDarkenedExactlyWhenItsMenuIsUp) {
    const struct {
        bool menu, circles, guiShown;
        int passes; // passes over the whole screen beyond the background's
    } frames[] = {
        {false, false, true, 0},  {true, false, true, 1},  {true, false, true, 0},
        {true, false, true, 0},   {false, false, true, 1}, // the menu went: its darkening undone
        {true, false, true, 1},   {true, true, true, 2},   // circles appear under it
        {true, true, true, 1},    {true, false, true, 1},  {true, false, true, 0},
        {false, false, false, 1},                          // interface hidden (F12)
        {false, true, true, 0},   {true, false, false, 0}, // no GUI, no menu drawn
    };
    SceneDim dim;
    int frame = 0;
    for (const auto& f : frames) {
        SCOPED_TRACE(testing::Message() << "frame " << frame++);
        int darkness = sceneDimFrameStart(dim, true) < 1.0f ? 1 : 0; // times the scene is darkened
        int passes = 0;
        const auto apply = [&](DimPass pass) {
            passes += pass == DimPass::None ? 0 : 1;
            darkness += pass == DimPass::Darken ? 1 : pass == DimPass::Brighten ? -1 : 0;
        };
        if (f.circles) {
            apply(sceneDimBeforeDrawingOver(dim));
            EXPECT_EQ(darkness, 0) << "circles go over a background as bright as they are";
        }
        if (f.guiShown) {
            if (f.menu) {
                sceneDimWanted(dim);
            }
            apply(sceneDimSettle(dim));
            if (f.menu) {
                apply(sceneDimMenuPass(dim));
            }
        }
        apply(sceneDimSettle(dim));
        EXPECT_EQ(darkness, f.menu && f.guiShown ? 1 : 0);
        EXPECT_EQ(passes, f.passes);
    }
    EXPECT_EQ(sceneDimFrameStart(dim, false), 1.0f) << "without blending to fold it in, never ahead";
}

} // namespace
