#pragma once
// The leaderboard client's request threads: each request runs on a tracked, detached thread of
// its own and calls back through a gate that httpDatabaseShutdown closes (see leaderboard_client.hpp
// for the wait, shut-down and reset that act on them). Internal to the client.
#include <functional>
#include <mutex>

// Every callback runs under `mutex` and only while `open`; httpDatabaseShutdown closes it.
struct CallbackGate {
    std::mutex mutex;
    bool open = true;
};

// Runs `work(gate)` on a new tracked thread with SIGPIPE blocked; an exception it throws is logged
// ("HTTP database thread failed: %s"), never propagated. The work must use only what it owns (a
// thread abandoned at shut-down may outlive everything else). Any thread.
void startRequestThread(std::function<void(CallbackGate&)> work);

// Opens the gate again and forgets finished threads, so that a test can start the client afresh
// after httpDatabaseShutdown. Tests only; main thread, with no request running.
void httpDatabaseReset();

// Calls `call` under the gate, unless the game has shut down.
template <class Call> void deliver(CallbackGate& gate, Call&& call) {
    std::lock_guard<std::mutex> lock(gate.mutex);
    if (gate.open) {
        call();
    }
}
