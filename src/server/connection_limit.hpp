#pragma once
// How many connections (and, through a trusted proxy, requests in flight) each client address
// has open, against a limit, so that a few addresses cannot hold every worker thread. Any
// thread; the limiter locks itself.
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

struct ConnectionLimiter {
    std::size_t limit = 16; // per key; 0 turns the limit off
    std::mutex mutex;
    std::unordered_map<std::string, std::size_t> open; // only keys with something open
};

// Takes one of `key`'s places (a key of client_address.hpp's limitKey). False, taking nothing,
// when `key` already holds `limit`; always true when the limit is off.
bool acquireConnection(ConnectionLimiter& limiter, const std::string& key);

// Gives back a place that acquireConnection took.
void releaseConnection(ConnectionLimiter& limiter, const std::string& key);
