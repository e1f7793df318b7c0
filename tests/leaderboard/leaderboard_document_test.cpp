#include "leaderboard/leaderboard_cache.hpp"
#include "leaderboard/leaderboard_test_support.hpp"
#include "ui/leaderboard_screen.hpp"

#include <cmath>
#include <limits>

using nlohmann::json;
using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

namespace {

// A document with the single level "Intro" holding the given score entries (JSON text).
std::string intro(const std::string& scores) {
    return R"({"levels":[{"name":"Intro","scores":[)" + scores + "]}]}";
}

// The entry a save of RoundResult{level, player, score} (other fields default) writes.
std::string entry(const std::string& player, int score) {
    return R"({"player":")" + player + R"(","score":)" + std::to_string(score) +
           R"(,"time":0,"highestLayer":"1/8","highestCombo":0})";
}

const std::string ann900 = R"({"player":"Ann","score":900,"time":61,"highestLayer":"2/8","highestCombo":14})";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The file afterwards holds the document indented by four, keys in order; the saved copy is handed back.
TEST(LeaderboardSave, AppliesTheSaveRulesToWhatTheFileHolds) {
    struct Case {
        std::string before; // the file's text
        RoundResult result;
        std::string after;   // the document the file holds afterwards
        std::string logLine; // printed on stdout besides the success line
    };
    const std::string kept = "Score less than high score. High score: ";
    const std::string fresh = intro(entry("Ann", 5));
    const RoundResult ann5{"Intro", "Ann", 5};
    const std::string float900 = intro(R"({"player":"Ann","score":900.9})");
    const std::string boolean1 = intro(R"({"player":"Ann","score":true})");
    const Case cases[] = {
        // A new file holds this computer's own results only, and says so.
        {"",
         {"Intro", "Ann", 900, 61, 2, 8, 14},
         R"({"ownResultsOnly":true,)" + intro(ann900).substr(1),
         "not found or empty. Creating a new one at /"},
        {intro(ann900), {"Intro", "Ann", 800}, intro(ann900), kept + "800\n"},
        {intro(ann900), {"Intro", "Ann", 900}, intro(ann900), kept + "900\n"},
        {intro(R"({"player":"Ann","score":1,"time":61,"highestCombo":14,"pad":1})"), ann5,
         intro(R"({"player":"Ann","score":5,"time":0,"highestLayer":"1/8","highestCombo":0,"pad":1})"), ""},
        {intro(ann900), {"Intro", "Bob", 1}, intro(ann900 + "," + entry("Bob", 1)), ""},
        {intro(ann900),
         {"Outro", "Ann", 1},
         R"({"levels":[{"name":"Intro","scores":[)" + ann900 + R"(]},{"name":"Outro","scores":[)" +
             entry("Ann", 1) + "]}]}",
         ""},
        // Names that are not UTF-8 are written with replacement characters.
        {"",
         {"Caf\xE9", "\xFFnn", 5},
         R"({"ownResultsOnly":true,"levels":[{"name":"Caf\uFFFD","scores":[)" + entry("\xEF\xBF\xBDnn", 5) +
             "]}]}",
         ""},
        {"{}", ann5, fresh, ""},
        {"[1, 2]", ann5, fresh, ""},
        {R"({"levels":{"name":"Intro"}})", ann5, fresh, ""},
        {R"({"levels":[{"name":"Intro","scores":"none"}]})", ann5, fresh, ""},
        // A stored score is read as storedScore reads it; one that cannot be read loses.
        {float900, {"Intro", "Ann", 900}, float900, kept},
        {boolean1, {"Intro", "Ann", 1}, boolean1, kept},
        {intro(R"({"player":"Ann","score":"99999"})"), ann5, fresh, ""},
        {R"({"v":2,"levels":[{"name":"Intro","bpm":1,"scores":[]}]})", ann5,
         R"({"v":2,"levels":[{"name":"Intro","bpm":1,"scores":[)" + entry("Ann", 5) + "]}]}", ""},
        {R"({"levels":[7,{"name":5},{"name":"Intro","scores":[null,{"player":1}]}]})", ann5,
         R"({"levels":[7,{"name":5},{"name":"Intro","scores":[null,{"player":1},)" + entry("Ann", 5) + "]}]}",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before + " + " + c.result.level + "/" + c.result.player + " " +
                     std::to_string(c.result.score));
        TempDir folder;
        const std::string path = folder.file("leaderboard.json");
        writeText(path, c.before);
        json saved;
        CaptureStdout();
        const bool ok = saveRoundResultTo(path, c.result, saved);
        const std::string out = GetCapturedStdout();
        EXPECT_TRUE(ok);
        EXPECT_TRUE(contains(out, c.logLine) &&
                    contains(out, "Leaderboard successfully saved to " + path + "\n"))
            << out;
        EXPECT_EQ(readText(path), json::parse(c.after).dump(4));
        EXPECT_EQ(serializeLeaderboard(saved, 4), readText(path)) << "the saved copy is what was written";
    }
}

TEST(LeaderboardSave, MovesTextThatIsNotJsonAsideBeforeReplacingIt) {
    const std::string fresh = intro(entry("Ann", 5));
    // A document nested a million deep parses, but writing it would overflow the stack.
    const std::string deep =
        R"({"levels": [], "x": )" + std::string(1000000, '[') + std::string(1000000, ']') + "}";
    const std::pair<std::string, std::string> cases[] = {
        {"{\"levels\": [ oops", "[json.exception.parse_error"},
        {deep, "nested deeper than 64 levels"},
    };
    for (const auto& [text, reason] : cases) {
        TempDir folder;
        const std::string path = folder.file("leaderboard.json");
        writeText(path, text);
        writeText(path + ".bad", "an older bad file");
        json saved;
        CaptureStderr();
        const bool ok = quietly([&] {
            return saveRoundResultTo(path, RoundResult{"Intro", "Ann", 5}, saved);
        });
        const std::string err = GetCapturedStderr();
        EXPECT_TRUE(ok);
        EXPECT_EQ(err.rfind("Failed to parse existing leaderboard JSON: " + reason, 0), 0u) << err;
        EXPECT_TRUE(contains(err, ". Creating new file.\n")) << err;
        EXPECT_TRUE(readText(path + ".bad") == text);
        EXPECT_EQ(json::parse(readText(path)), json::parse(R"({"ownResultsOnly":true,)" + fresh.substr(1)));
    }
}

// A corrupt file that cannot be moved aside is never overwritten: a non-empty folder in the way of
// the rename stops it even for root, whom permissions would not stop.
TEST(LeaderboardSave, KeepsACorruptFileThatCannotBeMovedAside) {
    TempDir folder;
    const std::string path = folder.file("leaderboard.json");
    const std::string corrupt = "{\"levels\": [ a hand-edited file";
    writeText(path, corrupt);
    std::filesystem::create_directories(path + ".bad/in-the-way");
    json saved;
    CaptureStderr();
    const bool ok = quietly([&] { return saveRoundResultTo(path, RoundResult{"Intro", "Ann", 5}, saved); });
    const std::string err = GetCapturedStderr();
    EXPECT_FALSE(ok);
    EXPECT_TRUE(contains(err, "Failed to save leaderboard file: cannot move the unreadable file aside to " +
                                  path + ".bad: "))
        << err;
    EXPECT_TRUE(readText(path) == corrupt);
    EXPECT_TRUE(std::filesystem::is_directory(path + ".bad/in-the-way"));
}

TEST(LeaderboardSave, SavesNothingForAnEmptyLevelOrPlayerName) {
    TempDir folder;
    const std::string path = folder.file("leaderboard.json");
    for (const RoundResult& result : {RoundResult{"", "Ann", 5}, RoundResult{"Intro", "", 5}}) {
        json saved;
        EXPECT_FALSE(saveRoundResultTo(path, result, saved));
        EXPECT_FALSE(std::filesystem::exists(path));
        json document = json::parse(intro(ann900));
        EXPECT_FALSE(applyRoundResult(document, result));
        EXPECT_EQ(document, json::parse(intro(ann900)));
    }
}

TEST(LeaderboardSave, ReportsAFileThatCannotBeWritten) {
    TempDir folder;
    const std::string path = folder.file("no-such-folder/leaderboard.json");
    json saved;
    CaptureStderr();
    const bool ok = quietly([&] { return saveRoundResultTo(path, RoundResult{"Intro", "Ann", 5}, saved); });
    const std::string err = GetCapturedStderr();
    EXPECT_FALSE(ok);
    EXPECT_EQ(err.rfind("Failed to save leaderboard file: ", 0), 0u) << err;
    EXPECT_TRUE(contains(err, "No such file or directory")) << err;
    EXPECT_EQ(findPlayerScore(saved, "Intro", "Ann"), 5); // still handed back for the upload
}

TEST(LeaderboardStoredScore, ReadsNumbersAndBooleansClampedToInt32) {
    constexpr std::int32_t low = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t high = std::numeric_limits<std::int32_t>::max();
    const std::pair<json, std::optional<std::int32_t>> cases[] = {
        {5, 5},
        {-7, -7},
        {std::int64_t{1} << 40, high},
        {-(std::int64_t{1} << 40), low},
        {std::numeric_limits<std::uint64_t>::max(), high},
        {900.9, 900},
        {-2.7, -2},
        {1e300, high},
        {-1e300, low},
        {std::nan(""), std::nullopt},
        {INFINITY, std::nullopt},
        {true, 1},
        {false, 0},
        {"5", std::nullopt},
        {nullptr, std::nullopt},
        {json::array({5}), std::nullopt},
        {json::object({{"score", 5}}), std::nullopt},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(storedScore(value), expected) << value.dump();
    }
}

TEST(LeaderboardFind, ReadsTheFirstMatchingEntryExactly) {
    const std::tuple<std::string, const char*, const char*, std::int32_t> cases[] = {
        {intro(ann900), "Intro", "Ann", 900},
        {intro(ann900), "Intro", "ann", 0},
        {intro(ann900), "Outro", "Ann", 0},
        {intro(ann900), "Intro", "Bob", 0},
        {intro(R"({"player":"Ann","score":5},{"player":"Ann","score":9})"), "Intro", "Ann", 5},
        {R"({"levels":[{"name":"Intro"},{"name":"Intro","scores":[{"player":"Ann","score":9}]}]})", "Intro",
         "Ann", 0},
        {intro(R"({"player":"Ann","score":"9"})"), "Intro", "Ann", 0},
        {intro(R"({"player":"Ann","score":true})"), "Intro", "Ann", 1},
        {R"({"levels":{"name":"Intro"}})", "Intro", "Ann", 0},
        {R"([{"name":"Intro"}])", "Intro", "Ann", 0}};
    for (const auto& [document, level, player, expected] : cases) {
        EXPECT_EQ(findPlayerScore(json::parse(document), level, player), expected)
            << document << " " << player;
    }
}

TEST(LeaderboardPlayerEntries, KeepsOnlyThePlayersOwnEntriesWhole) {
    const json document = json::parse(R"({"v": 1, "levels": [
        {"name": "Intro", "bpm": 1, "scores": [{"player": "Bob", "score": 3}, {"player": "Ann", "score": 7, "pad": 1}]},
        {"name": "Solo", "scores": [{"player": "Bob", "score": 4}]}, 5,
        {"name": "Outro", "scores": [{"player": "Ann", "score": 2}, {"player": "Ann", "score": 8}]},
        {"name": "Intro", "scores": [{"player": "Ann", "score": 99}]}]})");
    EXPECT_EQ(playerEntries(document, "Ann"), json::parse(R"({"levels": [
        {"name": "Intro", "scores": [{"player": "Ann", "score": 7, "pad": 1}]},
        {"name": "Outro", "scores": [{"player": "Ann", "score": 2}]}]})"));
    EXPECT_EQ(playerEntries(json::array(), "Ann"), json::parse(R"({"levels": []})"));
}

