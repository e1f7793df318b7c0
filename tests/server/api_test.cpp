// The server's API on both databases: the endpoints, the merge rules, every kind of refusal, and
// the game's own client code against the running server.
#include "leaderboard/leaderboard_client.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "leaderboard/round_save.hpp"
#include "server/score_entries.hpp"
#include "server_fixture.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>

using namespace servertest;
using nlohmann::json;

namespace {

class ServerApi : public ServerCase {
protected:
    Reply post(const std::string& body, const httplib::Headers& headers = {}) {
        return request(server->port(), "POST", "/api/leaderboard", body, headers);
    }
    json leaderboard() { return json::parse(get("/api/leaderboard").body, nullptr, false); }
};

// The board of one level, as GET <prefix>/leaderboard gives it (none of these entries verified).
json board(const std::string& level, json entries) {
    for (json& shown : entries) {
        shown["verified"] = false;
    }
    return {{"levels", {{{"name", level}, {"total", entries.size()}, {"scores", entries}}}}};
}

// A successful upload's reply.
json accepted(int accepted, int skipped, const json& errors = json::array(), int droppedKeys = 0) {
    return {{"success", true}, {"accepted", accepted}, {"skipped", skipped}, {"droppedKeys", droppedKeys},
            {"verified", 0},   {"errors", errors}};
}

// The reply of a refusal: the status and a JSON body saying why.
void expectRefusal(const Reply& reply, int status, const std::string& what) {
    EXPECT_EQ(reply.status, status) << what << ": " << reply.body;
    // value(), not a const operator[], which is undefined for a missing key.
    const json body = json::parse(reply.body, nullptr, false);
    const json error = body.is_object() ? body.value("error", json()) : json();
    EXPECT_TRUE(body.is_object() && body.value("success", json()) == false && error.is_string() &&
                !error.get<std::string>().empty())
        << what << ": " << reply.body;
}

} // namespace

TEST_P(ServerApi, MergesUploadsEntryByEntryAndNeverLowersOrRemoves) {
    start();
    EXPECT_EQ(leaderboard(), json::parse(R"({"levels": []})"));
    const json ann = {{"player", "ann"},       {"score", 40},        {"time", 61},
                      {"highestLayer", "2/8"}, {"highestCombo", 12}, {"device", {{"kind", "phone"}}}};
    const json bob = {
        {"player", "bob"}, {"score", 30}, {"time", 20}, {"highestLayer", "1/8"}, {"highestCombo", 3}};
    Reply reply = post(upload("Neon", {ann, bob}).dump());
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(json::parse(reply.body), accepted(2, 0));
    EXPECT_EQ(leaderboard(), board("Neon", {ann, bob})); // whole entries, unknown keys kept
    EXPECT_EQ(scoreOf("Neon", "ann"), 40);
    EXPECT_EQ(scoreOf("Neon", "nobody"), 0);
    EXPECT_EQ(scoreOf("Nowhere", "ann"), 0);

    // Lower and equal scores change nothing, and leaving bob out removes nothing.
    const json lower = {{"player", "ann"}, {"score", 39}, {"time", 1}, {"highestLayer", "8/8"}};
    const json equal = {{"player", "ann"}, {"score", 40.9}, {"time", 2}};
    EXPECT_EQ(post(upload("Neon", {lower, equal}).dump()).status, 200);
    EXPECT_EQ(leaderboard(), board("Neon", {ann, bob}));

    // A higher score replaces the entry whole; within one upload the best of a player counts.
    const json better = {
        {"player", "ann"}, {"score", 70}, {"time", 90}, {"highestLayer", "5/8"}, {"highestCombo", 30}};
    const json best = {{"player", "ann"}, {"score", 75.5}, {"time", 91}};
    EXPECT_EQ(post(upload("Neon", {better, best, better}).dump()).status, 200);
    json expectedAnn = best;
    expectedAnn["score"] = 75;
    EXPECT_EQ(leaderboard(), board("Neon", {expectedAnn, bob}));
    EXPECT_EQ(scoreOf("Neon", "ann"), 75);

    // Names match folded; the entry keeps the spelling of the upload that stored it.
    const json upper = {{"player", "ANN"}, {"score", 80}};
    EXPECT_EQ(json::parse(post(upload("Neon", {upper, {{"player", "Ann"}, {"score", 1}}}).dump()).body),
              accepted(1, 0));
    EXPECT_EQ(leaderboard(), board("Neon", {upper, bob}));
    EXPECT_EQ(scoreOf("Neon", "aNn"), 80);
}

