#include "level/level_manifest.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
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

// Every field of a stem on one line: file midi order playsNotes instrument base/peak/speed r,g,b.
std::string describe(const Stem& s) {
    std::ostringstream out;
    out << s.file << " " << s.midi << " " << s.startOrder << " " << s.playsNotes << " " << s.instrument << " "
        << s.animationBase << "/" << s.animationPeak << "/" << s.animationLerpSpeed << " " << s.colorR << ","
        << s.colorG << "," << s.colorB;
    return out.str();
}

// Keys present are read, absent ones keep their defaults, a colour of the wrong length is ignored.
// Stems sort by startOrder, ties in file order; orders beyond 32 bits are clamped and sort at the ends.
TEST(LevelManifest, ReadsEveryKeyAndSortsByStartOrder) {
    const Parsed p = parse(R"({"stems": [
        {"file": "last.ogg", "startOrder": 1e12},
        {"file": "b.ogg", "animation": {"peak": 3.5}, "color": [0, 0]},
        {"file": "c.ogg", "color": [0, 0, 0, 1]},
        {"file": "a.ogg", "midi": "a.mid", "startOrder": -2, "playsNotes": false, "instrument": "bass",
         "animation": {"base": 0.5, "peak": 2.5, "lerpSpeed": 9}, "color": [0.25, 0.5, 0.75], "extra": 1},
        {"file": "first.ogg", "startOrder": -1e12}]})");
    ASSERT_TRUE(p.ok);
    std::vector<std::string> stems;
    for (const Stem& stem : p.level.stems) {
        stems.push_back(describe(stem));
    }
    EXPECT_EQ(stems, std::vector<std::string>({"first.ogg  -2147483648 1  1/2/18 1,1,1",
                                               "a.ogg a.mid -2 0 bass 0.5/2.5/9 0.25,0.5,0.75",
                                               "b.ogg  0 1  1/3.5/18 1,1,1", "c.ogg  0 1  1/2/18 1,1,1",
                                               "last.ogg  2147483647 1  1/2/18 1,1,1"}));
    EXPECT_EQ(p.errors, "");
}

// An entry with a key that does not convert is dropped with its message; the others are kept.
TEST(LevelManifest, EntriesThatDoNotConvertAreDroppedWithTheirMessage) {
    const Parsed p = parse(R"({"stems": [
        {"file": 3}, "not an object", {"file": "a.ogg", "animation": 2}, {"file": "b.ogg", "startOrder": "late"},
        {"file": "c.ogg", "animation": {"base": "x"}}, {"file": "d.ogg", "color": ["red", 0, 0]},
        {"file": "kept.ogg"}, {"midi": "a.mid"}, {"file": ""}]})");
    ASSERT_TRUE(p.ok);
    ASSERT_EQ(p.level.stems.size(), 1u);
    EXPECT_EQ(p.level.stems[0].file, "kept.ogg");
    std::istringstream lines(p.errors);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_EQ(line.rfind("Error reading stem entry: ", 0), 0u) << line;
    }
    EXPECT_EQ(count, 6) << "entries without a file are dropped silently";
}

TEST(LevelManifest, RefusesWhatIsNotAManifest) {
    // Nested a million deep: parses, but the tempo's message would overflow the stack writing it.
    const std::string deep = std::string(1000000, '[') + std::string(1000000, ']');
    const std::string parseError = "JSON parse error in levels/test.json: ";
    const std::string noStems = "Invalid level JSON: missing 'stems' array\n";
    const std::pair<std::string, std::string> cases[] = {
        {"{\"stems\": [,]}", parseError},
        {R"({"stems": [{"file": "a"}], "bpm": )" + deep + "}", parseError},
        {"[]", noStems},
        {"{}", noStems},
        {R"({"stems": {}})", noStems},
        {R"({"stems": "a.ogg"})", noStems},
        {R"({"stems": []})", ""},
        {R"({"stems": [{"midi": "a.mid"}, {"file": ""}]})", ""},
    };
    for (const auto& [text, error] : cases) {
        const Parsed p = parse(text);
        EXPECT_FALSE(p.ok) << text.substr(0, 40);
        EXPECT_TRUE(p.level.stems.empty()) << text.substr(0, 40);
        // A parse error's message goes on with the library's reason; the others are whole.
        EXPECT_EQ(p.errors.substr(0, error == parseError ? error.size() : std::string::npos), error);
    }
}

// The tempo lives in songMetaData's first object, else the root; anything but a positive number is
// reported and replaced by 120.
TEST(LevelManifest, TempoComesFromSongMetaDataThenTheRootAndMustBePositive) {
    const std::tuple<const char*, float, bool> cases[] = {
        {R"("songMetaData": [{"bpm": 90}], "bpm": 70)", 90.0f, false},
        {R"("songMetaData": [], "bpm": 70)", 70.0f, false},
        {R"("songMetaData": [{}], "bpm": 70)", 120.0f, false},
        {R"("songMetaData": [5], "bpm": 70)", 70.0f, false},
        {R"("songMetaData": ["x"])", 120.0f, false},
        {R"("bpm": "fast")", 120.0f, true},
        {R"("bpm": {})", 120.0f, true},
        {R"("bpm": 0)", 120.0f, true},
        {R"("bpm": -90)", 120.0f, true},
        {R"("bpm": null)", 120.0f, true},
        {R"("bpm": 1e300)", 120.0f, true},
    };
    for (const auto& [keys, bpm, reported] : cases) {
        const Parsed p = parse(std::string(R"({"stems": [{"file": "a"}], )") + keys + "}");
        EXPECT_TRUE(p.ok) << keys;
        EXPECT_FLOAT_EQ(p.level.bpm, bpm) << keys;
        EXPECT_EQ(p.errors.rfind("Invalid bpm in level JSON levels/test.json", 0) == 0, reported) << p.errors;
    }
}

} // namespace
