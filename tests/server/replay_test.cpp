// Replays in uploads on both databases: the game's round going up with its replay, each refusal,
// the replay kept beside the best entry, --verified-only, and a table made before replays.
#include "leaderboard/leaderboard_client.hpp"
#include "leaderboard/round_save.hpp"
#include "replay/replay_store.hpp"
#include "replay/replay_test_support.hpp"
#include "replay/replay_upload.hpp"
#include "replay_entry.hpp"
#include "server/replay_intake.hpp"
#include "server/score_entries.hpp"
#include "server_fixture.hpp"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <chrono>

using namespace servertest;
using nlohmann::json;

namespace {

// Runs `sql` on a SQLite file or a PostgreSQL URL; the first column of its first row ("" for none).
std::string runSql(const std::string& database, const std::string& sql) {
    std::string value;
    if (database.rfind("postgresql://", 0) == 0) {
        PGconn* connection = PQconnectdb(database.c_str());
        PGresult* result = PQexec(connection, sql.c_str());
        value = PQntuples(result) > 0 ? PQgetvalue(result, 0, 0) : "";
        PQclear(result);
        PQfinish(connection);
        return value;
    }
    sqlite3* db = nullptr;
    sqlite3_open(database.c_str(), &db);
    sqlite3_exec(
        db, sql.c_str(),
        [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) = values[0] != nullptr ? values[0] : "";
            return 0;
        },
        &value, nullptr);
    sqlite3_close(db);
    return value;
}

// "<bytes of the replay kept> <verified 0 or 1>" of a folded player name's entry.
std::string keptReplay(const std::string& database, const std::string& player) {
    return runSql(database,
                  "SELECT coalesce(length(replay), 0) || ' ' || CASE WHEN verified THEN 1 ELSE 0 END"
                  " FROM leaderboard_entries WHERE player_key = '" +
                      player + "'");
}

// keptReplay of an unverified entry holding `replay`.
std::string keptAs(const Replay& replay) {
    std::string compressed, error;
    EXPECT_TRUE(deflateBytes(fileBytes(replay), compressed, error));
    return std::to_string(compressed.size()) + " 0";
}

// A round of 16 circles, `taps` of them hit, that ended a minute ago.
Replay played(int taps = 16, RoundResult* result = nullptr, const std::string& player = "") {
    GameState game;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const Replay replay = playedReplay(
        game, "Neon", std::chrono::duration_cast<std::chrono::milliseconds>(now).count() - 60000, taps);
    game.playerName = player;
    if (result != nullptr) {
        *result = roundResultOf(game);
    }
    return replay;
}

class ServerReplays : public ServerCase {
protected:
    json post(const json& document) {
        return json::parse(request(server->port(), "POST", "/api/leaderboard", document.dump()).body, nullptr,
                           false);
    }
};

} // namespace

