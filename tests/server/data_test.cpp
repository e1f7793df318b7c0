// The server's data on both databases: owned names, the bounded board and its pages, the move
// from the first schema, and the admin commands.
#include "server_fixture.hpp"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <fstream>
#include <thread>

using namespace servertest;
using nlohmann::json;

namespace {

// Runs `sql` (several statements allowed) on a SQLite file or a PostgreSQL URL.
bool executeSql(const std::string& database, const std::string& sql) {
    if (database.rfind("postgresql://", 0) == 0) {
        PGconn* connection = PQconnectdb(database.c_str());
        PGresult* result = PQexec(connection, sql.c_str());
        const bool ok =
            PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
        PQclear(result);
        PQfinish(connection);
        return ok;
    }
    sqlite3* db = nullptr;
    const bool ok = sqlite3_open(database.c_str(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

class ServerData : public ServerCase {
protected:
    // An upload with the player-key header when `key` is not empty; the reply's status and body.
    std::pair<int, json> post(const json& document, const std::string& key = "") {
        httplib::Headers headers;
        if (!key.empty()) {
            headers.emplace("X-Vibrelle-Player-Key", key);
        }
        const Reply reply = request(server->port(), "POST", "/api/leaderboard", document.dump(), headers);
        return {reply.status, json::parse(reply.body, nullptr, false)};
    }
};

} // namespace

TEST_P(ServerData, AClaimedNameTakesOnlyUploadsThatCarryItsKey) {
    start();
    EXPECT_EQ(post(upload("Neon", {entry("Ann", 10)})).first, 200); // nobody owns it yet
    EXPECT_EQ(post(upload("Neon", {entry("ann", 1), entry("bob", 1)}), "new").first, 400);
    EXPECT_EQ(post(upload("Neon", {"not an entry"}), "new").first, 400);
    EXPECT_EQ(post(upload("Neon", {entry("ann", 99)}), "NEW").first, 400); // the header's forms: DataUnits

    const auto [status, claim] = post(upload("Neon", {entry("ANN", 20), entry("Ann", 5)}), "new");
    ASSERT_EQ(status, 200) << claim;
    EXPECT_EQ(claim["player"], "ANN");
    const std::string key = claim.value("playerKey", "");
    ASSERT_EQ(key.size(), 22u);
    EXPECT_EQ(scoreOf("Neon", "ann"), 20);

    // Without the key, or with another: refused, whole or in part.
    const auto [refused, why] = post(upload("Neon", {entry("ann", 30)}));
    EXPECT_EQ(refused, 403);
    EXPECT_EQ(
        why,
        json({{"success", false},
              {"error", "the name is owned by another player"},
              {"errors",
               {{{"level", "Neon"}, {"player", "ann"}, {"error", "the name is owned by another player"}}}}}));
    EXPECT_EQ(post(upload("Neon", {entry("ann", 30)}), "AAAAAAAAAAAAAAAAAAAAAA").first, 403);
    EXPECT_EQ(post(upload("Neon", {entry("Ann", 30)}), "new").first, 403); // a second claim claims nothing
    const auto [partly, partReply] = post(upload("Neon", {entry("ann", 30), entry("bob", 3)}));
    EXPECT_EQ(partly, 200);
    EXPECT_EQ(partReply["accepted"], 1);
    EXPECT_EQ(partReply["skipped"], 1);
    EXPECT_EQ(scoreOf("Neon", "ann"), 20);

    // With it: any spelling, any level, and names nobody owns alongside.
    const auto [taken, takenReply] = post(upload("Drift", {entry("aNN", 7), entry("bob", 4)}), key);
    EXPECT_EQ(taken, 200) << takenReply;
    EXPECT_EQ(takenReply["accepted"], 2);
    EXPECT_EQ(scoreOf("Drift", "ann"), 7);
    EXPECT_EQ(takenReply.count("playerKey"), 0u);
}

TEST_P(ServerData, RacingClaimsOfOneNameHaveOneWinner) {
    start({"--threads", "16"});
    constexpr int kClaims = 12;
    std::vector<std::pair<int, json>> replies(kClaims);
    std::vector<std::thread> threads;
    for (int i = 0; i < kClaims; ++i) {
        threads.emplace_back([&, i] {
            replies[i] = post(upload("Neon", {entry(i % 2 ? "Racer" : "RACER", 100 + i)}), "new");
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    int won = 0;
    std::string key;
    for (const auto& [status, body] : replies) {
        EXPECT_TRUE(status == 200 || status == 403) << status << " " << body;
        if (status == 200) {
            ++won;
            key = body.value("playerKey", "");
        }
    }
    EXPECT_EQ(won, 1);
    EXPECT_EQ(post(upload("Neon", {entry("racer", 500)}), key).first, 200);
    EXPECT_EQ(scoreOf("Neon", "racer"), 500);
}

TEST_P(ServerData, TheBoardIsBoundedAndPagedInRankOrder) {
    start();
    std::vector<json> many;
    for (int i = 0; i < 120; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "p%03d", i);
        many.push_back(entry(name, i % 50)); // equal scores in one upload rank by folded name
    }
    ASSERT_EQ(post(upload("Big", many)).first, 200);
    ASSERT_EQ(post(upload("Big", {entry("late", 49)})).first, 200);
    ASSERT_EQ(post(upload("Big", {entry("P000", 49)})).first, 200); // replaced: ranks by its new time
    ASSERT_EQ(post(upload("Rock & Roll", {entry("x", 1)})).first, 200);

    const json whole = json::parse(get("/api/leaderboard").body);
    ASSERT_EQ(whole["levels"].size(), 2u);
    const json& big = whole["levels"][0];
    EXPECT_EQ(big["total"], 121);
    ASSERT_EQ(big["scores"].size(), 100u);
    std::vector<std::string> top;
    for (int i = 0; i < 5; ++i) {
        top.push_back(big["scores"][i]["player"]);
    }
    EXPECT_EQ(top, (std::vector<std::string>{"p049", "p099", "late", "P000", "p048"}));

    const json page = json::parse(get("/api/leaderboard?level=Big&offset=100&limit=30&other=1").body);
    ASSERT_EQ(page["levels"].size(), 1u);
    EXPECT_EQ(page["levels"][0]["total"], 121);
    EXPECT_EQ(page["levels"][0]["offset"], 100);
    EXPECT_EQ(page["levels"][0]["scores"].size(), 21u);
    EXPECT_EQ(
        json::parse(get("/api/leaderboard?level=Rock%20%26%20Roll&limit=1").body)["levels"][0]["scores"],
        json::array({{{"player", "x"}, {"score", 1}, {"verified", false}}}));
    EXPECT_EQ(json::parse(get("/api/leaderboard?level=Nowhere").body),
              json::parse(R"({"levels": [{"name": "Nowhere", "total": 0, "offset": 0, "scores": []}]})"));
    // (The query's other refusals: DataUnits.)
    for (const char* bad : {"level=Big&limit=101", "level=", "level=%0A"}) {
        EXPECT_EQ(get(std::string("/api/leaderboard?") + bad).status, 400) << bad;
    }

    // The web page: each level's top 10 with a link to its ranking, 50 a page.
    const std::string board = get("/").body;
    EXPECT_NE(board.find("<a href=\"/?level=Rock%20%26%20Roll&amp;page=1\">"), std::string::npos) << board;
    const std::string last = get("/?level=Big&page=3").body;
    EXPECT_NE(last.find("Ranks 101 to 121 of 121 entries."), std::string::npos) << last;
    EXPECT_NE(last.find("<a href=\"/?level=Big&amp;page=2\">Previous</a>"), std::string::npos);
    EXPECT_EQ(last.find("Next"), std::string::npos);
    EXPECT_NE(get("/?level=Big&page=1").body.find("<a href=\"/?level=Big&amp;page=2\">Next</a>"),
              std::string::npos);
    EXPECT_EQ(get("/?level=Big&page=0").status, 400);
}

TEST_P(ServerData, TheFirstSchemaIsMigratedWithNamesFolded) {
    const std::string database = newDatabase();
    const std::string serial = GetParam() == Backend::Sqlite ? "INTEGER" : "BIGSERIAL";
    ASSERT_TRUE(
        executeSql(database, "CREATE TABLE leaderboard_scores (id " + serial +
                                 " PRIMARY KEY, level TEXT NOT NULL, player TEXT NOT NULL,"
                                 " score INTEGER NOT NULL, entry TEXT NOT NULL, UNIQUE (level, player));"
                                 "INSERT INTO leaderboard_scores (id, level, player, score, entry) VALUES"
                                 " (1, 'Neon', 'Ann', 10, '{\"player\":\"Ann\",\"score\":10}'),"
                                 " (2, 'Neon', 'ANN', 20, '{\"player\":\"ANN\",\"score\":20,\"time\":1}'),"
                                 " (3, 'Neon', 'ann', 20, '{\"player\":\"ann\",\"score\":20}'),"
                                 " (4, 'Neon', 'Zo\u00eb', 5, '{\"player\":\"Zo\u00eb\",\"score\":5}'),"
                                 " (5, 'Neon', 'ZOE\u0308', 6, '{\"player\":\"ZOE\u0308\",\"score\":6}'),"
                                 " (6, 'Drift', 'Ann', 3, '{\"player\":\"Ann\",\"score\":3}'),"
                                 " (7, 'Neon', 'a\u200bb', 1, '{\"player\":\"a\u200bb\",\"score\":1}')"));
    // Servers starting at once on one database: one migrates, the others find it done.
    std::vector<std::unique_ptr<ServerProcess>> servers(GetParam() == Backend::Sqlite ? 1 : 3);
    std::vector<std::thread> starting;
    for (auto& started : servers) {
        starting.emplace_back([&] {
            started = std::make_unique<ServerProcess>(
                std::vector<std::string>{"--database", database, "--rate-limit", "0"});
        });
    }
    for (std::thread& thread : starting) {
        thread.join();
    }
    int migrated = 0;
    for (auto& started : servers) {
        const std::string output = started->output();
        migrated +=
            output.find("Migrated 7 score entries to folded player names: 3 merged, 1 kept with names "
                        "that no longer pass the name rules") != std::string::npos;
    }
    EXPECT_EQ(migrated, 1);
    server = std::move(servers.back());
    const json neon = json::parse(get("/api/leaderboard?level=Neon").body)["levels"][0];
    EXPECT_EQ(neon["total"], 3);
    EXPECT_EQ(neon["scores"], json::parse("[{\"player\":\"ANN\",\"score\":20,\"time\":1,\"verified\":false},"
                                          "{\"player\":\"ZOE\u0308\",\"score\":6,\"verified\":false},"
                                          "{\"player\":\"a\u200bb\",\"score\":1,\"verified\":false}]"));
    EXPECT_EQ(scoreOf("Drift", "ann"), 3);
    EXPECT_EQ(scoreOf("Neon", "a\u200bb"), 1); // readable, never claimable
    EXPECT_EQ(post(upload("Neon", {entry("a\u200bb", 9)}), "new").first, 400);
    EXPECT_EQ(post(upload("Neon", {entry("zoë", 9)})).first, 200);
    EXPECT_EQ(scoreOf("Neon", "Zo\u00eb"), 9);
}

TEST_P(ServerData, AdminCommandsReleaseAndDeleteByFoldedName) {
    const std::string database = newDatabase();
    start({}, database);
    const std::string key = post(upload("Neon", {entry("Ann", 20)}), "new").second.value("playerKey", "");
    ASSERT_EQ(post(upload("Drift", {entry("ann", 5), entry("bob", 4)}), key).first, 200);
    ASSERT_EQ(post(upload("Neon", {entry("bob", 3)})).first, 200);

    std::string output;
    EXPECT_EQ(admin({"release-name", "ANN"}, database, output), 0);
    EXPECT_NE(output.find("Released the name ANN; its entries stay"), std::string::npos) << output;
    EXPECT_EQ(admin({"release-name", "ANN"}, database, output), 0);
    EXPECT_NE(output.find("Nobody owns the name ANN; nothing changed"), std::string::npos) << output;
    EXPECT_EQ(post(upload("Neon", {entry("ann", 21)})).first, 200); // free again
    EXPECT_EQ(post(upload("Neon", {entry("ann", 22)}), "new").first, 200);

    EXPECT_EQ(admin({"delete-entry", "Neon", "BOB"}, database, output), 0);
    EXPECT_NE(output.find("Deleted the entry of BOB on Neon"), std::string::npos) << output;
    EXPECT_EQ(scoreOf("Drift", "bob"), 4);
    EXPECT_EQ(admin({"delete-player", "Ann"}, database, output), 0);
    EXPECT_NE(output.find("Released the name Ann and deleted 2 score entries"), std::string::npos) << output;
    EXPECT_EQ(
        json::parse(get("/api/leaderboard").body)["levels"],
        json::parse(
            R"([{"name": "Drift", "total": 1, "scores": [{"player": "bob", "score": 4, "verified": false}]}])"));

    for (const std::vector<std::string>& usage : std::vector<std::vector<std::string>>{
             {"release-name"}, {"rename", "x"}, {"check", "x"}, {"check", "--force"}}) {
        EXPECT_EQ(admin(usage, database, output), 2) << usage[0];
    }
    if (GetParam() == Backend::Postgres) {
        EXPECT_EQ(admin({"backup", folder.file("copy.dump")}, database, output), 1);
        EXPECT_NE(output.find("pg_dump --format=custom --file='" + folder.file("copy.dump") + "' '" +
                              database + "'"),
                  std::string::npos)
            << output;
        EXPECT_FALSE(std::filesystem::exists(folder.file("copy.dump")));
        return;
    }
    const std::string copy = folder.file("copy.db");
    EXPECT_EQ(admin({"backup", copy}, database, output), 0) << output;
    EXPECT_EQ(admin({"backup", copy}, database, output), 1) << output; // never over a file
    EXPECT_EQ(admin({"check"}, copy, output), 0) << output;
    EXPECT_EQ(admin({"delete-player", "bob"}, copy, output), 0);
    EXPECT_NE(output.find("deleted 1 score entries"), std::string::npos) << output; // the copy held it
    EXPECT_EQ(admin({"check"}, folder.file("missing.db"), output), 1);
    EXPECT_FALSE(std::filesystem::exists(folder.file("missing.db")));
}

TEST(AdminCheck, FindsDamageInASqliteFile) {
    TempDir folder;
    const std::string database = folder.file("damaged.db");
    {
        ServerProcess server({"--database", database, "--rate-limit", "0"});
        std::vector<json> scores;
        for (int i = 0; i < 400; ++i) {
            scores.push_back(entry("player " + std::to_string(i), i));
        }
        ASSERT_EQ(request(server.port(), "POST", "/api/leaderboard", upload("Neon", scores).dump()).status,
                  200);
        ASSERT_EQ(server.stop(), 0);
    }
    std::string output;
    ASSERT_EQ(runCommand({VIBRELLE_SERVER_BINARY, "admin", "check", "--database", database}, output), 0)
        << output;
    {
        // Garbage over the middle of the file, past the schema's first page.
        std::fstream file(database, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(std::filesystem::file_size(database) / 2));
        const std::string garbage(4096, '\x5a');
        file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    }
    EXPECT_EQ(runCommand({VIBRELLE_SERVER_BINARY, "admin", "check", "--database", database}, output), 1)
        << output;
}

TEST(ServerOptionsSynchronous, FullIsTakenAndNamedAtStart) {
    TempDir folder;
    ServerProcess server({"--database", folder.file("full.db"), "--synchronous", "full"});
    EXPECT_NE(server.output().find("synchronous full"), std::string::npos) << server.output();
    std::string output;
    EXPECT_EQ(runCommand({VIBRELLE_SERVER_BINARY, "--synchronous", "off"}, output), 2) << output;
}

INSTANTIATE_TEST_SUITE_P(Sqlite, ServerData, testing::Values(Backend::Sqlite));
INSTANTIATE_TEST_SUITE_P(Postgres, ServerData, testing::Values(Backend::Postgres));
