// The three leaderboard operations against a loopback server, with the local file in a temporary
// folder: server answers, every kind of failure and its fall-back, and the shut-down gate.
#include "leaderboard/leaderboard_document.hpp"
#include "net/http_database.hpp"
#include "net_test_support.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

using namespace nettest;
using nlohmann::json;

namespace {

// Every value a callback received, from whichever thread. The callbacks share ownership, so a
// thread that called back late would still find it alive.
template <class T> class Calls : public std::enable_shared_from_this<Calls<T>> {
public:
    std::function<void(const T&)> record() {
        return [self = this->shared_from_this()](const T& value) {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->values_.push_back(value);
        };
    }
    std::vector<T> values() {
        std::lock_guard<std::mutex> lock(mutex_);
        return values_;
    }

private:
    std::mutex mutex_;
    std::vector<T> values_;
};

template <class T> std::shared_ptr<Calls<T>> makeCalls() { return std::make_shared<Calls<T>>(); }

const json kLocal = json::parse(R"({"levels": [
    {"name": "Neon", "scores": [{"player": "ann", "score": 40, "time": 61, "highestLayer": "2/8",
                                 "highestCombo": 12}]}]})");

const json kServer = json::parse(R"({"levels": [
    {"name": "Neon", "scores": [{"player": "ann", "score": 70, "time": 90, "highestLayer": "5/8",
                                 "highestCombo": 30},
                                {"player": "bob", "score": 30, "time": 20, "highestLayer": "1/8",
                                 "highestCombo": 3}]},
    {"name": "Drift", "scores": [{"player": "cy", "score": 5, "time": 2, "highestLayer": "1/8",
                                  "highestCombo": 1}]}]})");

class HttpDatabase : public testing::Test {
protected:
    void SetUp() override {
        savedUrl_ = serverBaseUrl;
        savedConfig_ = httpDatabaseConfig;
        httpDatabaseConfig.leaderboardPath = localPath();
        httpDatabaseConfig.limits = HttpLimits{};
        httpDatabaseConfig.limits.timeoutSeconds = 3;
        httpDatabaseConfig.limits.deadlineSeconds = 6.0;
    }
    void TearDown() override {
        hold->release();
        server.stop();
        EXPECT_TRUE(httpDatabaseWait(30.0));
        httpDatabaseReset();
        serverBaseUrl = savedUrl_;
        httpDatabaseConfig = savedConfig_;
    }

    // Starts the server and points the client at its "/api".
    void serve() {
        server.start();
        serverBaseUrl = server.url("/api");
    }
    // A server that answers `status` and `body` on every leaderboard and player route.
    void serveReply(int status, const std::string& body) {
        auto reply = [status, body](const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_content(body, "application/json");
        };
        server.get("/api/leaderboard", reply);
        server.get("/api/player/.*", reply);
        server.post("/api/leaderboard", reply);
        serve();
    }

    std::string localPath() const { return folder.file("leaderboard.json"); }
    void writeLocal(const json& document) { writeTextFile(localPath(), document.dump(4)); }

    // Runs `start`, waits for the request threads, and keeps what they logged.
    void runAndWait(const std::function<void()>& start) {
        LogCapture logs;
        start();
        finished = httpDatabaseWait(20.0);
        out = logs.out();
        err = logs.err();
    }

    TempDir folder;
    TestServer server;
    std::shared_ptr<Hold> hold = std::make_shared<Hold>();
    bool finished = false;
    std::string out;
    std::string err;

private:
    std::string savedUrl_;
    HttpDatabaseConfig savedConfig_;
};

} // namespace

TEST_F(HttpDatabase, InitTakesTheUrlFromTheEnvironmentUnlessItIsEmpty) {
    std::string builtIn;
    {
        ScopedEnv unset("VIBRELLE_LEADERBOARD_URL", nullptr);
        LogCapture logs;
        httpDatabaseInit();
        builtIn = serverBaseUrl;
        EXPECT_EQ(logs.out(), "HTTP Database initialized (pointing to " + builtIn + ")\n");
    }
    EXPECT_EQ(builtIn.rfind("http", 0), 0u) << builtIn;
    {
        ScopedEnv set("VIBRELLE_LEADERBOARD_URL", "https://scores.example/api");
        LogCapture logs;
        httpDatabaseInit();
        EXPECT_EQ(serverBaseUrl, "https://scores.example/api");
        EXPECT_EQ(logs.out(), "HTTP Database initialized (pointing to https://scores.example/api)\n");
    }
    {
        ScopedEnv empty("VIBRELLE_LEADERBOARD_URL", "");
        LogCapture logs;
        httpDatabaseInit();
        EXPECT_EQ(serverBaseUrl, builtIn);
    }
}

