#pragma once
// The concurrent upload load shared by the server's load tests and its benchmark: client threads
// on keep-alive connections post random leaderboard documents, spread over one or more server
// processes, and record which uploads were acknowledged and how long each took.
#include "leaderboard/leaderboard_document.hpp"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace servertest {

struct LoadPlan {
    int uploads = 1000;
    int threads = 16;
    std::vector<int> ports;         // thread i talks to ports[i % size]
    std::function<void(int)> onAck; // called with the running count of acknowledged uploads
};

struct LoadResult {
    std::vector<nlohmann::json> sent; // every upload, by number
    std::vector<char> acknowledged;   // 1 when the server answered 200 with "success": true
    std::vector<double> latencyMs;    // of the acknowledged uploads
    double seconds = 0.0;             // wall time of the whole load
};

// A random upload: 1-3 levels of 6 (one with a "/" and non-ASCII in its name), each with 1-3 of
// 40 players, scores up to a million, the usual details and now and then an unknown key.
inline nlohmann::json randomUpload(std::mt19937& rng) {
    static const char* const kLevels[] = {"Neon Drive", "Drift",     "Pulse",
                                          "Low/High",   "Ünïcode ✓", "Tutorial"};
    auto pick = [&rng](int count) { return std::uniform_int_distribution<int>(0, count - 1)(rng); };
    nlohmann::json document = {{"levels", nlohmann::json::array()}};
    const int levels = 1 + pick(3);
    for (int l = 0; l < levels; ++l) {
        nlohmann::json level = {{"name", kLevels[pick(6)]}, {"scores", nlohmann::json::array()}};
        const int players = 1 + pick(3);
        for (int p = 0; p < players; ++p) {
            nlohmann::json entry = {{"player", "player " + std::to_string(pick(40))},
                                    {"score", pick(1000001)},
                                    {"time", pick(600)},
                                    {"highestLayer", std::to_string(1 + pick(8)) + "/8"},
                                    {"highestCombo", pick(500)}};
            if (pick(4) == 0) {
                entry["device"] = "phone " + std::to_string(pick(100));
            }
            level["scores"].push_back(entry);
        }
        document["levels"].push_back(level);
    }
    return document;
}

inline LoadResult runLoad(const LoadPlan& plan) {
    LoadResult result;
    result.sent.resize(static_cast<std::size_t>(plan.uploads));
    result.acknowledged.assign(result.sent.size(), 0);
    std::vector<double> latency(result.sent.size(), -1.0);
    std::atomic<int> next{0};
    std::atomic<int> acks{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < plan.threads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 rng(1234u + static_cast<unsigned>(t));
            httplib::Client client("127.0.0.1", plan.ports[static_cast<std::size_t>(t) % plan.ports.size()]);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            client.set_connection_timeout(10);
            client.set_read_timeout(10);
            client.set_write_timeout(10);
            for (int i = next++; i < plan.uploads; i = next++) {
                const auto index = static_cast<std::size_t>(i);
                result.sent[index] = randomUpload(rng);
                const std::string body = result.sent[index].dump();
                const auto begin = std::chrono::steady_clock::now();
                const httplib::Result reply = client.Post("/api/leaderboard", body, "application/json");
                const auto end = std::chrono::steady_clock::now();
                if (!reply || reply->status != 200) {
                    continue;
                }
                const nlohmann::json answer = nlohmann::json::parse(reply->body, nullptr, false);
                if (answer.is_object() && answer.value("success", false)) {
                    result.acknowledged[index] = 1;
                    latency[index] = std::chrono::duration<double, std::milli>(end - begin).count();
                    const int count = ++acks;
                    if (plan.onAck) {
                        plan.onAck(count);
                    }
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (double ms : latency) {
        if (ms >= 0.0) {
            result.latencyMs.push_back(ms);
        }
    }
    return result;
}

// The q-quantile (0..1) of `values`, nearest rank; 0 for none.
inline double quantile(std::vector<double> values, double q) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

// The best entry of each (level, player) over the chosen uploads, by the game's own merge rules.
inline nlohmann::json bestOf(const LoadResult& result, bool acknowledgedOnly) {
    nlohmann::json best = {{"levels", nlohmann::json::array()}};
    for (std::size_t i = 0; i < result.sent.size(); ++i) {
        if ((!acknowledgedOnly || result.acknowledged[i]) && result.sent[i].is_object()) {
            mergeLeaderboards(best, result.sent[i]);
        }
    }
    return best;
}

} // namespace servertest
