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

// A practice round whose loop sends the song from 3.5 s back to 1.1 s twice (a passage from 2.1 s)
// replays to the same round through its file. Every live circle is tapped: eight before 3.5 s, the
// passage's four again on each pass, and twelve from 2.1 s in the last; the count-in's (1.3, 1.7 s)
// and the one on screen at the jump (3.7 s) are never judged.
TEST(RoundReplay, APracticeRoundReplaysToTheSameRoundWithItsLoops) {
    GameState game;
    initGameState(game, 1);
    game.playing = true;
    beginRound(game, sixteenCircles(), 0.0);
    game.progress.practice = true;
    game.progress.startSpeedPercent = game.progress.speedPercent = 60;
    std::uint64_t finger = 1;
    double t = 0.0;
    for (int frame = 0, jumps = 0; frame < 60 * 12; ++frame) {
        const double next = t + 1.0 / 60.0;
        if (jumps < 2 && next >= 3.5) {
            queueRoundInputs(game, {}, 3.5);
            advanceRound(game, 3.5, LayerRequests{});
            jumpRound(game, 3.5, 1.1, 2.1);
            t = 1.1;
            ++jumps;
            continue;
        }
        std::vector<RoundEvent> events;
        for (const Circle& circle : game.circles) {
            if (circle.time <= next && circle.time > t && !circle.hit) {
                events.push_back({songTimeToMicros(circle.time), InputKind::Press, InputDevice::Finger,
                                  finger++, 0, circle.x, circle.y});
            }
        }
        t = next;
        queueRoundInputs(game, events, t);
        advanceRound(game, t, LayerRequests{});
    }
    const std::int64_t end = roundEndMicros(game.progress.applied);
    advanceRound(game, static_cast<double>(end) / 1e6, LayerRequests{});
    ReplayOrigin origin;
    origin.levelName = "sixteen";
    origin.levelHash = std::string(64, 'a');
    const Replay replay = replayOfRound(game, origin, end);
    EXPECT_EQ(replay.result.hits, 24u);
    EXPECT_EQ(replay.result.misses, 0u);
    ASSERT_EQ(replay.loopJumps.size(), 2u);

    std::string bytes, error;
    ASSERT_TRUE(encodeReplay(replay, bytes, error)) << error;
    Replay read;
    ASSERT_TRUE(decodeReplay(bytes, read, error)) << error;
    EXPECT_TRUE(sameResult(rerunReplay(read, sixteenCircles()), replay.result));
}