TEST_F(HttpDatabase, FetchedLeaderboardIsMergedIntoTheLocalFileAndHandedOverMerged) {
    writeLocal(kLocal);
    serveReply(200, kServer.dump());
    auto calls = makeCalls<json>();
    runAndWait([&] { fetchLeaderboardAsync(calls->record()); });

    ASSERT_TRUE(finished);
    const std::vector<json> values = calls->values();
    ASSERT_EQ(values.size(), 1u);
    json expected = kLocal;
    ASSERT_TRUE(mergeLeaderboards(expected, kServer));
    EXPECT_EQ(values[0], expected);
    EXPECT_EQ(findPlayerScore(values[0], "Neon", "ann"), 70);
    EXPECT_EQ(findPlayerScore(values[0], "Neon", "bob"), 30);
    EXPECT_EQ(findPlayerScore(values[0], "Drift", "cy"), 5);
    EXPECT_PRED2(contains, out, "Loaded leaderboard from HTTP server (2 levels)\n");
    EXPECT_FALSE(contains(out, "Falling back"));

    json onDisk;
    std::string error;
    ASSERT_EQ(readLeaderboardFile(localPath(), onDisk, error), LeaderboardRead::Ok);
    EXPECT_EQ(onDisk, expected);
    ASSERT_EQ(server.seen().size(), 1u);
    EXPECT_EQ(server.seen()[0].target, "/api/leaderboard");
}

TEST_F(HttpDatabase, LeaderboardRepliesThatAreNotADocumentFallBackAndLeaveTheFileAlone) {
    struct Case {
        int status;
        std::string body;
        std::string reason; // a line the failure logs, or ""
    };
    const std::vector<Case> cases = {
        {404, kServer.dump(), "HTTP request failed with status: 404\n"},
        {500, kServer.dump(), "HTTP request failed with status: 500\n"},
        {200, "", ""},
        {200, "not json", ""},
        {200, R"({"levels": [)", ""},
        {200, "[]", ""},
        {200, "null", ""},
        {200, R"({"levels": "Neon"})", ""},
        {200, R"({"levels": {"name": "Neon"}})", ""},
        {200, R"({"scores": []})", ""},
        // Parses, but copying the new level into the file would recurse a million deep.
        {200,
         R"({"levels": [{"name": "Deep", "x": )" + std::string(1000000, '[') + std::string(1000000, ']') +
             "}]}",
         ""},
    };
    auto current = std::make_shared<std::atomic<std::size_t>>(0);
    auto reply = [&cases, current](const httplib::Request&, httplib::Response& res) {
        res.status = cases[*current].status;
        res.set_content(cases[*current].body, "application/json");
    };
    server.get("/api/leaderboard", reply);
    serve();
    writeLocal(kLocal);
    const std::string before = readTextFile(localPath());

    for (std::size_t i = 0; i < cases.size(); ++i) {
        *current = i;
        auto calls = makeCalls<json>();
        runAndWait([&] { fetchLeaderboardAsync(calls->record()); });
        ASSERT_TRUE(finished);
        const std::vector<json> values = calls->values();
        ASSERT_EQ(values.size(), 1u) << cases[i].body.substr(0, 80);
        EXPECT_EQ(values[0], kLocal) << cases[i].body.substr(0, 80);
        EXPECT_PRED2(contains, out,
                     "Falling back to local leaderboard file\nLoaded leaderboard from local file\n");
        EXPECT_FALSE(contains(out, "Loaded leaderboard from HTTP server")) << cases[i].body.substr(0, 80);
        if (!cases[i].reason.empty()) {
            EXPECT_PRED2(contains, err, cases[i].reason);
        }
        EXPECT_EQ(readTextFile(localPath()), before) << cases[i].body.substr(0, 80);
    }
}

