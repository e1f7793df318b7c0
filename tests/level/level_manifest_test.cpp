#include "level/level_manifest.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

namespace {

struct Parsed {
    bool ok = false;
    LevelDefinition level;
    std::string errors;
};

Parsed parse(const std::string& text) {
    Parsed parsed;
    CaptureStderr();
    parsed.ok = parseLevelManifestText(text, "levels/test.json", parsed.level);
    parsed.errors = GetCapturedStderr();
    return parsed;
}

// Orders beyond the 32-bit range are clamped to it, so they still sort at the ends.
TEST(LevelManifest, SortsByStartOrderKeepingFileOrderForTies) {
    const Parsed p = parse(R"({"stems": [
        {"file": "last.ogg", "startOrder": 1e12},
        {"file": "b.ogg", "startOrder": 1},
        {"file": "c.ogg", "startOrder": 1},
        {"file": "a.ogg"},
        {"file": "first.ogg", "startOrder": -1},
        {"file": "very_first.ogg", "startOrder": -1e12}]})");
    ASSERT_TRUE(p.ok);
    std::vector<std::string> files;
    for (const Stem& stem : p.level.stems) {
        files.push_back(stem.file);
    }
    EXPECT_EQ(files, std::vector<std::string>(
                         {"very_first.ogg", "first.ogg", "a.ogg", "b.ogg", "c.ogg", "last.ogg"}));
    EXPECT_EQ(p.level.stems.front().startOrder, INT32_MIN);
    EXPECT_EQ(p.level.stems.back().startOrder, INT32_MAX);
    EXPECT_EQ(p.errors, "");
}

TEST(LevelManifest, AbsentKeysTakeTheirDefaults) {
    const Parsed p = parse(R"({"stems": [{"file": "a.ogg", "animation": {"peak": 3.5}}]})");
    ASSERT_TRUE(p.ok);
    const Stem& s = p.level.stems[0];
    EXPECT_EQ(s.midi, "");
    EXPECT_EQ(s.startOrder, 0);
    EXPECT_TRUE(s.playsNotes);
    EXPECT_FLOAT_EQ(s.animationBase, 1.0f);
    EXPECT_FLOAT_EQ(s.animationPeak, 3.5f);
    EXPECT_FLOAT_EQ(s.animationLerpSpeed, 18.0f);
    EXPECT_FLOAT_EQ(s.colorR, 1.0f);
    EXPECT_FLOAT_EQ(s.colorG, 1.0f);
    EXPECT_FLOAT_EQ(s.colorB, 1.0f);
    EXPECT_FLOAT_EQ(p.level.bpm, 120.0f);
}

TEST(LevelManifest, ReadsEveryKey) {
    const Parsed p =
        parse(R"({"stems": [{"file": "a.ogg", "midi": "a.mid", "startOrder": 2, "playsNotes": false,
        "instrument": "bass", "animation": {"base": 0.5, "peak": 2.5, "lerpSpeed": 9},
        "color": [0.25, 0.5, 0.75], "extra": "ignored"}], "bpm": 95})");
    ASSERT_TRUE(p.ok);
    const Stem& s = p.level.stems[0];
    EXPECT_EQ(s.midi, "a.mid");
    EXPECT_EQ(s.startOrder, 2);
    EXPECT_FALSE(s.playsNotes);
    EXPECT_EQ(s.instrument, "bass");
    EXPECT_FLOAT_EQ(s.animationBase, 0.5f);
    EXPECT_FLOAT_EQ(s.animationLerpSpeed, 9.0f);
    EXPECT_FLOAT_EQ(s.colorG, 0.5f);
    EXPECT_FLOAT_EQ(p.level.bpm, 95.0f);
}

TEST(LevelManifest, ColourOfTheWrongLengthLeavesWhiteButAWrongTypeDropsTheEntry) {
    Parsed p =
        parse(R"({"stems": [{"file": "a.ogg", "color": [1, 0]}, {"file": "b.ogg", "color": [0, 0, 0, 1]}]})");
    ASSERT_TRUE(p.ok);
    EXPECT_FLOAT_EQ(p.level.stems[0].colorG, 1.0f);
    EXPECT_FLOAT_EQ(p.level.stems[1].colorB, 1.0f);

    p = parse(R"({"stems": [{"file": "a.ogg", "color": ["red", 0, 0]}, {"file": "b.ogg"}]})");
    ASSERT_TRUE(p.ok);
    ASSERT_EQ(p.level.stems.size(), 1u);
    EXPECT_EQ(p.level.stems[0].file, "b.ogg");
    EXPECT_EQ(p.errors.rfind("Error reading stem entry: ", 0), 0u) << p.errors;
}

