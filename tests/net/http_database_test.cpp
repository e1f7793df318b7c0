// The three leaderboard operations against a loopback server, with the local file in a temporary
// folder: server answers, every kind of failure and its fall-back, and the shut-down gate.
#include "app/player_key_handover.hpp"
#include "leaderboard/leaderboard_cache.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "leaderboard/request_threads.hpp"
#include "leaderboard/round_save.hpp"
#include "net_test_support.hpp"
#include "prefs/player_keys.hpp"
#include "ui/leaderboard_screen.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <fstream>
#include <functional>
#include <set>
#include <tuple>

using namespace nettest;
using nlohmann::json;

namespace {

using Scores = std::multiset<std::int32_t>; // callbacks may run in any order

const json kLocal = json::parse(R"({"levels": [
    {"name": "Neon", "scores": [{"player": "ann", "score": 40, "time": 61, "highestLayer": "2/8",
                                 "highestCombo": 12}]}]})");

const json kServer = json::parse(R"({"levels": [
    {"name": "Neon", "scores": [{"player": "ann", "score": 70, "time": 90, "highestLayer": "5/8"}]},
    {"name": "Drift", "scores": [{"player": "cy", "score": 5, "time": 2, "highestCombo": 1}]}]})");

// The local file holds kLocal at the start; the client points at a closed port until serve().
class HttpDatabase : public testing::Test {
protected:
    void SetUp() override {
        gLeaderboardClient.leaderboardPath = localPath();
        gLeaderboardClient.cachePath = folder.file("leaderboard_cache.json");
        gLeaderboardClient.limits = HttpLimits{3, 6.0};
        gLeaderboardClient.serverBaseUrl = closed.url("/api");
        writeLocal(kLocal.dump(4));
    }
    void TearDown() override {
        released = true;
        server.stop();
        httpDatabaseShutdown(30.0); // no late callback may reach this fixture once it is gone
        httpDatabaseReset();
        gLeaderboardClient = savedConfig_;
    }

    // Starts the server with `handler` on every GET and POST under "/api" (by default one that
    // answers what reply() last set) and points the client at it.
    void serve(httplib::Server::Handler handler = nullptr) {
        handler = handler ? handler : [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex_);
            answer(status_, body_)(req, res);
        };
        server.on("GET", "/api/.*", handler);
        server.on("POST", "/api/.*", handler);
        server.start();
        gLeaderboardClient.serverBaseUrl = server.url("/api");
    }
    void reply(int status, const std::string& body) {
        std::lock_guard<std::mutex> lock(mutex_);
        status_ = status;
        body_ = body;
    }

    std::string localPath() const { return folder.file("leaderboard.json"); }
    void writeLocal(const std::string& text) { std::ofstream(localPath(), std::ios::binary) << text; }
    json onDisk() const {
        json document;
        std::string error;
        return readLeaderboardFile(localPath(), document, error) == LeaderboardRead::Ok ? document
                                                                                        : "unreadable";
    }

    // Callbacks that keep what they receive in `boards` and `scores`, from whichever thread.
    std::function<void(const json&)> toBoards() {
        return [this](const json& board) {
            std::lock_guard<std::mutex> lock(mutex_);
            boards.push_back(board);
        };
    }
    std::function<void(std::int32_t)> toScores() {
        return [this](std::int32_t score) {
            std::lock_guard<std::mutex> lock(mutex_);
            scores.insert(score);
        };
    }

    // Runs `start` and waits for the request threads; what they logged goes to `out` and `err`,
    // what they called back with to `boards` and `scores`.
    void runAndWait(const std::function<void()>& start) {
        boards.clear();
        scores.clear();
        bool finished = false;
        const Printed printed = printedBy([&] {
            start();
            finished = httpDatabaseWait(20.0);
        });
        out = printed.out;
        err = printed.err;
        EXPECT_TRUE(finished) << "request threads still running";
    }

    TempDir folder;
    ClosedPort closed;
    std::atomic<bool> released{false};
    TestServer server;
    std::string out;
    std::string err;
    std::vector<json> boards;
    Scores scores;

