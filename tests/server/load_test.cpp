// Concurrent uploads on loopback, bounded in count: the stored bests must equal the bests of what
// was sent, on SQLite with one server process and on PostgreSQL with two sharing the database;
// and a server killed with SIGKILL mid-load keeps every upload it acknowledged.
#include "load_support.hpp"
#include "server/leaderboard_store.hpp"
#include "server_test_support.hpp"

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace servertest;
using nlohmann::json;

namespace {

using Key = std::pair<std::string, std::string>;

// Every (level, player) of a document with its whole entry as it was sent (without the server's
// "verified").
std::map<Key, json> entriesOf(const json& document) {
    std::map<Key, json> entries;
    for (const json& level : document["levels"]) {
        for (json entry : level["scores"]) {
            entry.erase("verified");
            entries.emplace(Key{level["name"], entry["player"]}, std::move(entry));
        }
    }
    return entries;
}

// Loads one database from `processes` servers; when `kill`, the first gets SIGKILL once a third
// of the uploads are acknowledged and is then restarted. Each stored entry is one that was sent,
// its score at most the best sent and at least the best acknowledged; no acknowledged key is lost.
void loadAndCheck(const std::string& database, int processes, bool kill) {
    const std::vector<std::string> options = {"--database", database, "--rate-limit", "0"};
    std::vector<std::unique_ptr<ServerProcess>> servers;
    LoadPlan plan;
    for (int i = 0; i < processes; ++i) {
        servers.push_back(std::make_unique<ServerProcess>(options));
        plan.ports.push_back(servers.back()->port());
    }
    bool killed = false;
    if (kill) {
        plan.onAck = [&](int acks) { // under runLoad's lock
            if (acks >= plan.uploads / 3 && !killed) {
                servers[0]->signal(SIGKILL);
                killed = true;
            }
        };
    }
    const LoadResult load = runLoad(plan);
    if (kill) {
        ASSERT_TRUE(killed);
        EXPECT_EQ(servers[0]->wait(std::chrono::seconds(30)), 128 + SIGKILL);
        EXPECT_LT(load.latencyMs.size(), static_cast<std::size_t>(plan.uploads));
        servers[0] = std::make_unique<ServerProcess>(options);
    } else {
        EXPECT_EQ(load.latencyMs.size(), static_cast<std::size_t>(plan.uploads)) << servers[0]->output();
    }

    std::set<std::string> sentEntries;
    for (const json& document : load.sent) {
        for (const json& level : document["levels"]) {
            for (const json& entry : level["scores"]) {
                sentEntries.insert(level["name"].get<std::string>() + "\n" + entry.dump());
            }
        }
    }
    const std::map<Key, json> best = entriesOf(bestOf(load, false));
    const std::map<Key, json> acknowledged = entriesOf(bestOf(load, true));
    const std::map<Key, json> stored = entriesOf(
        json::parse(request(servers.back()->port(), "GET", "/api/leaderboard").body, nullptr, false));
    for (const auto& [key, entry] : acknowledged) {
        EXPECT_TRUE(stored.count(key)) << "lost: " << key.first << " / " << key.second;
    }
    for (const auto& [key, entry] : stored) {
        ASSERT_TRUE(best.count(key)) << "never sent: " << key.first << " / " << key.second;
        EXPECT_LE(entry["score"], best.at(key)["score"]) << key.first << " / " << key.second;
        if (acknowledged.count(key)) {
            EXPECT_GE(entry["score"], acknowledged.at(key)["score"]) << key.first << " / " << key.second;
        }
        EXPECT_TRUE(sentEntries.count(key.first + "\n" + entry.dump())) << entry;
    }
    for (auto& server : servers) {
        EXPECT_EQ(server->stop(), 0) << server->output();
    }
    std::string error;
    const std::unique_ptr<LeaderboardStore> store = openLeaderboardStore(database, error);
    ASSERT_TRUE(store) << error;
    EXPECT_TRUE(store->checkIntegrity(error)) << error;
}

} // namespace

TEST(Load, SqliteWithOneProcessKeepsTheBestOfEveryUpload) {
    TempDir folder;
    loadAndCheck(folder.file("leaderboard.db"), 1, false);
}

TEST(Load, PostgresWithTwoProcessesKeepsTheBestOfEveryUpload) {
    loadAndCheck(sharedCluster().createDatabase("load_two_processes"), 2, false);
}

TEST(Durability, SqliteKeepsEveryAcknowledgedUploadAcrossSigkill) {
    TempDir folder;
    loadAndCheck(folder.file("leaderboard.db"), 1, true);
}

TEST(Durability, PostgresKeepsEveryAcknowledgedUploadAcrossSigkill) {
    loadAndCheck(sharedCluster().createDatabase("durability"), 1, true);
}
