// Verified entries on both databases: the merge rule and rank order of the flags in the store, the
// admin commands for suspect entries, and the board's "verified", the replay download and the web
// page's marks over HTTP, with the entries stored straight through the store.
#include "leaderboard/leaderboard_names.hpp"
#include "replay/replay_upload.hpp"
#include "server/leaderboard_store.hpp"
#include "server_fixture.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <tuple>

using namespace servertest;
using nlohmann::json;

namespace {

// Unverified, suspect (verified, too even) and ranked verified.
enum Flags { U, S, R };

StoredEntry entryWith(const std::string& level, const std::string& player, int score, Flags flags,
                      const std::string& replay = "") {
    StoredEntry stored;
    stored.level = level;
    stored.player = player;
    stored.playerKey = foldPlayerName(player);
    stored.score = score;
    stored.entry = {{"player", player}, {"score", score}};
    stored.replay = replay;
    stored.verified = flags != U;
    stored.suspect = flags == S;
    return stored;
}

void merge(LeaderboardStore& store, std::vector<StoredEntry> entries) {
    MergeRequest request;
    request.entries = std::move(entries);
    MergeResult result;
    std::string error;
    ASSERT_TRUE(store.mergeUpload(request, result, error)) << error;
}

using ServerVerified = ServerCase;

} // namespace

TEST_P(ServerVerified, RankedVerifiedEntriesWinTheMergeAndRankFirst) {
    const std::string database = newDatabase();
    std::string error, output;
    std::unique_ptr<LeaderboardStore> store = openLeaderboardStore(database, error);
    ASSERT_TRUE(store) << error;
    // Each player's stored entry, the one merged over it, and whether it replaced the stored one.
    const std::tuple<int, Flags, int, Flags, bool> cases[] = {
        {100, U, 50, R, true},   {110, S, 60, R, true},  {120, R, 200, U, false},
        {130, R, 210, S, false}, {140, R, 150, R, true}, {160, R, 160, R, false},
        {170, U, 90, U, false},  {180, U, 190, S, true}, {220, S, 95, U, false},
    };
    std::vector<StoredEntry> before = {entryWith("Drift", "zed", 5, S, "z")}, after;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& [oldScore, oldFlags, newScore, newFlags, replaced] = cases[i];
        const std::string player = "p" + std::to_string(i);
        before.push_back(entryWith("Neon", player, oldScore, oldFlags, "old " + player));
        after.push_back(entryWith("Neon", player, newScore, newFlags, "new " + player));
    }
    merge(*store, before);
    merge(*store, after);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& [oldScore, oldFlags, newScore, newFlags, replaced] = cases[i];
        const std::string player = "p" + std::to_string(i);
        bool found = false;
        StoredEntry stored;
        ASSERT_TRUE(store->loadReplay("Neon", player, found, stored, error)) << error;
        const Flags flags = replaced ? newFlags : oldFlags;
        // The replay goes with its entry, and is given out only for a verified one.
        const std::string replay = flags == U ? "" : (replaced ? "new " : "old ") + player;
        EXPECT_EQ(std::make_tuple(found, stored.score, stored.verified, stored.suspect, stored.replay),
                  std::make_tuple(true, replaced ? newScore : oldScore, flags != U, flags == S, replay))
            << player;
    }
    LevelPage page;
    ASSERT_TRUE(store->loadLevelPage("Neon", 0, 100, page, error)) << error;
    std::vector<std::string> order;
    for (const StoredEntry& stored : page.entries) {
        order.push_back(stored.player);
    }
    EXPECT_EQ(page.total, 9);
    EXPECT_EQ(order, (std::vector<std::string>{"p5", "p4", "p3", "p2", "p1", "p0", "p8", "p7", "p6"}));

    // The admin commands, on the database the server would serve.
    EXPECT_EQ(admin({"list-suspect"}, database, output), 0) << output;
    EXPECT_EQ(output, "Drift\tzed\t5\nNeon\tp8\t220\nNeon\tp7\t190\n");
    EXPECT_EQ(admin({"clear-suspect", "Neon", "P7"}, database, output), 0) << output;
    EXPECT_EQ(admin({"clear-suspect", "Neon", "P7"}, database, output), 1) << output;
    EXPECT_EQ(admin({"clear-suspect", "Neon", "p6"}, database, output), 1) << output; // unverified
    EXPECT_EQ(admin({"list-suspect"}, database, output), 0) << output;
    EXPECT_EQ(output, "Drift\tzed\t5\nNeon\tp8\t220\n");
}

