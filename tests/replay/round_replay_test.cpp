// A round run again from its replay comes to the same result, the window resized halfway included.
#include "game/round_progress.hpp"
#include "replay/round_replay.hpp"

#include <gtest/gtest.h>

namespace {

MidiNoteEvent tap(double time, std::int32_t note, std::int32_t velocity) {
    MidiNoteEvent event;
    event.time = time;
    event.note = note;
    event.velocity = velocity;
    event.isNoteOn = true;
    return event;
}

} // namespace

TEST(RoundReplay, AWindowResizedMidRoundReplaysToTheSameRound) {
    RoundSetup setup;
    setup.stems.push_back(RoundStem{"lead", {}});
    for (int i = 0; i < 16; ++i) {
        setup.stems[0].notes.push_back(tap(0.5 + 0.4 * i, 10 + 7 * i, 20 + 6 * i));
    }
    setup.looping = false;
    setup.width = 1920;
    setup.height = 1080;
    GameState game;
    initGameState(game, 1);
    game.playing = true;
    beginRound(game, setup, 0.0);
    // A player who taps every circle on time by finger; the window shrinks at 3 s, so the later
    // circles are placed (and tapped) in the smaller area.
    std::uint64_t finger = 1;
    for (double t = 0.0; t <= 7.5; t += 1.0 / 60.0) {
        if (t >= 3.0 && game.setup.width == 1920) {
            resizeRound(game, 1280, 720);
        }
        std::vector<RoundEvent> events;
        for (const Circle& circle : game.circles) {
            if (circle.time <= t && circle.time > t - 1.0 / 60.0) {
                events.push_back({songTimeToMicros(circle.time), InputKind::Press, InputDevice::Finger,
                                  finger++, 0, circle.x, circle.y});
            }
        }
        queueRoundInputs(game, events, t);
        advanceRound(game, t, LayerRequests{});
    }
    const std::int64_t end = roundEndMicros(game.progress.applied);
    advanceRound(game, static_cast<double>(end) / 1e6, LayerRequests{});
    ASSERT_EQ(game.setup.width, 1280);
    const Replay replay = replayOfRound(game, ReplayOrigin{}, end);
    EXPECT_EQ(replay.drawableWidth, 1920u) << "the size the round began in";
    ASSERT_EQ(replay.result.hits, 16);
    ASSERT_EQ(replay.result.misses, 0);
    EXPECT_TRUE(sameResult(rerunReplay(replay, setup), replay.result));
}