TEST_F(HttpDatabase, LeaderboardLongerThanTheCapFallsBack) {
    httpDatabaseConfig.limits.maxBodyBytes = 64;
    serveReply(200, kServer.dump());
    writeLocal(kLocal);
    auto calls = makeCalls<json>();
    runAndWait([&] { fetchLeaderboardAsync(calls->record()); });

    ASSERT_TRUE(finished);
    ASSERT_EQ(calls->values().size(), 1u);
    EXPECT_EQ(calls->values()[0], kLocal);
    EXPECT_PRED2(contains, err, "HTTP request failed: reply longer than 64 bytes\n");
}

TEST_F(HttpDatabase, ServerDownFallsBackToTheLocalFileOrToNothing) {
    ClosedPort closed;
    serverBaseUrl = closed.url("/api");

    auto withFile = makeCalls<json>();
    auto scoreWithFile = makeCalls<std::int32_t>();
    auto unknownPlayer = makeCalls<std::int32_t>();
    writeLocal(kLocal);
    runAndWait([&] {
        fetchLeaderboardAsync(withFile->record());
        fetchPlayerScoreAsync("Neon", "ann", scoreWithFile->record());
        fetchPlayerScoreAsync("Neon", "zed", unknownPlayer->record());
    });
    ASSERT_TRUE(finished);
    ASSERT_EQ(withFile->values().size(), 1u);
    EXPECT_EQ(withFile->values()[0], kLocal);
    EXPECT_EQ(scoreWithFile->values(), std::vector<std::int32_t>{40});
    EXPECT_EQ(unknownPlayer->values(), std::vector<std::int32_t>{0});
    EXPECT_PRED2(contains, out, "Found local player score: zed on Neon = 0\n");
    EXPECT_PRED2(contains, out, "Loaded leaderboard from local file\n");
    EXPECT_PRED2(contains, out, "Falling back to local file for player score: ann on Neon\n");
    EXPECT_PRED2(contains, out, "Found local player score: ann on Neon = 40\n");

    std::filesystem::remove(localPath());
    auto withoutFile = makeCalls<json>();
    auto scoreWithoutFile = makeCalls<std::int32_t>();
    runAndWait([&] {
        fetchLeaderboardAsync(withoutFile->record());
        fetchPlayerScoreAsync("Neon", "ann", scoreWithoutFile->record());
    });
    ASSERT_TRUE(finished);
    ASSERT_EQ(withoutFile->values().size(), 1u);
    EXPECT_TRUE(withoutFile->values()[0].is_null());
    EXPECT_EQ(scoreWithoutFile->values(), std::vector<std::int32_t>{0});
    // Two threads log at once here, so their lines may interleave.
    EXPECT_PRED2(contains, out, "Falling back to local leaderboard file\n");
    EXPECT_PRED2(contains, out, "No local leaderboard found, returning empty\n");
    EXPECT_FALSE(contains(out, "Found local player score"));
    EXPECT_FALSE(std::filesystem::exists(localPath()));

    runAndWait([&] { uploadLeaderboardAsync(kLocal); });
    ASSERT_TRUE(finished);
    EXPECT_PRED2(contains, err, "Failed to upload leaderboard to HTTP server, data saved locally only\n");
    EXPECT_FALSE(contains(out, "Successfully uploaded"));
}

TEST_F(HttpDatabase, CorruptLocalFileCountsAsMissing) {
    ClosedPort closed;
    serverBaseUrl = closed.url("/api");
    writeTextFile(localPath(), "{ not json");
    auto board = makeCalls<json>();
    auto score = makeCalls<std::int32_t>();
    runAndWait([&] {
        fetchLeaderboardAsync(board->record());
        fetchPlayerScoreAsync("Neon", "ann", score->record());
    });
    ASSERT_TRUE(finished);
    ASSERT_EQ(board->values().size(), 1u);
    EXPECT_TRUE(board->values()[0].is_null());
    EXPECT_EQ(score->values(), std::vector<std::int32_t>{0});
    EXPECT_PRED2(contains, out, "No local leaderboard found, returning empty\n");
}