private:
    std::mutex mutex_;
    int status_ = 200;
    std::string body_;
    LeaderboardClientConfig savedConfig_ = gLeaderboardClient;
};

} // namespace

TEST_F(HttpDatabase, InitTakesTheUrlFromTheEnvironmentUnlessItIsEmpty) {
    std::string builtIn;
    for (const char* value : {static_cast<const char*>(nullptr), "https://scores.example/api", ""}) {
        value != nullptr ? setenv("VIBRELLE_LEADERBOARD_URL", value, 1)
                         : unsetenv("VIBRELLE_LEADERBOARD_URL");
        const std::string logged = printedBy(httpDatabaseInit).out;
        if (value == nullptr) {
            builtIn = gLeaderboardClient.serverBaseUrl;
            EXPECT_EQ(builtIn.rfind("http", 0), 0u) << builtIn;
        }
        EXPECT_EQ(gLeaderboardClient.serverBaseUrl, value != nullptr && *value != '\0' ? value : builtIn);
        EXPECT_EQ(logged,
                  "HTTP Database initialized (pointing to " + gLeaderboardClient.serverBaseUrl + ")\n");
    }
    unsetenv("VIBRELLE_LEADERBOARD_URL");
}

// Each level is asked for on its own; the board goes to the cache (checked, invalid entries
// dropped and counted), never into the player's own file, and the screen gets both merged: here
// the server holds the player's own name with a higher score.
TEST_F(HttpDatabase, TheBoardOfEachLevelGoesToTheCacheAndTheOwnFileIsOnlyRead) {
    std::mutex boardMutex;
    json neon =
        json::parse(R"([{"player": "ANN", "score": 70, "time": 90, "highestLayer": "5/8", "extra": "x"},
        {"player": "bo", "score": 50}, {"player": "", "score": 9}, {"player": "z\u200bw", "score": 9},
        {"player": "cy", "score": "9"}, {"player": "Ann", "score": 1}, {"player": "lay", "score": 1,
        "highestLayer": "12345678901234567"}])");
    serve([&](const httplib::Request& req, httplib::Response& res) {
        const std::string level = req.get_param_value("level");
        std::lock_guard<std::mutex> lock(boardMutex);
        const json entries = level == "Neon"    ? neon
                             : level == "Drift" ? kServer["levels"][1]["scores"]
                                                : json::array();
        res.set_content(
            json{{"levels", {{{"name", level}, {"total", entries.size()}, {"scores", entries}}}}}.dump(),
            "application/json");
    });
    const std::string before = readText(localPath());
    runAndWait([&] { fetchLeaderboardAsync({"Neon", "Drift", "Nowhere"}, toBoards()); });

    EXPECT_PRED2(contains, out,
                 "Loaded leaderboard from HTTP server (3 levels, 5 invalid entries dropped)\n");
    std::vector<std::string> targets;
    for (const SeenRequest& seen : server.seen()) {
        targets.push_back(seen.target);
    }
    EXPECT_EQ(targets, (std::vector<std::string>{"/api/leaderboard?level=Neon&limit=100",
                                                 "/api/leaderboard?level=Drift&limit=100",
                                                 "/api/leaderboard?level=Nowhere&limit=100"}));
    EXPECT_EQ(readText(localPath()), before) << "the player's own file is only read";
    const json cache = readLeaderboardCache(gLeaderboardClient.cachePath);
    EXPECT_EQ(cache["levels"][0], json::parse(R"({"name": "Neon", "scores": [
        {"player": "ANN", "score": 70, "time": 90, "highestLayer": "5/8"}, {"player": "bo", "score": 50}]})"));
    EXPECT_EQ(findPlayerScore(cache, "Drift", "cy"), 5);
    ASSERT_EQ(boards.size(), 1u);
    EXPECT_EQ(boards[0], mergeForDisplay(kLocal, cache));
    const std::vector<LeaderboardLevel> shown = parseLeaderboardForDisplay(boards[0]);
    ASSERT_EQ(shown.at(0).rows.size(), 2u) << "one row per player: the better one";
    EXPECT_EQ(shown[0].rows[0].player, "ANN");
    EXPECT_EQ(shown[0].rows[0].score, 70);

    // A later fetch replaces a level's entries in the cache and leaves the other levels alone.
    {
        std::lock_guard<std::mutex> lock(boardMutex);
        neon = json::parse(R"([{"player": "dee", "score": 3}])");
    }
    runAndWait([&] { fetchLeaderboardAsync({"Neon"}, toBoards()); });
    const json updated = readLeaderboardCache(gLeaderboardClient.cachePath);
    EXPECT_EQ(updated["levels"][0]["scores"], json::parse(R"([{"player": "dee", "score": 3}])"));
    EXPECT_EQ(findPlayerScore(updated, "Drift", "cy"), 5);
    EXPECT_EQ(readText(localPath()), before);
}

