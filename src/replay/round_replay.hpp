#pragma once
// A round and its replay: the replay of a round that has ended, and a replay's round run again on
// the level's setup, with the game's own round code. The game saves the one; `vibrelle-replay
// check` (and the leaderboard server) run the other. Plain code: any thread, on the caller's
// records.
#include "game/game_state.hpp"
#include "game/round_summary.hpp"
#include "replay/replay_file.hpp"

#include <chrono>
#include <cstdint>

// What a replay takes from outside the round: who played, with which offset, and when.
struct ReplayOrigin {
    std::string levelName; // as the level list names it (UTF-8)
    std::string levelHash; // levelHash of the level played
    std::int32_t audioOffsetMs = 0;
    bool bot = false;
    std::int64_t startedAtMs = 0; // wall clock, Unix milliseconds
    std::int64_t endedAtMs = 0;
};

// The whole microsecond a round that ran to song time `applied` is ended at: the first one at or
// after it. Advance the round to it (roundEndTime) before taking its result and replay, so that
// the replay, which keeps whole microseconds, runs to exactly the same point.
std::int64_t roundEndMicros(double applied);

// The replay of the round in `game` (its inputs as applied, its setup's drawable size and input
// mode, its result: score, highest combo, highest layer, the level's layer count, hits and misses
// counted from its decisions), ending at song time `endUs`.
Replay replayOfRound(const GameState& game, const ReplayOrigin& origin, std::int64_t endUs);

// The replay's round run again on `setup` (the level's charts and loop; the replay's drawable size
// and input mode are used): from its song start to its song end, its events applied in order.
// Returns what it came to, as a replay's result. Logs what the round logs (scores, misses).
ReplayResult rerunReplay(const Replay& replay, RoundSetup setup);

// rerunReplay within a time limit: the round is run in steps of kRerunStepSeconds of song time and
// given up, returning false with `result` untouched, when `deadline` (steady clock) has passed
// after a step. The steps end where the whole run ends and apply the same events: the result is
// rerunReplay's. `summary`, when given, gets the run round's figures (summarizeRound: the graded
// presses and their offsets' spread among them).
constexpr double kRerunStepSeconds = 1.0;
bool rerunReplayBy(const Replay& replay, RoundSetup setup, std::chrono::steady_clock::time_point deadline,
                   ReplayResult& result, RoundSummary* summary = nullptr);

// True when two results are the same in every figure.
bool sameResult(const ReplayResult& a, const ReplayResult& b);
