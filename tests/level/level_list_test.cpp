#include "level/level_list.hpp"

#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

// Lets whole entry lists be compared, and printed readably when they differ.
bool operator==(const LevelListEntry& a, const LevelListEntry& b) {
    return a.name == b.name && a.file == b.file && a.difficulty == b.difficulty &&
           a.description == b.description && a.own == b.own && a.folder == b.folder;
}

void PrintTo(const LevelListEntry& e, std::ostream* out) {
    *out << "{" << e.name << ", " << e.file << ", " << e.difficulty << ", " << e.description << ", "
         << (e.own ? "own" : "shipped") << ", " << e.folder << "}";
}

namespace {

using Entries = std::vector<LevelListEntry>;
constexpr std::size_t megabyte = 1 << 20;

Entries parse(const std::string& text) {
    Entries entries;
    const std::size_t appended = parseLevelListText(text, entries);
    EXPECT_EQ(appended, entries.size());
    return entries;
}

TEST(LevelListString, TakesTheFirstNonEmptyQuotedValueOfTheKey) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"name":"Neon"})", "Neon"},
        {"{\"name\"\r\n\v\f: \t\"Neon\"}", "Neon"},
        {R"({"name": "a", "name": "b"})", "a"},
        {R"({"name": "", "name": "Later"})", "Later"},
        {R"({"name": 5, "name": "y"})", "y"},
        {R"({"name" "x", "name": "y"})", "y"},
        {R"({"name": "a\"b"})", "a\\"},
        {R"({"name": "unterminated})", ""},
        {R"({"nickname": "x", "Name": "y"})", ""},
        {R"({"title": "name", "name": "x"})", "x"},
    };
    for (const auto& [object, expected] : cases) {
        EXPECT_EQ(extractJsonString(object, "name"), expected) << object;
    }
}

TEST(LevelListInt, ReadsLeadingDigitsAndFallsBackOnAnythingElse) {
    const std::tuple<const char*, std::int32_t, std::int32_t> cases[] = {
        {R"({"difficulty": 4})", 1, 4},
        {R"({"name": "x"})", 7, 7},
        {R"({"difficulty": "4"})", 1, 1},
        {R"({"difficulty": 2.5})", 1, 2},
        {R"({"difficulty": 0})", 1, 0},
        {"{\"difficulty\" \r\n:\t 3}", 1, 3},
        {R"({"difficulty": "4", "difficulty": 3})", 1, 3},
        {R"({"difficulty": 2147483647})", 1, 2147483647},
        {R"({"difficulty": 000000000000000000004})", 1, 4},
        // Too large for 32 bits: the fallback, and no later occurrence is consulted.
        {R"({"difficulty": 2147483648})", 1, 1},
        {R"({"difficulty": 12345678901234567890, "difficulty": 3})", 5, 5},
    };
    for (const auto& [object, fallback, expected] : cases) {
        EXPECT_EQ(extractJsonInt(object, "difficulty", fallback), expected) << object;
    }
}

TEST(LevelListText, KeepsOnlyObjectsWithANameAndAFile) {
    EXPECT_EQ(parse(R"([
        {"name": "Neon Drive", "file": "neon_drive", "difficulty": 2, "description": "Synthwave"},
        {"name": "No File"}, {"file": "no_name"}, {"name": "", "file": "empty_name"}])"),
              Entries({{"Neon Drive", "neon_drive", 2, "Synthwave"}}));
}

TEST(LevelListText, CutsEachObjectAtItsFirstClosingBrace) {
    // The inner object's keys are the only ones before the first '}'.
    EXPECT_EQ(parse(R"([{"inner": {"name": "Inner", "file": "in"}, "name": "Outer", "file": "out"}])"),
              Entries({{"Inner", "in", 1, ""}}));
    // Cut before its "file", the first object is dropped; the search resumes after the cut.
    EXPECT_EQ(parse(R"([{"name": "A", "meta": {"x": 1}, "file": "a"}, {"name": "B", "file": "b"}])"),
              Entries({{"B", "b", 1, ""}}));
}

TEST(LevelListText, ReadsMegabyteObjectsAndIgnoresOneLeftOpen) {
    const std::string description(megabyte, 'd');
    EXPECT_EQ(parse(R"([{"name": "Long", "file": "long", "description": ")" + description + "\"}]"),
              Entries({{"Long", "long", 1, description}}));
    EXPECT_EQ(
        parse(R"({"name": "A", "file": "a"}, {"name": "B", "file": "b", "description": ")" + description),
        Entries({{"A", "a", 1, ""}}));
    // Every '{' opens an object that never closes; this must not rescan the rest for each one.
    EXPECT_TRUE(parse(std::string(megabyte, '{')).empty());
}

TEST(LevelList, FallsBackToTheSamplesWhenNoEntryCanBeRead) {
    TempDir dir;
    Entries samples;
    appendSampleLevels(samples);
    ASSERT_EQ(samples.size(), 3u);
    const std::pair<const char*, const char*> cases[] = {
        {nullptr, "Level list not found\n"},
        {"", "Level list not found\n"},
        {R"([{"name": "No File"}, {"file": 3}])",
         "Level list JSON parse produced no entries, filling fallback samples.\n"}};
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text == nullptr ? "no file" : text);
        const std::string path = dir.file(text == nullptr ? "absent.json" : "levels.json");
        if (text != nullptr) {
            std::ofstream(path, std::ios::binary) << text;
        }
        Entries loaded;
        CaptureStderr();
        loaded = loadLevelList(path.c_str());
        EXPECT_EQ(GetCapturedStderr(), message);
        EXPECT_EQ(loaded, samples);
    }
}

TEST(PlayerLevels, ListsEachFolderWithALevelJsonAfterTheShippedOnesAsTheirs) {
    TempDir dir;
    const std::filesystem::path levels = dir.path() / "levels";
    const std::pair<const char*, const char*> folders[] = {
        {"b_song", R"({"songMetaData": [{"title": "Night Bus", "difficulty": 3, "description": "Mine."}]})"},
        {"a_song", R"({"songMetaData": [{"title": "Neon Drive", "difficulty": 9}]})"},
        {"c_bad", "{not json"},
        {"d_untitled", R"({"stems": []})"},
        {".making-x1", R"({"songMetaData": [{"title": "Half made"}]})"},
        {"e_empty", nullptr},
    };
    for (const auto& [name, manifest] : folders) {
        std::filesystem::create_directories(levels / name);
        if (manifest != nullptr) {
            std::ofstream(levels / name / "level.json", std::ios::binary) << manifest;
        }
    }
    Entries entries = {{"Neon Drive", "neon_drive", 2, "Shipped.", false, ""}};
    EXPECT_EQ(appendPlayerLevels(levels.string(), entries), 4u);
    const Entries expected = {
        {"Neon Drive", "neon_drive", 2, "Shipped.", false, ""},
        {"Neon Drive (yours)", "a_song", 1, "Your level.", true, (levels / "a_song").string()},
        {"Night Bus", "b_song", 3, "Mine.", true, (levels / "b_song").string()},
        {"c_bad", "c_bad", 1, "Your level; its level.json cannot be read.", true,
         (levels / "c_bad").string()},
        {"d_untitled", "d_untitled", 1, "Your level.", true, (levels / "d_untitled").string()},
    };
    EXPECT_EQ(entries, expected);
    for (const LevelListEntry& entry : entries) {
        EXPECT_EQ(levelFolderOf(entry), entry.own ? entry.folder : "levels/" + entry.file);
    }
    EXPECT_EQ(appendPlayerLevels(dir.file("absent"), entries), 0u);
}

} // namespace