TEST(LeaderboardMerge, KeepsTheHigherEntryOfEveryLevelAndPlayer) {
    // local, server, expected local afterwards
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {intro(R"({"player":"Ann","score":1,"time":1})"), intro(R"({"player":"Ann","score":2,"via":"web"})"),
         intro(R"({"player":"Ann","score":2,"via":"web"})")},
        {intro(R"({"player":"Ann","score":3})"), intro(R"({"player":"Ann","score":2})"),
         intro(R"({"player":"Ann","score":3})")},
        {intro(R"({"player":"Ann","score":2,"time":1})"), intro(R"({"player":"Ann","score":2,"time":2})"),
         intro(R"({"player":"Ann","score":2,"time":1})")},
        // A result saved while the server was down survives; new players and levels come after.
        {intro(R"({"player":"Ann","score":5})"),
         R"({"levels":[{"name":"Intro","scores":[{"player":"Bob","score":1}]},{"name":"J","scores":[]}]})",
         R"({"levels":[{"name":"Intro","scores":[{"player":"Ann","score":5},{"player":"Bob","score":1}]},)"
         R"({"name":"J","scores":[]}]})"},
        {R"({"levels":[]})",
         R"({"levels":[{"name":"J","bpm":9,"scores":[{"player":"Cy","score":1},{"player":5,"score":1},)"
         R"({"player":"Dee","score":"x"},7]}]})",
         R"({"levels":[{"name":"J","bpm":9,"scores":[{"player":"Cy","score":1}]}]})"},
        {intro(R"({"player":"Ann","score":1})"),
         R"({"levels":[5,{"name":7,"scores":[{"player":"Ann","score":9}]},{"scores":[{"player":"Ann","score":9}]},)"
         R"({"name":"Intro","scores":[{"player":"Ann","score":"99"},{"score":9}]}]})",
         intro(R"({"player":"Ann","score":1})")},
        {R"({"v":3,"levels":[{"name":"Intro","bpm":1,"scores":[]}]})",
         R"({"serverTime":5,"levels":[{"name":"Intro","bpm":999,"scores":[]}]})",
         R"({"v":3,"levels":[{"name":"Intro","bpm":1,"scores":[]}]})"},
        {"[1]", intro(R"({"player":"Ann","score":1})"), intro(R"({"player":"Ann","score":1})")},
        {intro(R"(7,{"player":1},{"player":"Ann","score":"x"})"), intro(R"({"player":"Ann","score":0})"),
         intro(R"(7,{"player":1},{"player":"Ann","score":0})")}};
    for (const auto& [before, server, after] : cases) {
        json local = json::parse(before);
        EXPECT_TRUE(mergeLeaderboards(local, json::parse(server))) << before << " + " << server;
        EXPECT_EQ(local, json::parse(after)) << before << " + " << server;
    }
}

