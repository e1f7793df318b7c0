#include "audio/audio_stream_feeder.hpp"

#include "audio/audio_stream.hpp"

#include <SDL3/SDL.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// How often the thread looks at the rings when nobody wakes it: the mixer drains them at 44.1
// frames a millisecond, and a refill starts once kStreamRefillFrames (93 ms) are free.
constexpr auto kIdleWait = std::chrono::milliseconds(5);

struct Feeder {
    std::mutex mutex; // the list; held across a pass (refills included), never by the audio thread
    std::condition_variable wake;
    std::condition_variable passed;
    std::vector<AudioStream*> streams;
    std::thread thread;
    bool quit = false;
    std::uint64_t passes = 0;
    std::atomic<bool> woken{false};
    std::mutex lifecycle; // starting and joining the thread
    std::atomic<std::uint64_t> cpuNs{0};

    ~Feeder() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            quit = true;
        }
        wake.notify_one();
        if (thread.joinable()) {
            thread.join();
        }
    }
};

Feeder& feeder() {
    static Feeder instance;
    return instance;
}

std::uint64_t threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::uint64_t(now.tv_sec) * 1000000000ull + std::uint64_t(now.tv_nsec);
}

void run(Feeder& f) {
    const std::uint64_t cpuStart = threadCpuNs();
    std::unique_lock<std::mutex> lock(f.mutex);
    while (!f.quit) {
        // Streams that a seek or a start waits for, or that run low, first: a long refill of a full
        // one must not keep another's first frames waiting.
        std::uint64_t decoded = 0;
        for (AudioStream* stream : f.streams) {
            if (stream->hungry()) {
                decoded += stream->refill();
            }
        }
        for (AudioStream* stream : f.streams) {
            if (!stream->hungry()) {
                decoded += stream->refill();
            }
        }
        ++f.passes;
        f.passed.notify_all();
        f.cpuNs.store(threadCpuNs() - cpuStart, std::memory_order_relaxed);
        if (decoded == 0 && !f.woken.exchange(false)) {
            f.wake.wait_for(lock, kIdleWait);
        }
    }
    lock.unlock();
    SDL_CleanupTLS();
}

std::atomic<std::uint64_t> finishedCpuNs{0}; // threads that ended

} // namespace

void streamFeederAdd(AudioStream& stream) {
    Feeder& f = feeder();
    std::lock_guard<std::mutex> life(f.lifecycle);
    {
        std::lock_guard<std::mutex> lock(f.mutex);
        f.streams.push_back(&stream);
        if (f.thread.joinable()) {
            f.woken = true;
            f.wake.notify_one();
            return;
        }
        f.quit = false;
    }
    f.cpuNs = 0;
    f.thread = std::thread(run, std::ref(f));
}

void streamFeederRemove(AudioStream& stream) {
    Feeder& f = feeder();
    std::lock_guard<std::mutex> life(f.lifecycle);
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(f.mutex);
        f.streams.erase(std::remove(f.streams.begin(), f.streams.end(), &stream), f.streams.end());
        last = f.streams.empty();
        if (last) {
            f.quit = true;
        }
    }
    if (last && f.thread.joinable()) {
        f.wake.notify_one();
        f.thread.join();
        finishedCpuNs += f.cpuNs.load();
        f.cpuNs = 0;
    }
}

void streamFeederWake() {
    Feeder& f = feeder();
    f.woken.store(true, std::memory_order_relaxed);
    f.wake.notify_one();
}

bool streamFeederWaitForPass(std::chrono::milliseconds timeout) {
    Feeder& f = feeder();
    std::unique_lock<std::mutex> lock(f.mutex);
    if (!f.thread.joinable() || f.quit) {
        return false;
    }
    f.woken = true;
    f.wake.notify_one();
    const std::uint64_t seen = f.passes;
    return f.passed.wait_for(lock, timeout, [&] { return f.passes != seen; });
}

double streamFeederCpuSeconds() { return double(finishedCpuNs.load() + feeder().cpuNs.load()) / 1e9; }