TEST_F(HttpDatabase, LeaderboardRepliesThatAreNotADocumentFallBackAndLeaveTheFileAlone) {
    const std::pair<int, std::string> cases[] = {
        {404, kServer.dump()},
        {200, ""},
        {200, R"({"levels": [)"},
        {200, "null"},
        {200, R"({"levels": {"name": "Neon"}})"},
        {200, R"({"scores": []})"},
        // Parses, but copying the new level into the file would recurse a million deep.
        {200, R"({"levels": [{"name": "Deep", "x": )" + std::string(1000000, '[') +
                  std::string(1000000, ']') + "}]}"},
    };
    serve();
    const std::string cached = R"({"levels":[{"name":"Neon","scores":[{"player":"web","score":1}]}]})";
    std::ofstream(gLeaderboardClient.cachePath) << cached;
    for (const auto& [status, body] : cases) {
        SCOPED_TRACE(body.substr(0, 80));
        reply(status, body);
        runAndWait([&] { fetchLeaderboardAsync(toBoards()); });
        EXPECT_EQ(boards, std::vector<json>{mergeForDisplay(kLocal, json::parse(cached))});
        EXPECT_EQ(readText(gLeaderboardClient.cachePath), cached);
        EXPECT_PRED2(contains, out,
                     "Falling back to local leaderboard file\nLoaded leaderboard from local file\n");
        EXPECT_FALSE(contains(out, "Loaded leaderboard from HTTP server"));
        if (status != 200) {
            EXPECT_PRED2(contains, err, "HTTP request failed with status: " + std::to_string(status) + "\n");
        }
        EXPECT_EQ(onDisk(), kLocal);
    }
}

// The configured limits reach every request: a reply longer than the cap counts as none.
TEST_F(HttpDatabase, RepliesLongerThanTheConfiguredCapFallBack) {
    gLeaderboardClient.limits.maxBodyBytes = 64;
    json accepted = kServer;
    accepted["score"] = 77;
    accepted["success"] = true;
    reply(200, accepted.dump());
    serve();
    runAndWait([&] {
        fetchLeaderboardAsync(toBoards());
        fetchPlayerScoreAsync("Neon", "ann", toScores());
        uploadLeaderboardAsync(kLocal);
    });
    EXPECT_EQ(boards, std::vector<json>{kLocal});
    EXPECT_EQ(scores, Scores{40});
    EXPECT_PRED2(contains, err, "HTTP request failed: reply longer than 64 bytes\n");
    EXPECT_PRED2(contains, err, "Failed to upload leaderboard to HTTP server, data saved locally only\n");
}