// "verified" counts only as the JSON value true: by the document's rule, in what the cache keeps of
// a server's entry, and on the row the screen shows.
TEST(LeaderboardVerified, OnlyAJsonTrueCounts) {
    const std::pair<const char*, bool> cases[] = {
        {R"(,"verified":true)", true},   {R"(,"verified":false)", false},  {"", false},
        {R"(,"verified":1)", false},     {R"(,"verified":"true")", false}, {R"(,"verified":null)", false},
        {R"(,"verified":[true])", false}};
    for (const auto& [member, verified] : cases) {
        SCOPED_TRACE(member);
        const json entry = json::parse(std::string(R"({"player":"Ann","score":5)") + member + "}");
        EXPECT_EQ(isVerifiedEntry(entry), verified);
        json level;
        int dropped = 0;
        std::string error;
        ASSERT_TRUE(readServerBoardLevel(json::parse(intro(entry.dump())), "Intro", level, dropped, error));
        const json expected = verified ? json::parse(R"({"player":"Ann","score":5,"verified":true})")
                                       : json::parse(R"({"player":"Ann","score":5})");
        EXPECT_EQ(level["scores"], json::array({expected}));
        EXPECT_EQ(parseLeaderboardForDisplay(json::parse(intro(entry.dump()))).at(0).rows.at(0).verified,
                  verified);
    }
    EXPECT_FALSE(isVerifiedEntry(json(true)));
}