TEST_P(ServerApi, SkipsAndExplainsBadEntriesAndTrimsTheKeptOnes) {
    start();
    const json good = {{"player", "ok"}, {"score", 5}};
    const json document = {{"levels",
                            {{{"name", "Neon"},
                              {"scores",
                               {good,
                                "not an entry",
                                {{"score", 1}},
                                {{"player", 7}, {"score", 1}},
                                {{"player", std::string(64, 'x')}, {"score", 1}},
                                {{"player", "zero\u200Bwidth"}, {"score", 1}},
                                {{"player", "neg"}, {"score", -1}},
                                {{"player", "bool"}, {"score", true}},
                                {{"player", "text"}, {"score", "9"}},
                                {{"player", "huge"}, {"score", 2147483648LL}}}}},
                             {{"name", std::string(65, 'L')}, {"scores", {good, good}}},
                             {{"name", "No scores"}},
                             42}}};
    const Reply reply = post(document.dump());
    ASSERT_EQ(reply.status, 200) << reply.body;
    const json answer = json::parse(reply.body);
    EXPECT_EQ(answer["accepted"], 2);
    EXPECT_EQ(answer["skipped"], 12);
    ASSERT_EQ(answer["errors"].size(), 12u) << reply.body;
    // Names that are valid are named; the reasons say what is wrong (every name rule: ServerUnits).
    EXPECT_EQ(answer["errors"][0], json({{"level", "Neon"}, {"error", "the score entry is not an object"}}));
    EXPECT_EQ(answer["errors"][3], json({{"level", "Neon"},
                                         {"player", "zero\u200Bwidth"},
                                         {"error", "the player name contains a format character"}}));
    EXPECT_EQ(answer["errors"][8],
              json({{"player", "ok"}, {"error", "the level name is longer than 64 bytes"}}));
    EXPECT_EQ(scoreOf("Neon", "ok"), 5);
    EXPECT_EQ(scoreOf("Neon", std::string(64, 'x')), 1);
    EXPECT_EQ(leaderboard()["levels"].size(), 1u);

    // Malformed details and unknown keys past 1 KB are dropped, in byte order of the key names.
    json bulky = {{"player", "bulky"},
                  {"score", 1},
                  {"time", 1.5},
                  {"highestLayer", std::string(17, '8')},
                  {"highestCombo", -2},
                  {"a", "kept"},
                  {"b", std::string(1000, 'n')},
                  {"c", std::string(10, 'n')},
                  {"d", 1}};
    const json trimmed = json::parse(post(upload("Trim", {bulky}).dump()).body);
    EXPECT_EQ(trimmed, accepted(1, 0, json::array(), 5));
    EXPECT_EQ(leaderboard()["levels"][1]["scores"][0], json({{"player", "bulky"},
                                                             {"score", 1},
                                                             {"a", "kept"},
                                                             {"b", std::string(1000, 'n')},
                                                             {"verified", false}}));
}

TEST_P(ServerApi, RefusalsHaveTheirStatusAndAJsonReason) {
    start({"--max-entries", "3"});
    const json four = upload("Neon", {{{"player", "a"}, {"score", 1}},
                                      {{"player", "b"}, {"score", 1}},
                                      {{"player", "c"}, {"score", 1}},
                                      {{"player", "d"}, {"score", 1}}});
    const std::string deep = "{\"levels\": [" + std::string(40, '[') + std::string(40, ']') + "]}";
    struct Case {
        const char* what;
        std::string method, target, body;
        int status;
    };
    const std::vector<Case> cases = {
        {"oversized body", "POST", "/api/leaderboard", std::string(kMaxUploadBytes + 1, ' '), 413},
        {"too many entries", "POST", "/api/leaderboard", four.dump(), 413},
        {"bad JSON", "POST", "/api/leaderboard", "{\"levels\": [", 400},
        {"array document", "POST", "/api/leaderboard", "[]", 400},
        {"levels not an array", "POST", "/api/leaderboard", R"({"levels": {}})", 400},
        {"bad UTF-8 body", "POST", "/api/leaderboard", "{\"levels\": [{\"name\": \"\xff\", \"scores\": []}]}",
         400},
        {"too deep", "POST", "/api/leaderboard", deep, 400},
        {"bad UTF-8 name", "GET", "/api/player/Neon/%FF", "", 400},
        {"malformed escape", "GET", "/api/player/Neon/%G1", "", 400},
        {"unknown path", "GET", "/api/players", "", 404},
        {"wrong method", "DELETE", "/api/leaderboard", "", 405},
    };
    for (const Case& c : cases) {
        expectRefusal(request(server->port(), c.method, c.target, c.body), c.status, c.what);
    }
    EXPECT_EQ(leaderboard(), json::parse(R"({"levels": []})"));
}