// With the server down each operation falls back to the local file; a missing or corrupt file
// answers null or 0 and is left as it was.
TEST_F(HttpDatabase, ServerDownFallsBackToTheLocalFileOrToNothing) {
    runAndWait([&] {
        fetchLeaderboardAsync(toBoards());
        fetchPlayerScoreAsync("Neon", "ann", toScores());
        fetchPlayerScoreAsync("Neon", "zed", toScores());
    });
    EXPECT_EQ(boards, std::vector<json>{kLocal});
    EXPECT_EQ(scores, (Scores{0, 40}));
    EXPECT_PRED2(contains, err,
                 "HTTP request failed: " + httplib::to_string(httplib::Error::Connection) + "\n");
    EXPECT_PRED2(contains, out, "Loaded leaderboard from local file\n");
    EXPECT_PRED2(contains, out, "Falling back to local file for player score: ann on Neon\n");
    EXPECT_PRED2(contains, out, "Found local player score: ann on Neon = 40\n");
    EXPECT_PRED2(contains, out, "Found local player score: zed on Neon = 0\n");

    for (const std::string file : {"", "{ not json"}) {
        SCOPED_TRACE(file);
        std::filesystem::remove(localPath());
        if (!file.empty()) {
            writeLocal(file);
        }
        runAndWait([&] {
            fetchLeaderboardAsync(toBoards());
            fetchPlayerScoreAsync("Neon", "ann", toScores());
        });
        EXPECT_EQ(boards, std::vector<json>{nullptr});
        EXPECT_EQ(scores, Scores{0});
        // Two threads log at once here, so their lines may interleave.
        EXPECT_PRED2(contains, out, "Falling back to local leaderboard file\n");
        EXPECT_PRED2(contains, out, "No local leaderboard found, returning empty\n");
        EXPECT_FALSE(contains(out, "Found local player score"));
        EXPECT_EQ(std::filesystem::exists(localPath()), !file.empty());
    }

    runAndWait([&] { uploadLeaderboardAsync(kLocal); });
    EXPECT_PRED2(contains, err, "Failed to upload leaderboard to HTTP server, data saved locally only\n");
    EXPECT_FALSE(contains(out, "Successfully uploaded"));
}

TEST_F(HttpDatabase, PlayerScoreTakesOnlyANumericServerScoreElseTheLocalOne) {
    const std::tuple<int, std::string, std::int32_t> cases[] = {
        {200, R"({"score": 1234})", 1234},
        {200, R"({"score": -7})", -7},
        {200, R"({"score": 12.9})", 12},
        {200, R"({"score": 1e12})", 2147483647},
        {200, R"({"score": -3000000000})", -2147483647 - 1},
        {200, R"({"score": true})", 40}, // 40: from the local file
        {200, R"({"score": "77"})", 40},
        {200, R"({"points": 77})", 40},
        {200, R"([{"score": 77}])", 40},
        {200, "not json", 40},
        {404, R"({"score": 77})", 40}};
    serve();
    for (const auto& [status, body, expected] : cases) {
        SCOPED_TRACE(body);
        reply(status, body);
        runAndWait([&] { fetchPlayerScoreAsync("Neon", "ann", toScores()); });
        EXPECT_EQ(scores, Scores{expected});
        const bool fromServer = expected != 40;
        EXPECT_PRED2(contains, out,
                     fromServer
                         ? "Loaded player score from server: ann on Neon = " + std::to_string(expected) + "\n"
                         : "Falling back to local file for player score: ann on Neon\n"
                           "Found local player score: ann on Neon = 40\n");
        EXPECT_EQ(contains(out, "Falling back"), !fromServer);
    }
}