TEST(LevelManifest, EntriesThatDoNotConvertAreDroppedWithTheirMessage) {
    const Parsed p = parse(R"({"stems": [
        {"file": 3}, "not an object", {"file": "a.ogg", "animation": 2},
        {"file": "b.ogg", "startOrder": "late"}, {"file": "c.ogg", "animation": {"base": "x"}},
        {"file": "kept.ogg"}]})");
    ASSERT_TRUE(p.ok);
    ASSERT_EQ(p.level.stems.size(), 1u);
    EXPECT_EQ(p.level.stems[0].file, "kept.ogg");
    size_t lines = 0;
    for (size_t at = p.errors.find("Error reading stem entry: "); at != std::string::npos;
         at = p.errors.find("Error reading stem entry: ", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 5u) << p.errors;
}

TEST(LevelManifest, EntriesWithoutAFileAreDroppedSilently) {
    const Parsed p = parse(R"({"stems": [{"midi": "a.mid"}, {"file": ""}]})");
    EXPECT_FALSE(p.ok);
    EXPECT_TRUE(p.level.stems.empty());
    EXPECT_EQ(p.errors, "");
}

TEST(LevelManifest, RefusesWhatIsNotAManifest) {
    // Nested a million deep: parses, but the tempo's message would overflow the stack writing it.
    const std::string deep = std::string(1000000, '[') + std::string(1000000, ']');
    for (const std::string& text :
         {std::string("{\"stems\": [,]}"), R"({"stems": [{"file": "a"}], "bpm": )" + deep + "}"}) {
        Parsed p = parse(text);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.errors.rfind("JSON parse error in levels/test.json: ", 0), 0u) << p.errors;
    }

    Parsed p;
    for (const char* text : {"[]", "{}", R"({"stems": {}})", R"({"stems": "a.ogg"})"}) {
        p = parse(text);
        EXPECT_FALSE(p.ok) << text;
        EXPECT_EQ(p.errors, "Invalid level JSON: missing 'stems' array\n") << text;
    }
    p = parse(R"({"stems": []})");
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.errors, "");
}

TEST(LevelManifest, TempoComesFromSongMetaDataThenTheRoot) {
    EXPECT_FLOAT_EQ(
        parse(R"({"stems": [{"file": "a"}], "songMetaData": [{"bpm": 90}], "bpm": 70})").level.bpm, 90.0f);
    EXPECT_FLOAT_EQ(parse(R"({"stems": [{"file": "a"}], "songMetaData": [], "bpm": 70})").level.bpm, 70.0f);
    EXPECT_FLOAT_EQ(parse(R"({"stems": [{"file": "a"}], "songMetaData": [{}], "bpm": 70})").level.bpm,
                    120.0f);
    EXPECT_FLOAT_EQ(parse(R"({"stems": [{"file": "a"}]})").level.bpm, 120.0f);
    // A first element that is not an object says nothing about the tempo: the root does.
    EXPECT_FLOAT_EQ(parse(R"({"stems": [{"file": "a"}], "songMetaData": [5], "bpm": 70})").level.bpm, 70.0f);
    EXPECT_FLOAT_EQ(parse(R"({"stems": [{"file": "a"}], "songMetaData": ["x"]})").level.bpm, 120.0f);
}

TEST(LevelManifest, ATempoThatIsNotAPositiveNumberIsReportedAndReplaced) {
    for (const char* bpm : {R"("fast")", "{}", "0", "-90", "null", "1e300"}) {
        const Parsed p = parse(std::string(R"({"stems": [{"file": "a"}], "bpm": )") + bpm + "}");
        EXPECT_TRUE(p.ok) << bpm;
        EXPECT_FLOAT_EQ(p.level.bpm, 120.0f) << bpm;
        EXPECT_NE(p.errors.find("Invalid bpm in level JSON levels/test.json"), std::string::npos) << bpm;
    }
}

TEST(LevelManifest, MissingOrEmptyFileIsReported) {
    LevelDefinition level;
    CaptureStderr();
    EXPECT_FALSE(parseLevelManifest("/nonexistent/level.json", level));
    EXPECT_EQ(GetCapturedStderr(), "Failed to read level JSON: /nonexistent/level.json\n");
}

} // namespace