TEST_F(HttpDatabase, PlayerScoreTakesOnlyANumericServerScoreElseTheLocalOne) {
    struct Case {
        int status;
        std::string body;
        std::int32_t expected;
        bool fromServer;
    };
    const std::vector<Case> cases = {
        {200, R"({"score": 1234})", 1234, true},
        {200, R"({"score": 0})", 0, true},
        {200, R"({"score": -7})", -7, true},
        {200, R"({"score": 12.9})", 12, true},
        {200, R"({"score": 1e12})", 2147483647, true},
        {200, R"({"score": -3000000000})", -2147483647 - 1, true},
        {200, R"({"score": true})", 40, false},
        {200, R"({"score": "77"})", 40, false},
        {200, R"({"score": null})", 40, false},
        {200, R"({"points": 77})", 40, false},
        {200, R"([{"score": 77}])", 40, false},
        {200, "77", 40, false},
        {200, "not json", 40, false},
        {200, "", 40, false},
        {404, R"({"score": 77})", 40, false},
    };
    auto current = std::make_shared<std::atomic<std::size_t>>(0);
    server.get("/api/player/.*", [&cases, current](const httplib::Request&, httplib::Response& res) {
        res.status = cases[*current].status;
        res.set_content(cases[*current].body, "application/json");
    });
    serve();
    writeLocal(kLocal);

    for (std::size_t i = 0; i < cases.size(); ++i) {
        *current = i;
        const Case& c = cases[i];
        auto calls = makeCalls<std::int32_t>();
        runAndWait([&] { fetchPlayerScoreAsync("Neon", "ann", calls->record()); });
        ASSERT_TRUE(finished);
        EXPECT_EQ(calls->values(), std::vector<std::int32_t>{c.expected}) << c.body;
        if (c.fromServer) {
            EXPECT_PRED2(contains, out,
                         "Loaded player score from server: ann on Neon = " + std::to_string(c.expected) +
                             "\n");
            EXPECT_FALSE(contains(out, "Falling back")) << c.body;
        } else {
            EXPECT_PRED2(contains, out,
                         "Falling back to local file for player score: ann on Neon\n"
                         "Found local player score: ann on Neon = 40\n");
        }
        if (c.status == 404) {
            EXPECT_PRED2(contains, err, "HTTP request failed with status: 404\n");
        }
    }
}

TEST_F(HttpDatabase, NamesReachTheServerExactlyWhateverTheyContain) {
    const std::string level = "Deep / Space 100%?#&+";
    const std::string player = "Zo\xC3\xAB \xE6\x97\xA5\xE6\x9C\xAC a%2Fb \xFF";
    auto names = std::make_shared<std::vector<std::string>>();
    auto namesMutex = std::make_shared<std::mutex>();
    server.get("/api/player/.*", [names, namesMutex](const httplib::Request& req, httplib::Response& res) {
        // The route matched the decoded path; the names are split out of the target as sent.
        const std::string prefix = "/api/player/";
        std::lock_guard<std::mutex> lock(*namesMutex);
        names->push_back(req.target);
        if (req.target.rfind(prefix, 0) == 0) {
            const std::string rest = req.target.substr(prefix.size());
            const std::size_t slash = rest.find('/');
            if (slash != std::string::npos && rest.find('/', slash + 1) == std::string::npos) {
                bool ok = true;
                names->push_back(percentDecode(rest.substr(0, slash), ok));
                names->push_back(percentDecode(rest.substr(slash + 1), ok));
                if (!ok) {
                    names->push_back("malformed escape");
                }
            }
        }
        res.set_content(R"({"score": 4321})", "application/json");
    });
    serve();
    auto calls = makeCalls<std::int32_t>();
    runAndWait([&] { fetchPlayerScoreAsync(level, player, calls->record()); });

    ASSERT_TRUE(finished);
    EXPECT_EQ(calls->values(), std::vector<std::int32_t>{4321});
    std::lock_guard<std::mutex> lock(*namesMutex);
    ASSERT_EQ(names->size(), 3u);
    const std::string& target = (*names)[0];
    EXPECT_EQ(
        target.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~%/"),
        std::string::npos)
        << target;
    EXPECT_EQ((*names)[1], level);
    EXPECT_EQ((*names)[2], player);
}

TEST_F(HttpDatabase, EmptyNamesAnswerZeroWithoutAskingTheServer) {
    serveReply(200, R"({"score": 99})");
    writeLocal(kLocal);
    auto calls = makeCalls<std::int32_t>();
    runAndWait([&] {
        fetchPlayerScoreAsync("", "ann", calls->record());
        fetchPlayerScoreAsync("Neon", "", calls->record());
        fetchPlayerScoreAsync("", "", calls->record());
    });
    ASSERT_TRUE(finished);
    EXPECT_EQ(calls->values(), (std::vector<std::int32_t>{0, 0, 0}));
    EXPECT_TRUE(server.seen().empty());
    EXPECT_FALSE(contains(out, "Falling back"));
}

