#pragma once
// A token bucket per client address: each address may make `rate` requests per second on
// average, and up to `rate` in a burst. And the same kind of guard for the log: refusals are
// logged at most once a second per address, so that a flood does not become a flood of lines.
// Any thread; both lock themselves.
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

struct RateLimiter {
    using Clock = std::chrono::steady_clock;

    struct Bucket {
        double tokens = 0.0;
        Clock::time_point updated;
    };

    int rate = 20; // requests per second per address; 0 turns the limit off
    std::mutex mutex;
    std::unordered_map<std::string, Bucket> buckets;
};

// Addresses remembered at most; a full table first forgets the addresses whose buckets have
// refilled (they would start full anyway), and a table still full refuses newcomers.
constexpr std::size_t kMaxRateLimitedAddresses = 65536;

// True when a request from `address` at `now` may go ahead (and takes its token). Always true
// when the limit is off.
bool allowRequest(RateLimiter& limiter, const std::string& address, RateLimiter::Clock::time_point now);

// When each address's refusals were last logged, and how many have not been since.
struct RefusalLog {
    using Clock = std::chrono::steady_clock;

    struct Entry {
        Clock::time_point logged;
        std::size_t unlogged = 0;
    };

    std::mutex mutex;
    std::unordered_map<std::string, Entry> entries;
};

// Counts a refusal of `address` at `now`. True when it is to be logged now, with `count` the
// refusals of that address since its previous line, this one included: at most one line a
// second per address. The table keeps kMaxRateLimitedAddresses addresses; past that, addresses
// not logged within the last second are forgotten, and when none is, newcomers share the
// address "*".
bool noteRefusal(RefusalLog& log, const std::string& address, RefusalLog::Clock::time_point now,
                 std::size_t& count);