// The player's own file cannot make a row verified; a tie with the server's verified entry does.
// Verified rows come first, each group by score, the server's order kept among equals.
TEST(LeaderboardVerified, OnlyTheServerSaysSoAndItsRowsComeFirst) {
    const json local =
        json::parse(intro(R"({"player":"ann","score":40},{"player":"me","score":90,"verified":true})"));
    const json cache =
        json::parse(intro(R"({"player":"bo","score":30,"verified":true},)"
                          R"({"player":"ANN","score":40,"verified":true},{"player":"cy","score":99},)"
                          R"({"player":"dee","score":30,"verified":true},)"
                          R"({"player":"me","score":50,"verified":true})"));
    const std::vector<LeaderboardRow> rows =
        parseLeaderboardForDisplay(mergeForDisplay(local, cache)).at(0).rows;
    std::vector<std::tuple<std::string, int, bool>> shown;
    for (const LeaderboardRow& row : rows) {
        shown.emplace_back(row.player, row.score, row.verified);
    }
    EXPECT_EQ(
        shown,
        (std::vector<std::tuple<std::string, int, bool>>{
            {"ann", 40, true}, {"bo", 30, true}, {"dee", 30, true}, {"cy", 99, false}, {"me", 90, false}}));
}

// A server answer that is not a leaderboard changes nothing.
TEST(LeaderboardMerge, RejectsAServerAnswerThatIsNotALeaderboard) {
    for (const char* server : {"[]", R"({"levels": 5})", "{}", "null", R"("levels")"}) {
        json local = json::parse(intro(ann900));
        EXPECT_FALSE(mergeLeaderboards(local, json::parse(server))) << server;
        EXPECT_EQ(local, json::parse(intro(ann900))) << server;
    }
}

} // namespace
