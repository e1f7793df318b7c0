// The cache of the server's board: its cap, and the first start that moves other players' entries
// out of a local file written by an older version.
#include "leaderboard/leaderboard_cache.hpp"
#include "leaderboard/leaderboard_test_support.hpp"

using nlohmann::json;

namespace {

// A level of `count` entries whose names make the compact text about `count` * 60 bytes.
json bigLevel(const std::string& name, int count) {
    json scores = json::array();
    for (int i = 0; i < count; ++i) {
        scores.push_back({{"player", "player-" + std::to_string(i) + std::string(30, 'x')}, {"score", i}});
    }
    return {{"name", name}, {"scores", scores}};
}

// A document over the cap is not written: the file keeps the last one that fitted, and the caller
// still gets the updated document to show.
TEST(LeaderboardCache, ADocumentOverTheCapIsNotWritten) {
    TempDir folder;
    const std::string path = folder.file("leaderboard_cache.json");
    json cache;
    ASSERT_TRUE(updateLeaderboardCache(path, {bigLevel("Small", 10)}, cache));
    const std::string small = readText(path);
    EXPECT_LE(small.size(), kMaxLeaderboardCacheBytes);

    std::vector<json> levels;
    for (int i = 0; i < 700; ++i) { // 700 levels of 100 entries: about 4.5 MB
        levels.push_back(bigLevel("Level " + std::to_string(i), 100));
    }
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(updateLeaderboardCache(path, levels, cache));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Leaderboard cache not written: "), std::string::npos) << err;
    EXPECT_NE(err.find(" bytes is over the limit of 4194304\n"), std::string::npos) << err;
    EXPECT_EQ(readText(path), small);
    EXPECT_EQ(cache["levels"].size(), 701u);
}

TEST(LeaderboardCache, FirstStartMovesOtherPlayersEntriesToTheCacheOnce) {
    TempDir folder;
    const std::string local = folder.file("leaderboard.json"),
                      cachePath = folder.file("leaderboard_cache.json");
    const std::string before = R"({"levels": [
        {"name": "Neon", "bpm": 120, "scores": [{"player": "ANN", "score": 40}, {"player": "bo", "score": 90},
                                                {"player": 7, "score": 1}]},
        {"name": "Drift", "scores": [{"player": "cy", "score": 5}]}]})";
    writeText(local, before);
    writeText(cachePath, R"({"levels": [{"name": "Neon", "scores": [{"player": "BO", "score": 95}]}]})");
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(separateOwnResults(local, cachePath, "ann"));
    const std::string logged = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(logged.find("Moved 2 other players' results from " + local + " to " + cachePath),
              std::string::npos)
        << logged;

    const json own = json::parse(readText(local));
    EXPECT_EQ(own, json::parse(R"({"ownResultsOnly": true, "levels": [
        {"name": "Neon", "bpm": 120, "scores": [{"player": "ANN", "score": 40}, {"player": 7, "score": 1}]},
        {"name": "Drift", "scores": []}]})"));
    const json cache = readLeaderboardCache(cachePath);
    EXPECT_EQ(cache, json::parse(R"({"levels": [{"name": "Neon", "scores": [{"player": "BO", "score": 95}]},
        {"name": "Drift", "scores": [{"player": "cy", "score": 5}]}]})"));

    // Marked: a second start, even under another name, moves nothing.
    const std::string marked = readText(local);
    EXPECT_TRUE(quietly([&] { return separateOwnResults(local, cachePath, "bo"); }));
    EXPECT_EQ(readText(local), marked);
    EXPECT_EQ(readLeaderboardCache(cachePath), cache);
}

// When the cache cannot take the entries, the local file keeps them until the next start.
TEST(LeaderboardCache, AMoveThatCannotBeWrittenLeavesTheLocalFileAlone) {
    TempDir folder;
    const std::string local = folder.file("leaderboard.json");
    const std::string text = R"({"levels": [{"name": "Neon", "scores": [{"player": "bo", "score": 90}]}]})";
    writeText(local, text);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(separateOwnResults(local, folder.file("no-such-folder/cache.json"), "ann"));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Failed to save leaderboard cache: "), std::string::npos) << err;
    EXPECT_EQ(readText(local), text);
}

} // namespace
