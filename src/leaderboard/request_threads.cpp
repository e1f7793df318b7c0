#include "leaderboard/request_threads.hpp"

#include "base/log.hpp"
#include "leaderboard/leaderboard_client.hpp"

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <thread>
#include <utility>

namespace {

struct ThreadRegistry {
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;
    std::shared_ptr<CallbackGate> gate = std::make_shared<CallbackGate>();
};

// Shared with each request thread, which keeps its own reference: a thread abandoned at shut-down
// may outlive this function's static.
const std::shared_ptr<ThreadRegistry>& registry() {
    static const std::shared_ptr<ThreadRegistry> instance = std::make_shared<ThreadRegistry>();
    return instance;
}

} // namespace

void startRequestThread(std::function<void(CallbackGate&)> work) {
    std::shared_ptr<ThreadRegistry> shared = registry();
    std::shared_ptr<CallbackGate> gate;
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        ++shared->running;
        gate = shared->gate;
    }
    auto finished = [](ThreadRegistry& reg) {
        {
            std::lock_guard<std::mutex> lock(reg.mutex);
            --reg.running;
        }
        reg.idle.notify_all();
    };
    try {
        std::thread([shared, gate, finished, work = std::move(work)]() mutable {
            // cpp-httplib sends without MSG_NOSIGNAL, so writing to a connection the server has
            // reset would raise SIGPIPE and end the game. Blocked here (and in the watchdog,
            // which inherits the mask), the signal stays pending on this thread and dies with it;
            // the write fails with EPIPE instead.
            sigset_t pipeSignal;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
            try {
                // The work, and the callback in it, is destroyed before the thread counts as
                // ended, so nothing of the caller's is released after a wait has returned.
                std::function<void(CallbackGate&)> local = std::move(work);
                local(*gate);
            } catch (const std::exception& e) {
                logError(stderr, "HTTP database thread failed: %s", e.what());
            } catch (...) {
                logError(stderr, "HTTP database thread failed: unknown exception");
            }
            finished(*shared);
        }).detach();
    } catch (const std::exception& e) {
        logError(stderr, "Could not start an HTTP database thread: %s", e.what());
        finished(*shared);
    }
}

bool httpDatabaseWait(double waitSeconds) {
    ThreadRegistry& reg = *registry();
    std::unique_lock<std::mutex> lock(reg.mutex);
    const auto limit = std::chrono::duration<double>(waitSeconds < 0.0 ? 0.0 : waitSeconds);
    return reg.idle.wait_for(lock, limit, [&reg] { return reg.running == 0; });
}

void httpDatabaseShutdown(double waitSeconds) {
    httpDatabaseWait(waitSeconds);
    std::shared_ptr<CallbackGate> gate;
    {
        std::lock_guard<std::mutex> lock(registry()->mutex);
        gate = registry()->gate;
    }
    // Taking the gate's lock also waits for a callback that is running right now.
    std::lock_guard<std::mutex> lock(gate->mutex);
    gate->open = false;
}

void httpDatabaseReset() {
    // Threads still holding the old, closed gate keep it; they never call back.
    std::lock_guard<std::mutex> lock(registry()->mutex);
    registry()->gate = std::make_shared<CallbackGate>();
}
