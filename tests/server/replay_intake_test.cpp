// The plain facts the server checks of an uploaded replay against its entry, and the flag that
// makes it take only verified rounds.
#include "replay/replay_test_support.hpp"
#include "server/replay_intake.hpp"
#include "server/server_options.hpp"

#include <functional>

TEST(ServerUnits, AReplayStandsOnlyBehindItsOwnEntry) {
    Replay genuine = sampleReplay();
    genuine.bot = false;
    genuine.songStartUs = 0;
    genuine.songEndUs = 60'000'000;
    genuine.startedAtMs = 1'796'600'000'000;
    genuine.endedAtMs = genuine.startedAtMs + 61'000;
    StoredEntry entry;
    entry.level = genuine.levelName;
    entry.score = genuine.result.score;
    entry.entry = {{"score", entry.score}, {"highestCombo", 67}, {"highestLayer", "5/8"}};
    const struct {
        const char* what;
        std::function<void(Replay&, StoredEntry&)> edit;
        const char* reason; // "" when it stands
    } cases[] = {
        {"genuine", [](Replay&, StoredEntry&) {}, ""},
        {"paused for long", [](Replay& r, StoredEntry&) { r.endedAtMs += 3'600'000; }, ""},
        {"clock 0.3 % fast", [](Replay& r, StoredEntry&) { r.endedAtMs = r.startedAtMs + 59'820; }, ""},
        {"another level", [](Replay&, StoredEntry& e) { e.level = "Neon Drive"; }, "another level"},
        {"the bot's", [](Replay& r, StoredEntry&) { r.bot = true; }, "autoplay bot"},
        {"edited score", [](Replay&, StoredEntry& e) { e.score += 1; }, "score (12345)"},
        {"edited combo", [](Replay&, StoredEntry& e) { e.entry["highestCombo"] = 68; }, "highest combo"},
        {"no combo", [](Replay&, StoredEntry& e) { e.entry.erase("highestCombo"); }, "highest combo"},
        {"edited layer", [](Replay&, StoredEntry& e) { e.entry["highestLayer"] = "6/8"; }, "layer (5/8)"},
        {"played fast", [](Replay& r, StoredEntry&) { r.endedAtMs = r.startedAtMs + 30'000; },
         "30000 ms of wall-clock time for 60000 ms of song"},
    };
    for (const auto& c : cases) {
        Replay replay = genuine;
        StoredEntry stored = entry;
        c.edit(replay, stored);
        std::string why;
        EXPECT_EQ(replayMatchesEntry(replay, stored, why), *c.reason == '\0') << c.what << ": " << why;
        EXPECT_NE(why.find(c.reason), std::string::npos) << c.what << ": " << why;
    }
}

TEST(ServerUnits, VerifiedOnlyIsAFlag) {
    ServerOptions options;
    std::string error;
    const char* flag[] = {"server", "--verified-only"};
    ASSERT_TRUE(parseServerOptions(2, flag, options, error)) << error;
    EXPECT_TRUE(options.verifiedOnly);
    const char* none[] = {"server"};
    ASSERT_TRUE(parseServerOptions(1, none, options, error)) << error;
    EXPECT_FALSE(options.verifiedOnly);
    const char* valued[] = {"server", "--verified-only=yes"};
    EXPECT_FALSE(parseServerOptions(2, valued, options, error));
}
