#pragma once
// A token bucket per client address: each address may make `rate` requests per second on
// average, and up to `rate` in a burst. Any thread; the limiter locks itself.
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