TEST_P(ServerApi, UploadsNeedTheTokenWhenOneIsSet) {
    start({"--upload-token", "s3cret"});
    const std::string body = upload("Neon", {{{"player", "ann"}, {"score", 5}}}).dump();
    expectRefusal(post(body), 401, "no token");
    expectRefusal(post(body, {{"Authorization", "Bearer wrong!"}}), 401, "wrong token");
    expectRefusal(post(body, {{"Authorization", "s3cret"}}), 401, "not a bearer token");
    // A chunked body (no Content-Length) must pass the same check.
    const auto postChunked = [&](const std::string& text, const httplib::Headers& headers) {
        httplib::Client client("127.0.0.1", server->port());
        client.set_default_headers(headers);
        const httplib::Result result = client.Post(
            "/api/leaderboard",
            [text](std::size_t offset, httplib::DataSink& sink) {
                if (offset < text.size()) {
                    sink.write(text.data() + offset, text.size() - offset);
                } else {
                    sink.done();
                }
                return true;
            },
            "application/json");
        return result ? result->status : 0;
    };
    EXPECT_EQ(postChunked(body, {}), 401);
    EXPECT_EQ(postChunked(body, {{"Authorization", "Bearer wrong!"}}), 401);
    EXPECT_EQ(scoreOf("Neon", "ann"), 0);
    EXPECT_EQ(postChunked(body, {{"Authorization", "Bearer s3cret"}}), 200);
    EXPECT_EQ(scoreOf("Neon", "ann"), 5);
    EXPECT_EQ(
        post(upload("Neon", {{{"player", "ann"}, {"score", 6}}}).dump(), {{"Authorization", "Bearer s3cret"}})
            .status,
        200);
    EXPECT_EQ(scoreOf("Neon", "ann"), 6);

    // A refused body is read and dropped, never taken for the next request on the connection.
    httplib::Client client("127.0.0.1", server->port());
    client.set_keep_alive(true);
    const std::string smuggled = "GET /api/player/Neon/ann HTTP/1.1\r\nHost: x\r\n\r\n";
    const httplib::Result refusedUpload = client.Post("/api/leaderboard", smuggled, "application/json");
    const httplib::Result refusedElsewhere = client.Post("/api/nowhere", smuggled, "text/plain");
    const httplib::Result next = client.Get("/api/leaderboard");
    ASSERT_TRUE(refusedUpload && refusedElsewhere && next);
    EXPECT_EQ(refusedUpload->status, 401);
    EXPECT_EQ(refusedElsewhere->status, 404);
    EXPECT_EQ(json::parse(next->body, nullptr, false), board("Neon", {{{"player", "ann"}, {"score", 6}}}));
}

TEST_P(ServerApi, TheGamesClientClaimsItsNameUploadsAndReadsTheBoard) {
    start({"--upload-token", "t0ken"});
    const LeaderboardClientConfig savedConfig = gLeaderboardClient;
    gLeaderboardClient.serverBaseUrl = "http://127.0.0.1:" + std::to_string(server->port()) + "/api";
    gLeaderboardClient.leaderboardPath = folder.file("leaderboard.json");
    gLeaderboardClient.cachePath = folder.file("leaderboard_cache.json");
    setenv("VIBRELLE_LEADERBOARD_TOKEN", "t0ken", 1);
    takeReceivedPlayerKeys();
    // A level name that needs every kind of encoding in a path and in a query.
    const std::string level = "Neon Drive+/ 100% & co?";

    // A round left with the exit button: saved to the local file, then uploaded, claiming the name.
    saveRoundResult(RoundResult{level, "Zoë 100%", 900, 61, 3, 8, 14}, gLeaderboardClient.leaderboardPath);
    ASSERT_TRUE(httpDatabaseWait(30.0));
    EXPECT_EQ(scoreOf(level, "zoË 100%"), 900);
    const std::vector<ReceivedPlayerKey> keys = takeReceivedPlayerKeys();
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].name, "Zoë 100%");
    EXPECT_TRUE(isPlayerKeyText(keys[0].key));
    // The name is now owned: a post without the key is refused, one with it taken.
    const json better = board(level, {{{"player", "ZOË 100%"}, {"score", 950}}});
    const httplib::Headers token = {{"Authorization", "Bearer t0ken"}};
    EXPECT_EQ(post(better.dump(), token).status, 403);
    httplib::Headers withKey = token;
    withKey.emplace("X-Vibrelle-Player-Key", keys[0].key);
    EXPECT_EQ(post(better.dump(), withKey).status, 200);
    // Another player's entry reaches the game only through the server's board.
    ASSERT_EQ(post(board(level, {{{"player", "bob"}, {"score", 1000}}}).dump(), token).status, 200);

    auto score = std::make_shared<std::atomic<int>>(-1);
    fetchPlayerScoreAsync(level, "Zoë 100%", [score](std::int32_t value) { *score = value; });
    auto document = std::make_shared<json>();
    fetchLeaderboardAsync(std::vector<std::string>{level},
                          [document](const json& value) { *document = value; });
    ASSERT_TRUE(httpDatabaseWait(30.0));
    unsetenv("VIBRELLE_LEADERBOARD_TOKEN");
    gLeaderboardClient = savedConfig;

    EXPECT_EQ(*score, 950);
    EXPECT_EQ(findPlayerScore(*document, level, "bob"), 1000) << document->dump();
    EXPECT_EQ(findPlayerScore(*document, level, "ZOË 100%"), 950) << document->dump();
    // The player's own file holds only what this computer played.
    json own;
    std::string error;
    ASSERT_EQ(readLeaderboardFile(folder.file("leaderboard.json"), own, error), LeaderboardRead::Ok);
    EXPECT_EQ(findPlayerScore(own, level, "bob"), 0);
    EXPECT_EQ(findPlayerScore(own, level, "Zoë 100%"), 900);
}

INSTANTIATE_TEST_SUITE_P(Sqlite, ServerApi, testing::Values(Backend::Sqlite));
INSTANTIATE_TEST_SUITE_P(Postgres, ServerApi, testing::Values(Backend::Postgres));
