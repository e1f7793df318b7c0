// The cache of the server's board and its cap, and the first start that takes the player's own
// results over from where an earlier version kept them.
#include "leaderboard/leaderboard_cache.hpp"
#include "leaderboard/leaderboard_test_support.hpp"

#include <filesystem>

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

TEST(OldResults, TheFirstStartTakesThePlayersOwnEntriesOnceAndLeavesTheOldFileAlone) {
    TempDir folder;
    const std::string oldPath = folder.file("old.json"), newPath = folder.file("leaderboard.json");
    const std::string before = R"({"levels": [
        {"name": "Neon", "bpm": 120, "scores": [{"player": "ANN", "score": 40, "x": 1}, {"player": "bo", "score": 90},
                                                {"player": 7, "score": 1}]},
        {"name": "Drift", "scores": [{"player": "cy", "score": 5}]}, {"scores": [{"player": "ann"}]}]})";
    writeText(oldPath, before);
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(takeOldResults(oldPath, newPath, "ann"));
    const std::string logged = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(logged.find("Took 1 of ann's results from " + oldPath + " into " + newPath), std::string::npos)
        << logged;
    EXPECT_EQ(json::parse(readText(newPath)), json::parse(R"({"ownResultsOnly": true, "levels": [
        {"name": "Neon", "scores": [{"player": "ANN", "score": 40, "x": 1}]}]})"));
    EXPECT_EQ(readText(oldPath), before);

    // Once: a later start (another name, results saved since) takes nothing more.
    writeText(newPath, "{}");
    EXPECT_TRUE(takeOldResults(oldPath, newPath, "bo"));
    EXPECT_EQ(readText(newPath), "{}");
}

TEST(OldResults, ACorruptOldFileIsLeftAsItIsWithAMessage) {
    TempDir folder;
    const std::string oldPath = folder.file("old.json"), newPath = folder.file("leaderboard.json");
    writeText(oldPath, "{\"levels\": [");
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(takeOldResults(oldPath, newPath, "ann"));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Not taking the results from " + oldPath + ": "), std::string::npos) << err;
    EXPECT_NE(err.find("; the file is left as it is"), std::string::npos) << err;
    EXPECT_EQ(readText(oldPath), "{\"levels\": [");
    EXPECT_EQ(json::parse(readText(newPath)), json::parse(R"({"ownResultsOnly": true, "levels": []})"));
    // No old file: nothing is written.
    EXPECT_TRUE(takeOldResults(folder.file("absent.json"), folder.file("other.json"), "ann"));
    EXPECT_FALSE(std::filesystem::exists(folder.file("other.json")));
}

} // namespace
