// Concurrent uploads on loopback, bounded in count: the stored bests must equal the bests of what
// was sent, on SQLite with one server process and on PostgreSQL with two sharing the database;
// and a server killed with SIGKILL mid-load keeps every upload it acknowledged.
#include "load_support.hpp"
#include "server/leaderboard_store.hpp"
#include "server_test_support.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <set>

using namespace servertest;
using nlohmann::json;

namespace {

constexpr int kUploads = 1000;
constexpr int kThreads = 16;

using Key = std::pair<std::string, std::string>;

// Every (level, player) of a document with its whole entry.
std::map<Key, json> entriesOf(const json& document) {
    std::map<Key, json> entries;
    for (const json& level : document["levels"]) {
        for (const json& entry : level["scores"]) {
            entries.emplace(Key{level["name"], entry["player"]}, entry);
        }
    }
    return entries;
}

// The stored document holds exactly the keys sent, each with the best score sent, stored whole as
// one of the entries that carried that score.
void expectBests(const json& stored, const LoadResult& load) {
    const std::map<Key, json> expected = entriesOf(bestOf(load, false));
    const std::map<Key, json> actual = entriesOf(stored);
    ASSERT_EQ(actual.size(), expected.size());
    std::set<std::string> sentEntries;
    for (const json& document : load.sent) {
        for (const json& level : document["levels"]) {
            for (const json& entry : level["scores"]) {
                sentEntries.insert(level["name"].get<std::string>() + "\n" + entry.dump());
            }
        }
    }
    for (const auto& [key, entry] : expected) {
        const auto found = actual.find(key);
        ASSERT_NE(found, actual.end()) << key.first << " / " << key.second;
        EXPECT_EQ(found->second["score"], entry["score"]) << key.first << " / " << key.second;
        EXPECT_TRUE(sentEntries.count(key.first + "\n" + found->second.dump())) << found->second;
    }
}

json fetchLeaderboard(int port) {
    return json::parse(request(port, "GET", "/api/leaderboard").body, nullptr, false);
}

void expectIntact(const std::string& database) {
    std::string error;
    const std::unique_ptr<LeaderboardStore> store = openLeaderboardStore(database, error);
    ASSERT_TRUE(store) << error;
    std::string report;
    EXPECT_TRUE(store->checkIntegrity(report)) << report;
}

// Loads one database from `processes` servers and checks the bests.
void loadAndCheck(const std::string& database, int processes) {
    std::vector<std::unique_ptr<ServerProcess>> servers;
    LoadPlan plan;
    plan.uploads = kUploads;
    plan.threads = kThreads;
    for (int i = 0; i < processes; ++i) {
        servers.push_back(std::make_unique<ServerProcess>(
            std::vector<std::string>{"--database", database, "--rate-limit", "0"}));
        plan.ports.push_back(servers.back()->port());
    }
    const LoadResult load = runLoad(plan);
    EXPECT_EQ(load.latencyMs.size(), static_cast<std::size_t>(kUploads)) << servers[0]->process().output();
    expectBests(fetchLeaderboard(plan.ports.back()), load);
    for (auto& server : servers) {
        EXPECT_EQ(server->stop(), 0) << server->process().output();
    }
    expectIntact(database);
}

// Kills the server with SIGKILL once a third of the uploads are acknowledged, restarts it, and
// checks that every acknowledged upload is there: each stored score at least the best
// acknowledged and at most the best sent.
void killAndCheck(const std::string& database) {
    const std::vector<std::string> options = {"--database", database, "--rate-limit", "0"};
    auto server = std::make_unique<ServerProcess>(options);
    std::mutex mutex;
    std::condition_variable reached;
    bool killed = false;
    LoadPlan plan;
    plan.uploads = kUploads;
    plan.threads = kThreads;
    plan.ports = {server->port()};
    plan.onAck = [&](int acks) {
        std::lock_guard<std::mutex> lock(mutex);
        if (acks >= kUploads / 3 && !killed) {
            server->process().signal(SIGKILL);
            killed = true;
        }
    };
    const LoadResult load = runLoad(plan);
    ASSERT_TRUE(killed);
    EXPECT_EQ(server->process().wait(std::chrono::seconds(30)), 128 + SIGKILL);
    EXPECT_LT(load.latencyMs.size(), static_cast<std::size_t>(kUploads));

    ServerProcess restarted(options);
    const std::map<Key, json> stored = entriesOf(fetchLeaderboard(restarted.port()));
    const std::map<Key, json> sent = entriesOf(bestOf(load, false));
    for (const auto& [key, entry] : entriesOf(bestOf(load, true))) {
        const auto found = stored.find(key);
        ASSERT_NE(found, stored.end()) << "lost: " << key.first << " / " << key.second;
        EXPECT_GE(found->second["score"].get<int>(), entry["score"].get<int>())
            << key.first << " / " << key.second;
        EXPECT_LE(found->second["score"].get<int>(), sent.at(key)["score"].get<int>());
    }
    expectIntact(database);
    EXPECT_EQ(restarted.stop(), 0);
}

PostgresCluster& cluster() {
    static PostgresCluster instance(false);
    return instance;
}

} // namespace

TEST(Load, SqliteWithOneProcessKeepsTheBestOfEveryUpload) {
    TempDir folder;
    loadAndCheck(folder.file("leaderboard.db"), 1);
}

TEST(Load, PostgresWithTwoProcessesKeepsTheBestOfEveryUpload) {
    loadAndCheck(cluster().createDatabase("load_two_processes"), 2);
}

TEST(Durability, SqliteKeepsEveryAcknowledgedUploadAcrossSigkill) {
    TempDir folder;
    killAndCheck(folder.file("leaderboard.db"));
}

TEST(Durability, PostgresKeepsEveryAcknowledgedUploadAcrossSigkill) {
    killAndCheck(cluster().createDatabase("durability"));
}
