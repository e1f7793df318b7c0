// Which button plays a circle, from where its note places it.
#include "game/pad_scheme.hpp"

#include <gtest/gtest.h>

TEST(PadScheme, ReadsTheButtonFromWhereTheCircleAppears) {
    const struct {
        int note, velocity;
        PadButton button;
    } cases[] = {
        {0, 127, kPadLeftShoulder},
        {15, 64, kPadLeftShoulder},
        {15, 63, kPadLeftTrigger},
        {8, 0, kPadLeftTrigger},
        {112, 100, kPadRightShoulder},
        {127, 10, kPadRightTrigger},
        {40, 120, kPadDpadUp},
        {40, 5, kPadDpadDown},
        {16, 64, kPadDpadLeft},
        {63, 70, kPadDpadRight},
        {20, 120, kPadDpadUp},
        {20, 100, kPadDpadLeft},
        {88, 120, kPadNorth},
        {88, 5, kPadSouth},
        {64, 60, kPadWest},
        {111, 64, kPadEast},
        {-3, 10, kPadSouth},
        {200, 300, kPadLeftShoulder},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(padButtonForNote(c.note, c.velocity), c.button) << c.note << ", " << c.velocity;
    }
}