TEST_F(HttpDatabase, NamesReachTheServerPercentEncodedAndEmptyOnesNever) {
    reply(200, R"({"score": 4321})");
    serve();
    runAndWait([&] {
        fetchPlayerScoreAsync("Deep / Space 100%?#&+", "Zo\xC3\xAB \xE6\x97\xA5 a%2Fb \xFF", toScores());
        // Empty names answer 0 at once, from neither the server nor the file.
        fetchPlayerScoreAsync("", "ann", toScores());
        fetchPlayerScoreAsync("Neon", "", toScores());
    });
    EXPECT_EQ(scores, (Scores{0, 0, 4321}));
    EXPECT_FALSE(contains(out, "Falling back"));
    ASSERT_EQ(server.seen().size(), 1u);
    EXPECT_EQ(server.seen()[0].target,
              "/api/player/Deep%20%2F%20Space%20100%25%3F%23%26%2B/Zo%C3%AB%20%E6%97%A5%20a%252Fb%20%FF");
}

// The upload is the compact document (bad UTF-8 replaced) posted as JSON; only a boolean true
// "success" confirms it, and an error status fails it.
TEST_F(HttpDatabase, UploadPostsTheCompactDocumentAndIsConfirmedOnlyByABooleanTrueSuccess) {
    enum Outcome { Confirmed, Rejected, Failed };
    const std::tuple<int, std::string, Outcome> cases[] = {
        {200, R"({"success": true})", Confirmed},  {201, R"({"success": true, "rank": 3})", Confirmed},
        {200, R"({"success": false})", Rejected},  {200, R"({"success": "true"})", Rejected},
        {200, R"({"success": 1})", Rejected},      {200, R"({})", Rejected},
        {200, R"([{"success": true}])", Rejected}, {200, "not json", Rejected},
        {503, R"({"success": true})", Failed}};
    serve();
    json document = kLocal;
    document["levels"][0]["scores"][0]["note"] = "bad \xFF byte";
    for (const auto& [status, body, outcome] : cases) {
        SCOPED_TRACE(body);
        reply(status, body);
        runAndWait([&] { uploadLeaderboardAsync(document); });
        EXPECT_EQ(contains(out, "Successfully uploaded leaderboard to HTTP server\n"), outcome != Failed);
        EXPECT_EQ(contains(out, "Server confirmed leaderboard upload\n"), outcome == Confirmed);
        EXPECT_EQ(contains(err, "Server rejected leaderboard upload\n"), outcome == Rejected);
        EXPECT_EQ(contains(err, "Failed to upload leaderboard to HTTP server, data saved locally only\n"),
                  outcome == Failed);
    }
    const SeenRequest seen = server.seen().at(0);
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.target, "/api/leaderboard");
    EXPECT_EQ(seen.contentTypes, std::vector<std::string>{"application/json"});
    EXPECT_EQ(seen.body, serializeLeaderboard(document, -1));
    EXPECT_EQ(seen.body.find('\n'), std::string::npos);
    EXPECT_EQ(seen.body.find(": "), std::string::npos);
    EXPECT_EQ(json::parse(seen.body, nullptr, false)["levels"][0]["scores"][0]["score"], 40);
}

// A result on a level the player made goes up only when the server has that level's hash; without
// a hash it stays on this computer and nothing is asked.
TEST_F(HttpDatabase, AnOwnLevelsResultGoesUpOnlyWhenTheServerHasTheLevel) {
    const std::string hash(64, 'c');
    serve([](const httplib::Request& req, httplib::Response& res) {
        const bool known = req.path == "/api/level/" + std::string(64, 'c');
        const bool ask = req.path.rfind("/api/level/", 0) == 0;
        res.status = ask && !known ? 404 : 200;
        res.set_content(ask ? "{}" : R"({"success": true})", "application/json");
    });
    const RoundResult result{"Mine", "ann", 50, 10, 2, 4, 7};
    const std::tuple<std::string, std::vector<std::string>, bool> cases[] = {
        {hash, {"/api/level/" + hash, "/api/leaderboard"}, true},
        {std::string(64, 'd'), {"/api/level/" + std::string(64, 'd')}, false},
        {"", {}, false},
    };
    for (const auto& [levelHash, targets, uploaded] : cases) {
        SCOPED_TRACE(levelHash);
        const std::size_t before = server.seen().size();
        runAndWait([&] { saveRoundResult(result, localPath(), "", "", "", true, levelHash); });
        std::vector<std::string> seen;
        for (const SeenRequest& request : server.seen()) {
            seen.push_back(request.target);
        }
        seen.erase(seen.begin(), seen.begin() + static_cast<std::ptrdiff_t>(before));
        EXPECT_EQ(seen, targets);
        EXPECT_EQ(contains(out, "Keeping the result on Mine on this computer"), !uploaded) << out;
    }
    EXPECT_EQ(findPlayerScore(onDisk(), "Mine", "ann"), 50);
}

