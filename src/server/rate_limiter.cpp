#include "server/rate_limiter.hpp"

#include <algorithm>

namespace {

double tokensAt(const RateLimiter::Bucket& bucket, int rate, RateLimiter::Clock::time_point now) {
    const double elapsed = std::chrono::duration<double>(now - bucket.updated).count();
    return std::min(static_cast<double>(rate), bucket.tokens + std::max(0.0, elapsed) * rate);
}

void forgetRefilled(RateLimiter& limiter, RateLimiter::Clock::time_point now) {
    for (auto it = limiter.buckets.begin(); it != limiter.buckets.end();) {
        it = tokensAt(it->second, limiter.rate, now) >= limiter.rate ? limiter.buckets.erase(it)
                                                                     : std::next(it);
    }
}

} // namespace

bool allowRequest(RateLimiter& limiter, const std::string& address, RateLimiter::Clock::time_point now) {
    const std::lock_guard<std::mutex> lock(limiter.mutex);
    if (limiter.rate <= 0) {
        return true;
    }
    auto found = limiter.buckets.find(address);
    if (found == limiter.buckets.end()) {
        if (limiter.buckets.size() >= kMaxRateLimitedAddresses) {
            forgetRefilled(limiter, now);
            if (limiter.buckets.size() >= kMaxRateLimitedAddresses) {
                return false;
            }
        }
        found = limiter.buckets.emplace(address, RateLimiter::Bucket{static_cast<double>(limiter.rate), now})
                    .first;
    }
    RateLimiter::Bucket& bucket = found->second;
    bucket.tokens = tokensAt(bucket, limiter.rate, now);
    bucket.updated = now;
    if (bucket.tokens < 1.0) {
        return false;
    }
    bucket.tokens -= 1.0;
    return true;
}

bool noteRefusal(RefusalLog& log, const std::string& address, RefusalLog::Clock::time_point now,
                 std::size_t& count) {
    constexpr auto kInterval = std::chrono::seconds(1);
    const std::lock_guard<std::mutex> lock(log.mutex);
    auto found = log.entries.find(address);
    if (found == log.entries.end()) {
        if (log.entries.size() >= kMaxRateLimitedAddresses) {
            // An address logged over a second ago gets a line at its next refusal anyway; what
            // forgetting it loses is the count of its refusals since that line.
            for (auto it = log.entries.begin(); it != log.entries.end();) {
                it = now - it->second.logged >= kInterval ? log.entries.erase(it) : std::next(it);
            }
        }
        const std::string key = log.entries.size() < kMaxRateLimitedAddresses ? address : "*";
        found = log.entries.find(key);
        if (found == log.entries.end()) {
            found = log.entries.emplace(key, RefusalLog::Entry{now - kInterval, 0}).first;
        }
    }
    RefusalLog::Entry& entry = found->second;
    ++entry.unlogged;
    if (now - entry.logged < kInterval) {
        return false;
    }
    count = entry.unlogged;
    entry.unlogged = 0;
    entry.logged = now;
    return true;
}
