#pragma once
// The concurrent upload load shared by the server's load tests and its benchmark: client threads
// on keep-alive connections post random leaderboard documents, spread over one or more server
// processes, and record which uploads were acknowledged and how long each took.
#include "leaderboard/leaderboard_document.hpp"

#include <httplib.h>
#include <nlohmann/json.hpp>

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
    // The upload client thread `thread` sends next, with the headers it needs; randomUpload and no
    // headers when unset.
    std::function<nlohmann::json(int thread, std::mt19937& rng, httplib::Headers& headers)> makeUpload;
};

struct LoadResult {
    std::vector<nlohmann::json> sent; // every upload, by number
    std::vector<char> acknowledged;   // 1 when the server answered 200 with "success": true
    std::vector<double> latencyMs;    // of the acknowledged uploads
};

// A random upload: 1-3 levels of 6 (one with a "/" and non-ASCII in its name), each with 1-3 of
// 40 players, scores up to a million, the usual details and now and then an unknown key.
inline nlohmann::json randomUpload(std::mt19937& rng) {
    static const char* const kLevels[] = {"Neon Drive", "Drift",     "Pulse",
                                          "Low/High",   "Ünïcode ✓", "Tutorial"};
    auto pick = [&rng](int count) { return std::uniform_int_distribution<int>(0, count - 1)(rng); };
    nlohmann::json document = {{"levels", nlohmann::json::array()}};
    for (int l = 0, levels = 1 + pick(3); l < levels; ++l) {
        nlohmann::json level = {{"name", kLevels[pick(6)]}, {"scores", nlohmann::json::array()}};
        for (int p = 0, players = 1 + pick(3); p < players; ++p) {
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
    std::mutex mutex;
    std::atomic<int> next{0};
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
                httplib::Headers headers;
                result.sent[index] = plan.makeUpload ? plan.makeUpload(t, rng, headers) : randomUpload(rng);
                const auto begin = std::chrono::steady_clock::now();
                const httplib::Result reply =
                    client.Post("/api/leaderboard", headers, result.sent[index].dump(), "application/json");
                const std::chrono::duration<double, std::milli> took =
                    std::chrono::steady_clock::now() - begin;
                const nlohmann::json answer = reply && reply->status == 200
                                                  ? nlohmann::json::parse(reply->body, nullptr, false)
                                                  : nullptr;
                if (answer.is_object() && answer.value("success", false)) {
                    std::lock_guard<std::mutex> lock(mutex);
                    result.acknowledged[index] = 1;
                    result.latencyMs.push_back(took.count());
                    if (plan.onAck) {
                        plan.onAck(static_cast<int>(result.latencyMs.size()));
                    }
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return result;
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
