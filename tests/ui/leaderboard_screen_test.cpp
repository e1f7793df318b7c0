#include "ui/leaderboard_screen.hpp"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;

TEST(LeaderboardScreen, RowsComeSortedBestFirstWithTheirDefaults) {
    const json document = json::parse(R"({"levels": [
        {"name": "Intro", "scores": [
            {"player": "Cid", "score": 500, "time": 125, "highestLayer": "3/8", "highestCombo": 12},
            {"player": "Ann", "score": 900},
            {"player": "Bo", "score": 700.9, "time": 3600, "highestLayer": 3, "highestCombo": 4.5},
            {"player": "Tie", "score": 500},
            {"player": 7, "score": 1000},
            {"player": "NoScore"},
            {"player": "Text", "score": "999"},
            "not an entry"]},
        {"name": 12, "scores": []},
        {"name": "Empty"},
        [1, 2]]})");
    const std::vector<LeaderboardLevel> levels = parseLeaderboardForDisplay(document);
    ASSERT_EQ(levels.size(), 2u) << "a level without a string name is skipped";
    EXPECT_EQ(levels[1].name, "Empty");
    EXPECT_TRUE(levels[1].rows.empty()) << "a level without scores still shows";
    const std::vector<LeaderboardRow>& rows = levels[0].rows;
    ASSERT_EQ(rows.size(), 4u) << "rows without a string player or a numeric score are skipped";
    const char* order[] = {"Ann", "Bo", "Cid", "Tie"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rows[i].player, order[i]) << "best first; equal scores keep the document's order";
    }
    EXPECT_EQ(rows[1].score, 700);
    EXPECT_EQ(rows[1].time, 3600);
    EXPECT_EQ(rows[1].layer, "0/0") << "a layer that is not text";
    EXPECT_EQ(rows[1].combo, 4);
    EXPECT_EQ(rows[0].layer, "0/0");
    EXPECT_EQ(rows[0].time, 0);
    EXPECT_EQ(rows[2].layer, "3/8");
    EXPECT_EQ(formatSongTime(rows[2].time), "02:05");
    EXPECT_EQ(formatSongTime(3600), "60:00");
    EXPECT_EQ(formatSongTime(0), "00:00");
}

TEST(LeaderboardScreen, NoDocumentMeansNoLevels) {
    for (const char* text : {"null", "[]", "{}", R"({"levels": {}})", "42", R"({"levels": null})"}) {
        EXPECT_TRUE(parseLeaderboardForDisplay(json::parse(text)).empty()) << text;
    }
}

TEST(LeaderboardScreen, AFetchedDocumentReachesTheScreenOnce) {
    const std::string longName(10000, 'W');
    receiveLeaderboard(json{{"levels", {{{"name", longName}, {"scores", json::array()}}}}});
    ASSERT_EQ(shownLeaderboardLevels().size(), 1u);
    EXPECT_EQ(shownLeaderboardLevels()[0].name, longName);
    receiveLeaderboard(nullptr);
    EXPECT_TRUE(shownLeaderboardLevels().empty()) << "a fetch with no data empties the list";
}

} // namespace