TEST_P(ServerReplays, OnlyReplaysThatStandBehindTheirEntriesAreTakenAndTheBestOneIsKept) {
    const std::string database = newDatabase();
    start({}, database);
    const Replay genuine = played();
    ASSERT_GT(genuine.result.score, 0);
    const auto edited = [&](void (*edit)(Replay&)) {
        Replay replay = genuine;
        edit(replay);
        return entryOf("ann", replay);
    };
    json higher = entryOf("ann", genuine), bomb = higher, garbage = higher;
    higher["score"] = genuine.result.score + 1;
    bomb["replay"] = encodeBase64(inflationBomb(1024)); // 1 GB of zeros in 1 MB
    garbage["replay"] = "not base64!";
    const std::pair<json, const char*> refused[] = {
        {upload("Neon", {higher}), "the replay's score"},
        {upload("Drift", {entryOf("ann", genuine)}), "the replay is of another level"},
        {upload("Neon", {edited([](Replay& r) { r.bot = true; })}), "autoplay bot"},
        {upload("Neon", {edited([](Replay& r) { r.practiceSpeedPercent = 75; })}), "practice round"},
        {upload("Neon", {edited([](Replay& r) { r.endedAtMs = r.startedAtMs + 1000; })}),
         "ms of wall-clock time"},
        {upload("Neon", {bomb}), "the replay inflates past 8388608 bytes"},
        {upload("Neon", {garbage}), "the replay is not base64"},
    };
    for (const auto& [document, reason] : refused) {
        const json reply = post(document);
        EXPECT_EQ(std::make_tuple(reply["accepted"], reply["skipped"], reply["verified"]),
                  std::make_tuple(json(0), json(1), json(0)))
            << reply;
        EXPECT_NE(reply["errors"][0].value("error", "").find(reason), std::string::npos) << reply;
    }
    EXPECT_EQ(scoreOf("Neon", "ann") + scoreOf("Drift", "ann"), 0);
    const std::string tooMany = upload("Neon", std::vector<json>(kMaxUploadReplays + 1, garbage)).dump();
    EXPECT_EQ(request(server->port(), "POST", "/api/leaderboard", tooMany).status, 413);

    // Stored unverified with its replay beside it, which the board never shows; a lower entry leaves
    // it, a better one (here without a replay, as an older game uploads) replaces both.
    const json reply = post(upload("Neon", {entryOf("ann", genuine)}));
    EXPECT_EQ(std::make_tuple(reply["accepted"], reply["verified"]), std::make_tuple(json(1), json(0)))
        << reply;
    EXPECT_EQ(keptReplay(database, "ann"), keptAs(genuine));
    EXPECT_FALSE(json::parse(get("/api/leaderboard").body)["levels"][0]["scores"][0].contains("replay"));
    EXPECT_EQ(post(upload("Neon", {entry("ann", 1)}))["accepted"], 1);
    EXPECT_EQ(keptReplay(database, "ann"), keptAs(genuine));
    EXPECT_EQ(post(upload("Neon", {entry("ANN", genuine.result.score + 5)}))["accepted"], 1);
    EXPECT_EQ(keptReplay(database, "ann"), "0 0");
    EXPECT_EQ(scoreOf("Neon", "ann"), genuine.result.score + 5);
}

// The game counts at most 8 layers however many stems a level has, and its entry says so; the
// replay keeps the level's own count.
TEST(ServerUnits, AnEntryCountsAtMostEightLayersAsTheGameDoes) {
    Replay replay = played();
    StoredEntry stored;
    stored.level = "Neon";
    stored.score = replay.result.score;
    stored.entry = {{"highestCombo", replay.result.highestCombo}, {"highestLayer", "1/8"}};
    std::string why;
    for (const auto& [layers, text, stands] :
         {std::make_tuple(10, "1/8", true), std::make_tuple(10, "1/10", false),
          std::make_tuple(8, "1/8", true), std::make_tuple(3, "1/8", false)}) {
        replay.result.totalLayers = layers;
        stored.entry["highestLayer"] = text;
        EXPECT_EQ(replayMatchesEntry(replay, stored, why), stands) << layers << " " << text << ": " << why;
    }
}

TEST_P(ServerReplays, VerifiedOnlyRefusesEveryUnverifiedEntry) {
    start({"--verified-only"});
    const json reply = post(upload("Neon", {entryOf("ann", played()), entry("bob", 5)}));
    EXPECT_EQ(std::make_tuple(reply["accepted"], reply["skipped"]), std::make_tuple(json(0), json(2)))
        << reply;
    EXPECT_NE(reply["errors"][1].value("error", "").find("only verified rounds"), std::string::npos) << reply;
    EXPECT_EQ(scoreOf("Neon", "ann") + scoreOf("Neon", "bob"), 0);
}