TEST_P(ServerVerified, TheBoardTheReplayRouteAndThePageShowOnlyWhatTheServerVerified) {
    const std::string database = newDatabase();
    const std::string file = "VBR1 a replay file\n\x01\x02";
    std::string stream, error;
    ASSERT_TRUE(deflateBytes(file, stream, error)) << error;
    {
        std::unique_ptr<LeaderboardStore> store = openLeaderboardStore(database, error);
        ASSERT_TRUE(store) << error;
        StoredEntry claims = entryWith("Rock & Roll", "Old", 900, U, stream);
        claims.entry["verified"] = true; // kept by a server from before the flag was the server's
        merge(*store, {entryWith("Rock & Roll", "Zoë", 10, R, stream),
                       entryWith("Rock & Roll", "Sus", 800, S, stream), claims,
                       entryWith("Rock & Roll", "Bare", 5, R)});
    }
    start({}, database);
    const json scores =
        json::parse(get("/api/leaderboard?level=Rock%20%26%20Roll").body)["levels"][0]["scores"];
    json flags = json::array();
    for (const json& score : scores) {
        flags.push_back({score["player"], score["verified"], score.contains("suspect")});
    }
    EXPECT_EQ(flags, json::parse(R"([["Zoë", true, false], ["Bare", true, false], ["Old", false, false],
                                     ["Sus", false, false]])"));

    // Uploaded flags are dropped, and the entry stored unverified.
    const json reply = json::parse(
        request(server->port(), "POST", "/api/leaderboard",
                upload("Neon", {{{"player", "Cheat"}, {"score", 1}, {"verified", true}, {"suspect", false}}})
                    .dump())
            .body);
    EXPECT_EQ(std::make_tuple(reply["accepted"], reply["droppedKeys"]), std::make_tuple(json(1), json(2)));
    EXPECT_EQ(json::parse(get("/api/leaderboard?level=Neon").body)["levels"][0]["scores"][0],
              json({{"player", "Cheat"}, {"score", 1}, {"verified", false}}));

    httplib::Client client("127.0.0.1", server->port());
    client.set_url_encode(false);
    const auto download = client.Get("/api/replay?level=Rock%20%26%20Roll&player=ZO%C3%8B");
    ASSERT_TRUE(download);
    EXPECT_EQ(std::make_tuple(download->status, download->body, download->get_header_value("Content-Type"),
                              download->get_header_value("Content-Disposition"),
                              download->get_header_value("Cache-Control")),
              std::make_tuple(200, file, "application/octet-stream",
                              "attachment; filename=\"Rock_Roll-Zo_.vbr\"", "no-store"));
    const std::pair<std::string, int> refused[] = {
        {"level=Rock%20%26%20Roll&player=Sus", 200},  // suspect: for admins to look at
        {"level=Rock%20%26%20Roll&player=Old", 404},  // unverified, with a replay
        {"level=Rock%20%26%20Roll&player=Bare", 404}, // verified, without one
        {"level=Neon&player=Zo%C3%AB", 404},
        {"level=Rock%20%26%20Roll", 400},
        {"level=Neon&player=a%01b", 400},
        {"level=Neon&player=a&player=b", 400},
    };
    for (const auto& [query, status] : refused) {
        const Reply answer = get("/api/replay?" + query);
        EXPECT_EQ(answer.status, status) << query << ": " << answer.body;
        if (status == 404) {
            EXPECT_EQ(json::parse(answer.body, nullptr, false),
                      json({{"success", false}, {"error", "no verified replay for that entry"}}));
        }
    }
    EXPECT_EQ(request(server->port(), "POST", "/api/replay?level=Neon&player=a").status, 405);

    // The page marks the ranked-verified rows and links their replays, and no other row.
    const std::string page = get("/").body;
    const std::string mark = "<span class=\"verified\" title=\"verified\">\u2713</span>";
    const std::string shown[] = {
        "<td>Zoë " + mark, "<td>Bare " + mark, "<td>Sus</td>", "<td>Old</td>",
        "<a href=\"/api/replay?level=Rock%20%26%20Roll&amp;player=Zo%C3%AB\" download>Download</a>"};
    for (const std::string& piece : shown) {
        EXPECT_NE(page.find(piece), std::string::npos) << piece << "\n" << page;
    }
    EXPECT_EQ(page.find("player=Sus"), std::string::npos) << page;
    EXPECT_EQ(page.find("player=Old"), std::string::npos) << page;
}

INSTANTIATE_TEST_SUITE_P(Sqlite, ServerVerified, testing::Values(Backend::Sqlite));
INSTANTIATE_TEST_SUITE_P(Postgres, ServerVerified, testing::Values(Backend::Postgres));
