// Rounds run again as the leaderboard server runs them: a person's round of a shipped level comes
// to its own result on the pool's threads, an edited one does not, a deadline stops a run, and a
// round whose presses are all exactly on their notes is suspect.
#include "replay/replay_test_support.hpp"
#include "replay/replay_verify.hpp"
#include "replay/simulated_round.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace {

const CheckedLevel& neonDrive() {
    static const CheckedLevel level = [] {
        CheckedLevel read;
        std::string error;
        EXPECT_TRUE(readCheckedLevel(VIBRELLE_ASSETS "/levels/neon_drive", "Neon Drive", read, error))
            << error;
        return read;
    }();
    return level;
}

VerifyClock::time_point inAMinute() { return VerifyClock::now() + std::chrono::minutes(1); }

} // namespace

TEST(ReplayVerify, APersonsRoundIsVerifiedOnThePoolAndEditedOnesAreNot) {
    const Replay genuine = simulatedRound(neonDrive(), 20.0);
    ASSERT_GT(genuine.result.hits, 10u);
    ASSERT_GT(genuine.result.misses, 0u);
    Replay raised = genuine, cut = genuine;
    ++raised.result.score;
    cut.events.erase(cut.events.begin()); // the first press never happened
    VerifyPool pool(2);
    VerifyOutcome outcomes[3];
    {
        // Three uploads at once on two threads: one waits in the queue.
        std::thread a([&] { outcomes[0] = pool.verify(genuine, neonDrive(), inAMinute()); });
        std::thread b([&] { outcomes[1] = pool.verify(raised, neonDrive(), inAMinute()); });
        outcomes[2] = pool.verify(cut, neonDrive(), inAMinute());
        a.join();
        b.join();
    }
    EXPECT_EQ(outcomes[0].verdict, VerifyVerdict::Verified);
    EXPECT_FALSE(outcomes[0].suspect) << outcomes[0].spreadMs;
    EXPECT_EQ(outcomes[1].verdict, VerifyVerdict::Differs);
    EXPECT_EQ(differenceText(outcomes[1].result, raised.result),
              "the replay's round, run again, came to a score of " + std::to_string(genuine.result.score) +
                  ", not " + std::to_string(raised.result.score));
    EXPECT_EQ(outcomes[2].verdict, VerifyVerdict::Differs);

    // A deadline already passed stops the run, in the queue or on the caller's own thread.
    EXPECT_EQ(pool.verify(genuine, neonDrive(), VerifyClock::now()).verdict, VerifyVerdict::OutOfTime);
    ReplayResult untouched;
    EXPECT_FALSE(rerunReplayBy(genuine, neonDrive().setup, VerifyClock::now(), untouched));
    EXPECT_EQ(untouched.score, 0);
}

TEST(ReplayVerify, PressesAllOnTheirNotesAreSuspect) {
    for (const auto& [presses, spread, suspect] :
         {std::make_tuple(50, 0.99, true), std::make_tuple(49, 0.0, false),
          std::make_tuple(500, 1.0, false)}) {
        EXPECT_EQ(offsetsAreSuspect(presses, spread), suspect) << presses << " " << spread;
    }
    const Replay exact = simulatedRound(neonDrive(), 40.0, 1, 0.0, 1000);
    const VerifyOutcome outcome = verifyReplay(exact, neonDrive(), inAMinute());
    EXPECT_EQ(outcome.verdict, VerifyVerdict::Verified);
    EXPECT_GE(outcome.presses, kSuspectMinPresses);
    EXPECT_TRUE(outcome.suspect) << outcome.spreadMs;
}

// A round stored by a game that wrote version 1 (key events name the keys' US characters) reads
// and runs again to the result it recorded.
TEST(ReplayVerify, AVersionOneReplayRunsAgainToItsResult) {
    const Replay played = simulatedRound(neonDrive(), 10.0);
    std::string bytes = versionTwoBytes(played), error;
    patch(bytes, 4, 1, 2);
    std::size_t at = 109 + played.gameVersion.size() + 2 + played.levelName.size() + 4; // the events
    for (const RoundEvent& event : played.events) {
        ASSERT_EQ(event.device, InputDevice::Key);
        patch(bytes, at + 18, static_cast<unsigned char>(kUsGridCharacters[event.key]), 4);
        at += 30;
    }
    Replay old;
    ASSERT_TRUE(decodeReplay(resealed(bytes), old, error)) << error;
    EXPECT_EQ(fieldsOf(old), fieldsOf(played));
    EXPECT_TRUE(sameResult(rerunReplay(old, neonDrive().setup), played.result));
    EXPECT_GT(played.result.hits, 5u);
}