// Tables made before replays and before the suspect mark gain the columns, keep their rows, and
// rank by the flag.
TEST_P(ServerReplays, TablesMadeBeforeReplaysOrTheSuspectMarkGainTheirColumns) {
    const bool sqlite = GetParam() == Backend::Sqlite;
    const std::string text = sqlite ? " TEXT" : " TEXT COLLATE \"C\"";
    const Replay genuine = played();
    for (const bool withReplays : {false, true}) {
        const std::string database = newDatabase();
        runSql(
            database,
            "CREATE TABLE leaderboard_entries (id " + std::string(sqlite ? "INTEGER" : "BIGSERIAL") +
                " PRIMARY KEY, level" + text + " NOT NULL, player" + text + " NOT NULL, player_key" + text +
                " NOT NULL, score INTEGER NOT NULL, stored_at BIGINT NOT NULL, entry TEXT NOT NULL," +
                (!withReplays ? ""
                 : sqlite     ? " verified INTEGER NOT NULL DEFAULT 0, replay BLOB,"
                              : " verified BOOLEAN NOT NULL DEFAULT false, replay BYTEA,") +
                " UNIQUE (level, player_key));"
                "CREATE INDEX leaderboard_entries_rank ON leaderboard_entries (level, score DESC, stored_at, "
                "id);"
                "CREATE TABLE player_owners (name_key" +
                text +
                " PRIMARY KEY, key_hash TEXT NOT NULL, claimed_at BIGINT NOT NULL);"
                "INSERT INTO leaderboard_entries (level, player, player_key, score, stored_at, entry) VALUES"
                " ('Neon', 'Bob', 'bob', 7, 1, '{\"player\":\"Bob\",\"score\":7}');" +
                (!withReplays ? ""
                 : sqlite     ? "UPDATE leaderboard_entries SET verified = 1, replay = x'0102'"
                              : "UPDATE leaderboard_entries SET verified = true, replay = '\\x0102'"));
        start({}, database);
        EXPECT_EQ(server->output().find("Copied 1 score entries to a table with the suspect mark") !=
                      std::string::npos,
                  sqlite)
            << server->output();
        EXPECT_EQ(scoreOf("Neon", "bob"), 7);
        EXPECT_EQ(keptReplay(database, "bob"), withReplays ? "2 1" : "0 0");
        EXPECT_EQ(post(upload("Neon", {entryOf("ann", genuine)}))["accepted"], 1);
        EXPECT_EQ(keptReplay(database, "ann"), keptAs(genuine));
        // The verified entry ranks above the higher unverified one.
        const json scores = json::parse(get("/api/leaderboard?level=Neon").body)["levels"][0]["scores"];
        EXPECT_EQ(scores[0]["player"], withReplays ? "Bob" : "ann") << scores;
    }
}

// The game uploads a round with its replay; a better round whose upload was lost goes up, with its
// own replay, the next time its level is played.
TEST_P(ServerReplays, TheGamesRoundGoesUpWithItsReplayAndALostBetterOneFollows) {
    const std::string database = newDatabase();
    start({}, database);
    const LeaderboardClientConfig savedConfig = gLeaderboardClient;
    gLeaderboardClient.serverBaseUrl = "http://127.0.0.1:" + std::to_string(server->port()) + "/api";
    const std::string path = folder.file("leaderboard.json"), data = folder.file("data");
    RoundResult bob, lost, worse;
    const Replay bobs = played(16, &bob, "Bob"), best = played(16, &lost, "Ann"),
                 lesser = played(6, &worse, "Ann");
    saveRoundResult(bob, path, "", fileBytes(bobs), data);
    json saved;
    std::string kept, error;
    ASSERT_TRUE(saveRoundResultTo(path, lost, saved) && saveReplay(data, best, kept, error)) << error;
    saveRoundResult(worse, path, "", fileBytes(lesser), data);
    ASSERT_TRUE(httpDatabaseWait(30.0));
    gLeaderboardClient = savedConfig;
    EXPECT_EQ(std::make_tuple(scoreOf("Neon", "bob"), keptReplay(database, "bob")),
              std::make_tuple(bob.score, keptAs(bobs)));
    EXPECT_EQ(std::make_tuple(scoreOf("Neon", "ann"), keptReplay(database, "ann")),
              std::make_tuple(lost.score, keptAs(best)));
    EXPECT_LT(worse.score, lost.score);
}

INSTANTIATE_TEST_SUITE_P(Sqlite, ServerReplays, testing::Values(Backend::Sqlite));
INSTANTIATE_TEST_SUITE_P(Postgres, ServerReplays, testing::Values(Backend::Postgres));
