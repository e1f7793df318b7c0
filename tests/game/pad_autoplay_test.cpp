// The gamepad bot plays each shipped level through the rules alone (no audio, no window): one loop
// with every layer open, its presses made as a pad's button events. A circle it misses must be one
// the button scheme cannot reach: another circle of its button at the same moment, or one inside a
// hold of its button. Those are listed.
#include "game/pad_scheme.hpp"
#include "game_test_support.hpp"
#include "level/level_list.hpp"
#include "replay/level_check.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <map>
#include <tuple>

using namespace gametest;

namespace {

using CircleKey = std::tuple<double, std::int32_t, std::int32_t>; // time, stem, key number

// Plays `setup` for one loop with the gamepad bot; every circle that spawned, by CircleKey.
std::map<CircleKey, Circle> playWithPadBot(GameState& game, const RoundSetup& setup) {
    const std::int32_t stems = static_cast<std::int32_t>(setup.stems.size());
    game.totalLayers = stems;
    game.missesPerLayerDrop = std::numeric_limits<std::uint32_t>::max(); // every layer stays open
    beginRound(game, setup, 0.0, stems);
    AutoplayPlan plan;
    stdoutOf([&] { autoplayStart(plan, true); });
    std::map<CircleKey, Circle> seen;
    double tick = 0.0;
    stdoutOf([&] {
        stderrOf([&] {
            while (tick < setup.loopLength) {
                autoplayPlan(plan, game, setup.width, setup.height);
                AutoplayAction action;
                if (autoplayNext(plan, &action) && action.at <= tick) {
                    RoundEvent event;
                    event.songTimeUs = songTimeToMicros(action.at);
                    event.kind = action.step == AutoplayStep::Press ? InputKind::Press : InputKind::Release;
                    event.device = InputDevice::Gamepad;
                    event.id = kAutoplayPadId;
                    event.key = static_cast<std::uint32_t>(action.button);
                    queueRoundInputs(game, {event}, action.at);
                    autoplayDone(plan, action);
                    continue;
                }
                game.songTime = tick;
                queueRoundInputs(game, {}, tick);
                advanceRound(game, tick, LayerRequests{});
                for (const Circle& circle : game.circles) {
                    seen.emplace(CircleKey{circle.time, circle.stemIndex, circle.note}, circle);
                }
                tick += 1.0 / 120.0;
            }
        });
    });
    return seen;
}

// Why the scheme cannot reach `missed`, or null when it should have.
const char* unreachable(const std::map<CircleKey, Circle>& seen, const Circle& missed) {
    for (const auto& entry : seen) {
        const Circle& other = entry.second;
        if (other.padButton != missed.padButton || &other == &missed ||
            std::tie(other.time, other.stemIndex, other.note) ==
                std::tie(missed.time, missed.stemIndex, missed.note)) {
            continue;
        }
        if (std::fabs(other.time - missed.time) < kAutoplayPadMinDown + kAutoplayPadMinUp) {
            return "another circle of its button at the same moment";
        }
        if (other.channel == kHoldChannel && other.time < missed.time &&
            missed.time < other.time + other.holdDuration + kAutoplayPadMinUp) {
            return "inside a hold of its button";
        }
    }
    return nullptr;
}

} // namespace

TEST(PadAutoplay, PlaysEveryShippedLevelMissingOnlyWhatItsButtonsCannotReach) {
    std::vector<std::string> folders = {"levels/tutorialsong"};
    std::vector<LevelListEntry> list;
    stderrOf([&] { list = loadLevelList(); });
    for (const LevelListEntry& entry : list) {
        folders.push_back("levels/" + entry.file);
    }
    ASSERT_EQ(folders.size(), 4u);
    for (const std::string& folder : folders) {
        SCOPED_TRACE(folder);
        CheckedLevel level;
        std::string error;
        ASSERT_TRUE(readCheckedLevel(folder, folder, level, error)) << error;
        level.setup.width = 1920;
        level.setup.height = 1080;
        GameState game = playingGame();
        const std::map<CircleKey, Circle> seen = playWithPadBot(game, level.setup);
        ASSERT_GT(seen.size(), 50u);
        int misses = 0, late = 0;
        for (const CircleOutcome& outcome : game.outcomes) {
            late += outcome.offsetMs > 5.0f ? 1 : 0; // pressed once its button was free again
            if (outcome.grade != CircleGrade::Miss) {
                continue;
            }
            ++misses;
            const auto found = seen.find(CircleKey{outcome.noteTime, outcome.stemIndex, outcome.note});
            ASSERT_NE(found, seen.end());
            const char* why = unreachable(seen, found->second);
            EXPECT_NE(why, nullptr) << "a reachable circle missed at " << outcome.noteTime;
            std::printf("%s: missed the circle at %.3f s (stem %d, key %d, button %d): %s\n", folder.c_str(),
                        outcome.noteTime, outcome.stemIndex, outcome.note, found->second.padButton,
                        why != nullptr ? why : "reachable");
        }
        std::printf("%s: %zu circles, %d missed, %d pressed late\n", folder.c_str(), seen.size(), misses,
                    late);
    }
}
