#include "server/connection_limit.hpp"

bool acquireConnection(ConnectionLimiter& limiter, const std::string& key) {
    const std::lock_guard<std::mutex> lock(limiter.mutex);
    if (limiter.limit == 0) {
        return true;
    }
    std::size_t& count = limiter.open[key];
    if (count >= limiter.limit) {
        return false;
    }
    ++count;
    return true;
}

void releaseConnection(ConnectionLimiter& limiter, const std::string& key) {
    const std::lock_guard<std::mutex> lock(limiter.mutex);
    const auto found = limiter.open.find(key);
    if (found == limiter.open.end()) {
        return; // taken while the limit was off
    }
    if (--found->second == 0) {
        limiter.open.erase(found);
    }
}
