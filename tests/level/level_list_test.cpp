#include "level/level_list.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

namespace {

constexpr std::size_t megabyte = 1 << 20;

} // namespace

// Lets whole entry lists be compared, and printed readably when they differ.
bool operator==(const LevelListEntry& a, const LevelListEntry& b) {
    return a.name == b.name && a.file == b.file && a.difficulty == b.difficulty &&
           a.description == b.description;
}

void PrintTo(const LevelListEntry& e, std::ostream* out) {
    *out << "{" << e.name << ", " << e.file << ", " << e.difficulty << ", " << e.description << "}";
}

namespace {

std::vector<LevelListEntry> parse(const std::string& text) {
    std::vector<LevelListEntry> entries;
    const std::size_t appended = parseLevelListText(text, entries);
    EXPECT_EQ(appended, entries.size());
    return entries;
}

const std::vector<LevelListEntry> samples = {
    {"Sample Level A", "sample_a.zip", 1, "Demo chill track"},
    {"Sample Level B", "sample_b.zip", 2, "Medium intensity"},
    {"Sample Level C", "sample_c.zip", 3, "Hard \xE2\x80\x93 lots of notes"}};

struct StringCase {
    const char* object;
    const char* expected;
};

TEST(LevelListString, TakesTheFirstNonEmptyQuotedValueOfTheKey) {
    const StringCase cases[] = {
        {R"({"name": "Neon"})", "Neon"},
        {R"({"name":"Neon"})", "Neon"},
        {R"({"name" :  "Neon"})", "Neon"},
        {"{\"name\"\t:\n\"Neon\"}", "Neon"},
        {"{\"name\"\r\n\v\f: \t\"Neon\"}", "Neon"},
        {R"({"name": "a", "name": "b"})", "a"},
        {R"({"name": ""})", ""},
        {R"({"name": "", "name": "Later"})", "Later"},
        {R"({"name": 5, "name": "y"})", "y"},
        {R"({"name" "x", "name": "y"})", "y"},
        {R"({"name": "a\"b"})", "a\\"},
        {R"({"name": "unterminated})", ""},
        {R"({"nickname": "x", "Name": "y"})", ""},
        {R"({"name": "Hard – notes"})", "Hard \xE2\x80\x93 notes"},
        {R"({"title": "name", "name": "x"})", "x"},
    };
    for (const StringCase& c : cases) {
        EXPECT_EQ(extractJsonString(c.object, "name"), c.expected) << c.object;
    }
}

struct IntCase {
    const char* object;
    std::int32_t fallback;
    std::int32_t expected;
};

TEST(LevelListInt, ReadsLeadingDigitsAndFallsBackOnAnythingElse) {
    const IntCase cases[] = {
        {R"({"difficulty": 4})", 1, 4},
        {R"({"name": "x"})", 1, 1},
        {R"({"name": "x"})", 7, 7},
        {R"({"difficulty": "4"})", 1, 1},
        {R"({"difficulty": -3})", 1, 1},
        {R"({"difficulty": 2.5})", 1, 2},
        {R"({"difficulty": 0})", 1, 0},
        {R"({"difficulty": 007})", 1, 7},
        {"{\"difficulty\" \r\n:\t 3}", 1, 3},
        {R"({"difficulty": "4", "difficulty": 3})", 1, 3},
        {R"({"difficulty": 2147483647})", 1, 2147483647},
        {R"({"difficulty": 000000000000000000004})", 1, 4},
        // Too large for 32 bits: the fallback, and no later occurrence is consulted.
        {R"({"difficulty": 2147483648})", 1, 1},
        {R"({"difficulty": 12345678901234567890})", 1, 1},
        {R"({"difficulty": 12345678901234567890, "difficulty": 3})", 5, 5},
    };
    for (const IntCase& c : cases) {
        EXPECT_EQ(extractJsonInt(c.object, "difficulty", c.fallback), c.expected) << c.object;
    }
}

TEST(LevelListText, KeepsOnlyObjectsWithANameAndAFile) {
    const std::vector<LevelListEntry> entries = parse(R"([
        {"name": "Neon Drive", "file": "neon_drive", "difficulty": 2, "description": "Synthwave"},
        {"name": "No File"},
        {"file": "no_name"},
        {"name": "", "file": "empty_name"}
    ])");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "Neon Drive");
    EXPECT_EQ(entries[0].file, "neon_drive");
    EXPECT_EQ(entries[0].difficulty, 2);
    EXPECT_EQ(entries[0].description, "Synthwave");
}

