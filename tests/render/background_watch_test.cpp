#include "render/background.hpp"
#include "render/render_system.hpp"

#include <gtest/gtest.h>

namespace {

TEST(BackgroundWatch, TenSlowFramesInARowAfterTheWarmUpTripIt) {
    BackgroundWatch watch;
    int mean = 0;
    for (int frame = 0; frame < 30; ++frame) {
        EXPECT_FALSE(countBackgroundFrame(watch, 5000.0, mean)) << "the first 30 frames compile the shader";
    }
    for (int frame = 0; frame < 9; ++frame) {
        EXPECT_FALSE(countBackgroundFrame(watch, 300.0, mean));
    }
    EXPECT_FALSE(countBackgroundFrame(watch, 250.0, mean)) << "250 ms is not too slow; the run starts over";
    for (int frame = 0; frame < 9; ++frame) {
        EXPECT_FALSE(countBackgroundFrame(watch, 260.0 + 10.0 * frame, mean));
    }
    EXPECT_TRUE(countBackgroundFrame(watch, 400.0, mean));
    EXPECT_EQ(mean, 310) << "(260 + 270 + ... + 340 + 400) / 10";
}

TEST(BackgroundWatch, OnlyACustomBackgroundOutsideALoadIsWatched) {
    RenderState render; // the built-in program (0 here) is in use: nothing to watch
    render.backgroundWatch.warmupFrames = 0;
    render.backgroundWatch.slowFrames = 1;
    EXPECT_FALSE(watchBackgroundFrame(render, 1000.0, false));
    render.backgroundProgram = 7; // a custom one, as far as the watch can tell
    EXPECT_FALSE(watchBackgroundFrame(render, 1000.0, true)) << "a frame that loaded a level";
    EXPECT_EQ(render.backgroundWatch.slowStreak, 0);
}

} // namespace
