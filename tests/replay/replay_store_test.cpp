#include "replay/replay_store.hpp"

#include "capture.hpp"
#include "replay/replay_test_support.hpp"
#include "temp_dir.hpp"

#include <algorithm>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {

TEST(ReplayStore, LevelFolderNamesAreSafeAndDistinct) {
    std::vector<std::string> names = {"a/b",  "a_b",  "a?b",    "..",      "../..",    ".",          "",
                                      "a\nb", "a\\b", "C:evil", "Caf\xE9", "a\u202Eb", "\u66F2 Neon"};
    names.push_back(std::string(300, 'x'));
    std::set<std::string> seen;
    for (const std::string& name : names) {
        const std::string folder = replayLevelFolderName(name);
        SCOPED_TRACE(folder);
        EXPECT_TRUE(seen.insert(folder).second) << "shared by two names";
        EXPECT_LE(folder.size(), kMaxReplayFolderNameBytes + 13);
        EXPECT_EQ(folder.find_first_of("/\\.:?"), std::string::npos);
        EXPECT_TRUE(std::none_of(folder.begin(), folder.end(), [](char c) { return c >= 0 && c < 0x20; }));
    }
    EXPECT_EQ(replayLevelFolderName("a/b"), "a_b-c14cddc033f6");
    EXPECT_EQ(replayLevelFolderName("\u66F2 Neon").substr(0, 8), "\u66F2_Neon");
}

Replay roundOf(const std::string& level, std::int64_t endSeconds, std::int32_t score) {
    Replay replay = sampleReplay();
    replay.levelName = level;
    replay.startedAtMs = (1796600000 + endSeconds) * 1000 - 60000;
    replay.endedAtMs = (1796600000 + endSeconds) * 1000;
    replay.result.score = score;
    return replay;
}

std::string saved(const std::string& data, const Replay& replay) {
    std::string path, error;
    EXPECT_TRUE(saveReplay(data, replay, path, error)) << error;
    return path;
}

TEST(ReplayStore, AHostileLevelNameStaysInsideTheStore) {
    TempDir data;
    const std::string path = saved(data.path().string(), roundOf("../../escape", 0, 5));
    EXPECT_EQ(fs::path(path).parent_path().parent_path(), data.path() / "replays");
    EXPECT_EQ(fs::path(path).filename(), "20261206-233220-5.vbr");
    // The same second and score again: a second file, not a replacement.
    const std::string again = saved(data.path().string(), roundOf("../../escape", 0, 5));
    EXPECT_EQ(fs::path(again).filename(), "20261206-233220-5-2.vbr");
    EXPECT_EQ(listReplays(data.path().string(), "../../escape").size(), 2u);
}

// Level A's fifteen rounds are its oldest: it keeps its ten best, and its practice round, the
// highest score of all, is none of them. B's twenty are the latest, all kept, until a newer round of
// A pushes B's oldest (and worst) out. Foreign files stay.
TEST(ReplayStore, PruningKeepsTheBestOfEachLevelAndTheLatestRounds) {
    TempDir data;
    const std::string root = data.path().string();
    Replay practice = roundOf("A", 0, 1000);
    practice.practiceSpeedPercent = 75;
    saved(root, practice);
    for (int t = 1; t <= 15; ++t) {
        saved(root, roundOf("A", t, 100 - t));
    }
    const fs::path folderA = replayLevelFolder(root, "A");
    writeText((folderA / "notes.txt").string(), "mine");
    writeText((folderA / "broken.vbr").string(), "not a replay");
    for (int t = 16; t <= 35; ++t) {
        saved(root, roundOf("B", t, t));
    }
    auto scoresOf = [&](const std::string& level) { // latest first
        std::vector<std::int32_t> scores;
        for (const StoredReplay& replay : listReplays(root, level)) {
            scores.push_back(replay.summary.score);
        }
        return scores;
    };
    EXPECT_EQ(scoresOf("A"), (std::vector<std::int32_t>{90, 91, 92, 93, 94, 95, 96, 97, 98, 99}));
    EXPECT_EQ(scoresOf("B").size(), 20u);

    saved(root, roundOf("A", 36, 0));
    EXPECT_EQ(scoresOf("A"), (std::vector<std::int32_t>{0, 90, 91, 92, 93, 94, 95, 96, 97, 98, 99}));
    EXPECT_EQ(scoresOf("B").size(), 19u);
    EXPECT_EQ(scoresOf("B").back(), 17);
    EXPECT_TRUE(fs::exists(folderA / "notes.txt") && fs::exists(folderA / "broken.vbr"));
}

// A leaderboard row finds the player's replay of it by level, score, combo and song end (to a
// second either way); the bot's rounds, other rounds and pruned replays are not it.
TEST(ReplayStore, AnEntryFindsTheReplayOfItsRound) {
    TempDir data;
    const std::string root = data.path().string();
    auto own = [](std::int64_t endSeconds, std::int32_t score, std::int64_t songEndUs) {
        Replay replay = roundOf("A", endSeconds, score);
        replay.bot = false;
        replay.songEndUs = songEndUs;
        return replay;
    };
    const std::string first = saved(root, own(1, 500, 61900000)); // the song ended at 61.9 s
    saved(root, own(2, 500, 61400000));                           // a later round, equal score
    Replay bot = own(3, 700, 61900000);
    bot.bot = true;
    saved(root, bot);
    const std::string pruned = saved(root, own(4, 300, 61900000));
    for (int t = 5; t <= 14; ++t) {
        saved(root, own(t, 400, 5000000)); // ten better rounds of A push the 300 out of its best ten
    }
    for (int t = 15; t <= 34; ++t) {
        saved(root, roundOf("B", t, 1)); // and twenty later rounds of B out of the latest twenty
    }
    ASSERT_FALSE(fs::exists(pruned));
    const struct {
        ReplayEntry entry;
        std::string expected;
    } cases[] = {
        {{"A", 500, 61, 67}, first}, {{"A", 500, 60, 67}, first}, {{"A", 500, 62, 67}, first},
        {{"A", 500, 63, 67}, ""},    {{"A", 500, 59, 67}, ""},    {{"A", 500, 61, 66}, ""},
        {{"A", 501, 61, 67}, ""},    {{"A", 700, 61, 67}, ""},    {{"A", 300, 61, 67}, ""},
        {{"B", 500, 61, 67}, ""},    {{"C", 500, 61, 67}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(findReplayFor(root, c.entry), c.expected)
            << c.entry.levelName << " " << c.entry.score << " " << c.entry.timeSeconds << " "
            << c.entry.highestCombo;
    }
}

} // namespace