TEST_F(HttpDatabase, UploadPostsTheCompactDocumentAsJson) {
    serveReply(200, R"({"success": true})");
    json document = kLocal;
    document["levels"][0]["scores"][0]["note"] = "bad \xFF byte";
    runAndWait([&] { uploadLeaderboardAsync(document); });

    ASSERT_TRUE(finished);
    EXPECT_PRED2(contains, out,
                 "Successfully uploaded leaderboard to HTTP server\nServer confirmed leaderboard upload\n");
    EXPECT_FALSE(contains(err, "rejected"));
    const std::vector<SeenRequest> seen = server.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].target, "/api/leaderboard");
    EXPECT_EQ(seen[0].contentTypes, std::vector<std::string>{"application/json"});
    EXPECT_EQ(seen[0].body, serializeLeaderboard(document, -1));
    EXPECT_EQ(seen[0].body.find('\n'), std::string::npos);
    EXPECT_EQ(seen[0].body.find(": "), std::string::npos);
    const json parsed = json::parse(seen[0].body, nullptr, false);
    ASSERT_TRUE(parsed.is_object());
    EXPECT_EQ(parsed["levels"][0]["scores"][0]["score"], 40);
}

TEST_F(HttpDatabase, UploadIsConfirmedOnlyByABooleanTrueSuccess) {
    struct Case {
        int status;
        std::string body;
        bool confirmed;
    };
    const std::vector<Case> cases = {
        {200, R"({"success": true})", true},
        {201, R"({"success": true, "rank": 3})", true},
        {200, R"({"success": false})", false},
        {200, R"({"success": "true"})", false},
        {200, R"({"success": 1})", false},
        {200, R"({})", false},
        {200, R"([{"success": true}])", false},
        {200, "true", false},
        {200, "not json", false},
        {200, "", false},
    };
    auto current = std::make_shared<std::atomic<std::size_t>>(0);
    server.post("/api/leaderboard", [&cases, current](const httplib::Request&, httplib::Response& res) {
        res.status = cases[*current].status;
        res.set_content(cases[*current].body, "application/json");
    });
    serve();

    for (std::size_t i = 0; i < cases.size(); ++i) {
        *current = i;
        runAndWait([&] { uploadLeaderboardAsync(kLocal); });
        ASSERT_TRUE(finished);
        EXPECT_PRED2(contains, out, "Successfully uploaded leaderboard to HTTP server\n");
        EXPECT_EQ(contains(out, "Server confirmed leaderboard upload\n"), cases[i].confirmed)
            << cases[i].body;
        EXPECT_EQ(contains(err, "Server rejected leaderboard upload\n"), !cases[i].confirmed)
            << cases[i].body;
    }
}

TEST_F(HttpDatabase, UploadRefusedByStatusIsAFailedUpload) {
    serveReply(503, R"({"success": true})");
    runAndWait([&] { uploadLeaderboardAsync(kLocal); });
    ASSERT_TRUE(finished);
    EXPECT_PRED2(contains, err, "HTTP request failed with status: 503\n");
    EXPECT_PRED2(contains, err, "Failed to upload leaderboard to HTTP server, data saved locally only\n");
    EXPECT_FALSE(contains(out, "Successfully uploaded"));
}

TEST_F(HttpDatabase, TricklingServerEndsAtTheDeadlineAndFallsBack) {
    httpDatabaseConfig.limits.timeoutSeconds = 5;
    httpDatabaseConfig.limits.deadlineSeconds = 1.0;
    auto drip = hold;
    server.get("/api/.*", [drip](const httplib::Request&, httplib::Response& res) {
        const auto start = Clock::now();
        res.set_chunked_content_provider(
            "application/json", [drip, start](std::size_t, httplib::DataSink& sink) {
                if (drip->arriveAndWait(std::chrono::milliseconds(200)) || secondsSince(start) > 10.0) {
                    return false;
                }
                return sink.write(" ", 1);
            });
    });
    serve();
    writeLocal(kLocal);
    auto board = makeCalls<json>();
    auto score = makeCalls<std::int32_t>();
    const auto start = Clock::now();
    runAndWait([&] {
        fetchLeaderboardAsync(board->record());
        fetchPlayerScoreAsync("Neon", "ann", score->record());
    });
    const double elapsed = secondsSince(start);

    ASSERT_TRUE(finished);
    EXPECT_LE(elapsed, 1.0 + 2.0);
    ASSERT_EQ(board->values().size(), 1u);
    EXPECT_EQ(board->values()[0], kLocal);
    EXPECT_EQ(score->values(), std::vector<std::int32_t>{40});
    EXPECT_PRED2(contains, err, "HTTP request failed: ");
}

