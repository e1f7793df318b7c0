#pragma once
// Running uploaded rounds again, as the leaderboard server does. A replay of a level the server
// knows is run with the game's own round code (rerunReplayBy) on the level as read for checking,
// and verified when it comes to exactly the result it claims. The runs happen on a small pool of
// threads of their own, at a lower priority than the threads answering requests, so that however
// many long rounds arrive at once only that many cores go to them and the board keeps answering.
#include "replay/level_check.hpp"
#include "replay/replay_file.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using VerifyClock = std::chrono::steady_clock;

// How long one upload may take to have its rounds run again, queueing included: less than the
// game's 10 s read time-out, so that its upload is answered before it gives up.
constexpr std::chrono::milliseconds kVerifyBudget{8000};

// A verified round is also suspect when its graded presses number at least this many and their
// offsets' standard deviation is below the spread here: no person's hands are that even.
constexpr std::int32_t kSuspectMinPresses = 50;
constexpr double kSuspectSpreadMs = 1.0;

enum class VerifyVerdict {
    Verified,  // the run came to the replay's result
    Differs,   // it came to another
    OutOfTime, // the deadline passed first (in the queue or during the run)
};

struct VerifyOutcome {
    VerifyVerdict verdict = VerifyVerdict::OutOfTime;
    ReplayResult result;      // what the run came to (Verified, Differs)
    std::int32_t presses = 0; // graded presses of the run
    double spreadMs = 0.0;    // their offsets' standard deviation, in milliseconds
    bool suspect = false;     // Verified, and offsetsAreSuspect
};

// True when `presses` graded presses with offsets of standard deviation `spreadMs` are too even to
// be a person's (see kSuspectMinPresses).
bool offsetsAreSuspect(std::int32_t presses, double spreadMs);

// Runs `replay`'s round on `level` (its setup; the replay brings its drawable size) until
// `deadline`, and compares what it came to with the replay's result. Any thread.
VerifyOutcome verifyReplay(const Replay& replay, const CheckedLevel& level, VerifyClock::time_point deadline);

// Why a Differs outcome is refused, for the upload's "errors": the first figure that differs,
// "the replay's round, run again, came to a score of 1200, not 1300".
std::string differenceText(const ReplayResult& run, const ReplayResult& claimed);

// The pool the runs go to. Each upload handler hands its rounds over one at a time and waits for
// the outcome, so that no more replays are held in memory than handlers are running; the queue
// therefore never holds more jobs than the HTTP server has workers.
class VerifyPool {
public:
    // Starts `threads` (at least 1) threads, each lowered in priority (nice +10) where the system
    // allows it.
    explicit VerifyPool(std::size_t threads);
    // Stops the threads; jobs still queued come out OutOfTime.
    ~VerifyPool();
    VerifyPool(const VerifyPool&) = delete;
    VerifyPool& operator=(const VerifyPool&) = delete;

    // Runs verifyReplay(replay, level, deadline) on a pool thread and waits for its outcome, at
    // most until `deadline` (OutOfTime then; a run already going gives up at its next step).
    // `replay` and `level` must outlive the call. Any thread but the pool's own.
    VerifyOutcome verify(const Replay& replay, const CheckedLevel& level, VerifyClock::time_point deadline);

    std::size_t threadCount() const { return threads_.size(); }

private:
    struct Job;
    void work();

    std::mutex mutex_;
    std::condition_variable wake_; // a job was queued, or the pool stops
    std::deque<std::shared_ptr<Job>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// The pool's default size: one thread fewer than the machine has cores, at least one.
std::size_t defaultVerifyThreads();