// Overlapping requests, half against nothing at all, each call back once; a callback that throws
// does not end the program.
TEST_F(HttpDatabase, EveryCallbackRunsOnceWhenRequestsOverlapAndAThrowingOneIsContained) {
    const std::string down = gLeaderboardClient.serverBaseUrl;
    reply(200, kServer.dump());
    serve();
    const std::string working = gLeaderboardClient.serverBaseUrl;
    runAndWait([&] {
        fetchLeaderboardAsync([](const json&) { throw std::runtime_error("callback failed"); });
        fetchPlayerScoreAsync("Neon", "ann", [](std::int32_t) { throw 42; });
        for (int i = 0; i < 6; ++i) {
            gLeaderboardClient.serverBaseUrl = i % 2 == 0 ? working : down;
            fetchLeaderboardAsync(toBoards());
            fetchPlayerScoreAsync("Neon", "ann", toScores());
            uploadLeaderboardAsync(kLocal);
        }
    });
    EXPECT_EQ(boards.size(), 6u);
    EXPECT_EQ(scores.size(), 6u);
    EXPECT_PRED2(contains, err, "callback failed");
}

// After the shut-down no callback runs, whether its request was under way or started later;
// the shut-down waits only as long as it was given, and a reset opens the gate again.
TEST_F(HttpDatabase, ShutdownClosesTheCallbackGateUntilReset) {
    const auto idleStart = Clock::now();
    httpDatabaseShutdown(5.0);
    EXPECT_LT(secondsSince(idleStart), 1.0);
    runAndWait([&] { fetchPlayerScoreAsync("Neon", "ann", toScores()); });
    EXPECT_TRUE(scores.empty());
    httpDatabaseReset();

    serve([this](const httplib::Request&, httplib::Response& res) {
        holdUntil(released);
        res.set_content(R"({"score": 77})", "application/json");
    });
    double shutdownSeconds = 0.0;
    bool waitedInVain = false;
    runAndWait([&] {
        fetchPlayerScoreAsync("Neon", "ann", toScores());
        waitedInVain = !httpDatabaseWait(0.05);
        const auto start = Clock::now();
        httpDatabaseShutdown(0.3);
        shutdownSeconds = secondsSince(start);
        released = true; // the abandoned request ends; runAndWait then waits for its thread
    });
    EXPECT_TRUE(waitedInVain);
    EXPECT_GE(shutdownSeconds, 0.25);
    EXPECT_LT(shutdownSeconds, 1.5);
    // The thread got its answer after the shut-down and dropped it.
    EXPECT_PRED2(contains, out, "Loaded player score from server: ann on Neon = 77\n");
    EXPECT_TRUE(scores.empty());

    httpDatabaseReset();
    runAndWait([&] { fetchPlayerScoreAsync("Neon", "ann", toScores()); });
    EXPECT_EQ(scores, Scores{77});
}

