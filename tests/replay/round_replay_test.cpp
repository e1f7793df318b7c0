// A round run again from its replay comes to the same result, the window resized halfway included.
#include "replay/replay_test_support.hpp"

TEST(RoundReplay, AWindowResizedMidRoundReplaysToTheSameRound) {
    // A player who taps every circle on time by finger; the window shrinks at 3 s, so the later
    // circles are placed (and tapped) in the smaller area.
    GameState game;
    const Replay replay = playedReplay(game, "", 0, 16, true);
    ASSERT_EQ(game.setup.width, 1280);
    EXPECT_EQ(replay.drawableWidth, 1920u) << "the size the round began in";
    ASSERT_EQ(replay.result.hits, 16);
    ASSERT_EQ(replay.result.misses, 0);
    EXPECT_TRUE(sameResult(rerunReplay(replay, sixteenCircles()), replay.result));
}