TEST(LevelListText, CutsEachObjectAtItsFirstClosingBrace) {
    // The inner object's keys are the only ones before the first '}'.
    std::vector<LevelListEntry> entries =
        parse(R"([{"inner": {"name": "Inner", "file": "in"}, "name": "Outer", "file": "out"}])");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "Inner");
    EXPECT_EQ(entries[0].file, "in");

    // Cut before its "file", the first object is dropped; the search resumes after the cut.
    entries = parse(R"([{"name": "A", "meta": {"x": 1}, "file": "a"}, {"name": "B", "file": "b"}])");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "B");
}

TEST(LevelListText, ReadsAMegabyteDescription) {
    const std::string description(megabyte, 'd');
    const std::vector<LevelListEntry> entries =
        parse(R"([{"name": "Long", "file": "long", "description": ")" + description + "\"}]");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].description, description);
}

TEST(LevelListText, IgnoresAMegabyteObjectWithoutAClosingBrace) {
    const std::string good = R"({"name": "A", "file": "a"}, )";
    std::vector<LevelListEntry> entries =
        parse(good + R"({"name": "B", "file": "b", "description": ")" + std::string(megabyte, 'd'));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "A");

    // Every '{' opens an object that never closes; this must not rescan the rest for each one.
    EXPECT_TRUE(parse(std::string(megabyte, '{')).empty());
}

// The process-wide list, reset around each test so that every one starts as at start-up.
class LevelList : public ::testing::Test {
protected:
    void SetUp() override { resetLevelListForTesting(); }
    void TearDown() override { resetLevelListForTesting(); }

    static std::string writeFile(const std::string& name, const std::string& text) {
        const std::string path = ::testing::TempDir() + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    // Runs the load, returning its result and what it wrote to stderr.
    static bool load(const std::string& path, std::string& errors) {
        CaptureStderr();
        const bool ok = loadLevelListFrom(path.c_str());
        errors = GetCapturedStderr();
        return ok;
    }
};

TEST_F(LevelList, FallsBackToTheSamplesWhenTheFileIsMissingOrEmpty) {
    const std::string paths[] = {::testing::TempDir() + "level_list_test_absent.json",
                                 writeFile("level_list_test_empty.json", "")};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        resetLevelListForTesting();
        std::string errors;
        EXPECT_TRUE(load(path, errors));
        EXPECT_EQ(errors, "Level list not found\n");
        EXPECT_TRUE(levelListLoaded);
        EXPECT_EQ(levelList, samples);
    }
}

TEST_F(LevelList, FallsBackToTheSamplesWhenNoEntryParses) {
    const std::string path =
        writeFile("level_list_test_unusable.json", R"([{"name": "No File"}, {"file": 3}])");
    std::string errors;
    EXPECT_TRUE(load(path, errors));
    EXPECT_EQ(errors, "Level list JSON parse produced no entries, filling fallback samples.\n");
    EXPECT_EQ(levelList, samples);
}

TEST_F(LevelList, ReadsTheFileOnlyOnce) {
    const std::string path =
        writeFile("level_list_test_once.json", R"([{"name": "First", "file": "first"}])");
    std::string errors;
    EXPECT_FALSE(levelListLoaded);
    ASSERT_TRUE(load(path, errors));
    EXPECT_EQ(errors, "");

    writeFile("level_list_test_once.json", R"([{"name": "X", "file": "x"}, {"name": "Y", "file": "y"}])");
    EXPECT_TRUE(load(path, errors));
    ASSERT_EQ(levelList.size(), 1u);
    EXPECT_EQ(levelList[0].name, "First");

    // Later calls only report whether the list has entries.
    levelList.clear();
    EXPECT_FALSE(load(path, errors));
    EXPECT_TRUE(levelList.empty());
    EXPECT_EQ(errors, "");
}

TEST_F(LevelList, LoadsTheShippedLevels) {
    CaptureStderr();
    ASSERT_TRUE(loadLevelList());
    EXPECT_EQ(GetCapturedStderr(), "");
    ASSERT_EQ(levelList.size(), 3u);
    for (const LevelListEntry& entry : levelList) {
        SCOPED_TRACE(entry.name);
        EXPECT_FALSE(entry.name.empty());
        EXPECT_FALSE(entry.file.empty());
        EXPECT_GE(entry.difficulty, 1);
        EXPECT_TRUE(std::filesystem::is_regular_file("levels/" + entry.file + "/level.json"));
    }
}

} // namespace