// The first upload under a name asks for a key; the key comes back on the request thread, is used
// by the next upload at once, and reaches prefs.json only through the main thread's hand-over.
TEST_F(HttpDatabase, AClaimedKeyIsHandedOverStoredAndSentWithTheNextUpload) {
    const std::string key = "k3y-k3y_k3y-k3y_k3y-kQ";
    std::mutex keysMutex;
    std::vector<std::string> sent;
    serve([&](const httplib::Request& req, httplib::Response& res) {
        const std::string header = req.get_header_value("X-Vibrelle-Player-Key");
        std::lock_guard<std::mutex> lock(keysMutex);
        sent.push_back(header);
        json body = {{"success", true}, {"accepted", 1}, {"skipped", 0}, {"errors", json::array()}};
        if (header == "new") {
            body["playerKey"] = key;
            body["player"] = "ann";
        }
        res.set_content(body.dump(), "application/json");
    });
    const std::string prefsPath = folder.file("prefs.json");
    std::ofstream(prefsPath) << R"({"playerName": "ann", "musicVolume": 0.5})";
    runAndWait([&] { uploadLeaderboardAsync(kLocal, "ann"); });
    EXPECT_PRED2(contains, out, "Received a player key for 'ann' from the leaderboard server\n");
    EXPECT_EQ(loadPlayerKey(prefsPath, gLeaderboardClient.serverBaseUrl, "ann"), "")
        << "no network thread writes prefs.json";
    runAndWait([&] { uploadLeaderboardAsync(kLocal, "ann"); });

    const Printed stored = printedBy([&] { EXPECT_EQ(storeReceivedPlayerKeys(prefsPath), 1); });
    EXPECT_PRED2(contains, stored.out, "Player key for 'ann' saved to " + prefsPath + "\n");
    EXPECT_EQ(storeReceivedPlayerKeys(prefsPath), 0) << "each key is handed over once";
    EXPECT_EQ(loadPlayerKey(prefsPath, gLeaderboardClient.serverBaseUrl, "ANN"), key)
        << "names compare folded";
    EXPECT_EQ(json::parse(readText(prefsPath))["musicVolume"], 0.5) << "other settings survive";
    runAndWait([&] {
        uploadLeaderboardAsync(kLocal, "ann",
                               loadPlayerKey(prefsPath, gLeaderboardClient.serverBaseUrl, "ann"));
    });
    std::lock_guard<std::mutex> lock(keysMutex);
    EXPECT_EQ(sent, (std::vector<std::string>{"new", key, key}));
}

// A 403 for the name is logged and shown on the leaderboard screen until an upload is confirmed;
// a key in a reply nobody asked for, or a malformed one, is never kept.
TEST_F(HttpDatabase, AnUploadRefusedForTheNameSaysSoInTheLogAndOnTheScreen) {
    const std::string message =
        "Leaderboard name 'ann' is owned by another player on this server; choose another name in Settings";
    reply(403, R"({"success": false, "error": "the name is owned by another player", "errors": [
        {"level": "Neon", "player": "ann", "error": "the name is owned by another player"}]})");
    serve();
    runAndWait([&] { uploadLeaderboardAsync(kLocal, "ann", "k3y-k3y_k3y-k3y_k3y-kQ"); });
    EXPECT_PRED2(contains, err, message + "\n");
    EXPECT_FALSE(contains(err, "data saved locally only"));
    EXPECT_EQ(leaderboardScreenNotice(), message);

    for (const char* body : {R"({"success": true, "playerKey": "k3y-k3y_k3y-k3y_k3y-kQ"})",
                             R"({"success": true, "playerKey": "short"})"}) {
        reply(200, body);
        runAndWait([&] {
            uploadLeaderboardAsync(kLocal, "ann", contains(body, "short") ? "" : "heldkeyheldkeyheldkey0");
        });
        EXPECT_FALSE(contains(out, "Received a player key")) << body;
    }
    EXPECT_EQ(leaderboardScreenNotice(), "") << "a confirmed upload clears the message";
    EXPECT_TRUE(takeReceivedPlayerKeys().empty());
}
