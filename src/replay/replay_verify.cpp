#include "replay/replay_verify.hpp"

#include "base/log.hpp"
#include "replay/round_replay.hpp"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

bool offsetsAreSuspect(std::int32_t presses, double spreadMs) {
    return presses >= kSuspectMinPresses && spreadMs < kSuspectSpreadMs;
}

VerifyOutcome verifyReplay(const Replay& replay, const CheckedLevel& level,
                           VerifyClock::time_point deadline) {
    VerifyOutcome outcome;
    RoundSummary summary;
    const LogMessagesMuted muted; // a round logs every score and miss
    if (!rerunReplayBy(replay, level.setup, deadline, outcome.result, &summary)) {
        return outcome;
    }
    outcome.presses = summary.presses;
    outcome.spreadMs = summary.spreadMs;
    outcome.verdict =
        sameResult(outcome.result, replay.result) ? VerifyVerdict::Verified : VerifyVerdict::Differs;
    outcome.suspect =
        outcome.verdict == VerifyVerdict::Verified && offsetsAreSuspect(summary.presses, summary.spreadMs);
    return outcome;
}

std::string differenceText(const ReplayResult& run, const ReplayResult& claimed) {
    const struct {
        const char* what;
        std::int64_t ran, claimed;
    } figures[] = {{"a score of", run.score, claimed.score},
                   {"a highest combo of", run.highestCombo, claimed.highestCombo},
                   {"a highest layer of", run.highestLayer, claimed.highestLayer},
                   {"a layer count of", run.totalLayers, claimed.totalLayers},
                   {"hits numbering", run.hits, claimed.hits},
                   {"misses numbering", run.misses, claimed.misses}};
    for (const auto& figure : figures) {
        if (figure.ran != figure.claimed) {
            return std::string("the replay's round, run again, came to ") + figure.what + " " +
                   std::to_string(figure.ran) + ", not " + std::to_string(figure.claimed);
        }
    }
    return "the replay's round, run again, came to another result";
}

struct VerifyPool::Job {
    const Replay* replay = nullptr;
    const CheckedLevel* level = nullptr;
    VerifyClock::time_point deadline;
    bool done = false; // guarded by the pool's mutex
    VerifyOutcome outcome;
};

VerifyPool::VerifyPool(std::size_t threads) {
    threads = std::max<std::size_t>(threads, 1);
    for (std::size_t i = 0; i < threads; ++i) {
        threads_.emplace_back([this] { work(); });
    }
}

VerifyPool::~VerifyPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        for (const std::shared_ptr<Job>& job : queue_) {
            job->done = true;
        }
        queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

VerifyOutcome VerifyPool::verify(const Replay& replay, const CheckedLevel& level,
                                 VerifyClock::time_point deadline) {
    auto job = std::make_shared<Job>();
    job->replay = &replay;
    job->level = &level;
    job->deadline = deadline;
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_) {
        return VerifyOutcome{};
    }
    queue_.push_back(job);
    wake_.notify_all();
    if (!wake_.wait_until(lock, deadline, [&] { return job->done; })) {
        // Still queued: taken out, so that no thread runs it once the caller's replay is gone. A job
        // being run holds the caller here until it ends, at its next step past the deadline.
        const auto queued = std::find(queue_.begin(), queue_.end(), job);
        if (queued != queue_.end()) {
            queue_.erase(queued);
            return VerifyOutcome{};
        }
        wake_.wait(lock, [&] { return job->done; });
    }
    return job->outcome;
}

void VerifyPool::work() {
    // Runs of long rounds yield to the HTTP workers answering the board. Linux lowers a single
    // thread's priority by its thread id; elsewhere this fails and the thread keeps the usual one.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (stopping_) {
            return;
        }
        const std::shared_ptr<Job> job = queue_.front();
        queue_.pop_front();
        lock.unlock();
        VerifyOutcome outcome = VerifyClock::now() < job->deadline
                                    ? verifyReplay(*job->replay, *job->level, job->deadline)
                                    : VerifyOutcome{};
        lock.lock();
        job->outcome = outcome;
        job->done = true;
        wake_.notify_all();
    }
}

std::size_t defaultVerifyThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 1 ? cores - 1 : 1;
}