TEST_F(HttpDatabase, EveryCallbackRunsExactlyOnceWhenManyRequestsOverlap) {
    serveReply(200, kServer.dump());
    ClosedPort closed;
    const std::string working = serverBaseUrl;
    auto boards = makeCalls<json>();
    auto scores = makeCalls<std::int32_t>();
    constexpr int kEach = 6;
    runAndWait([&] {
        for (int i = 0; i < kEach; ++i) {
            // Half against the server, half against nothing at all.
            serverBaseUrl = i % 2 == 0 ? working : closed.url("/api");
            fetchLeaderboardAsync(boards->record());
            fetchPlayerScoreAsync("Neon", "ann", scores->record());
            uploadLeaderboardAsync(kLocal);
        }
    });
    ASSERT_TRUE(finished);
    EXPECT_EQ(boards->values().size(), static_cast<std::size_t>(kEach));
    EXPECT_EQ(scores->values().size(), static_cast<std::size_t>(kEach));
}

TEST_F(HttpDatabase, ThrowingCallbackDoesNotEndTheProgram) {
    ClosedPort closed;
    serverBaseUrl = closed.url("/api");
    runAndWait([&] {
        fetchLeaderboardAsync([](const json&) { throw std::runtime_error("callback failed"); });
        fetchPlayerScoreAsync("Neon", "ann", [](std::int32_t) { throw 42; });
    });
    EXPECT_TRUE(finished);
    EXPECT_PRED2(contains, err, "callback failed");
}

TEST_F(HttpDatabase, ShutdownAbandonsAWaitingRequestWhoseCallbackThenNeverRuns) {
    auto held = hold;
    server.get("/api/player/.*", [held](const httplib::Request&, httplib::Response& res) {
        held->arriveAndWait();
        res.set_content(R"({"score": 77})", "application/json");
    });
    serve();
    auto calls = makeCalls<std::int32_t>();
    double shutdownSeconds = 0.0;
    bool waitedInVain = false;
    bool arrived = false;
    runAndWait([&] {
        fetchPlayerScoreAsync("Neon", "ann", calls->record());
        arrived = hold->waitForArrival(std::chrono::seconds(10));
        waitedInVain = !httpDatabaseWait(0.05);
        const auto start = Clock::now();
        httpDatabaseShutdown(0.3);
        shutdownSeconds = secondsSince(start);
        // Let the abandoned request finish; runAndWait then waits for its thread to end.
        hold->release();
    });

    ASSERT_TRUE(arrived);
    EXPECT_TRUE(waitedInVain);
    EXPECT_GE(shutdownSeconds, 0.25);
    EXPECT_LT(shutdownSeconds, 1.5);
    ASSERT_TRUE(finished);
    // The thread got its answer after the shut-down and dropped it.
    EXPECT_PRED2(contains, out, "Loaded player score from server: ann on Neon = 77\n");
    EXPECT_TRUE(calls->values().empty());

    // Reopened, the gate lets answers through again.
    httpDatabaseReset();
    auto again = makeCalls<std::int32_t>();
    runAndWait([&] { fetchPlayerScoreAsync("Neon", "ann", again->record()); });
    ASSERT_TRUE(finished);
    EXPECT_EQ(again->values(), std::vector<std::int32_t>{77});
}

TEST_F(HttpDatabase, ShutdownWithNothingRunningReturnsAtOnce) {
    const auto start = Clock::now();
    httpDatabaseShutdown(5.0);
    EXPECT_LT(secondsSince(start), 1.0);
    ClosedPort closed;
    serverBaseUrl = closed.url("/api");
    auto calls = makeCalls<std::int32_t>();
    runAndWait([&] { fetchPlayerScoreAsync("Neon", "ann", calls->record()); });
    ASSERT_TRUE(finished);
    EXPECT_TRUE(calls->values().empty());
}
