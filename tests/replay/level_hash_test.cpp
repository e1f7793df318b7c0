#include "replay/level_hash.hpp"

#include "capture.hpp"
#include "temp_dir.hpp"

#include <sys/stat.h>

#include <filesystem>

namespace {

std::string hashOf(const std::string& manifest, const std::vector<std::string>& charts, std::int64_t loopUs) {
    std::string hash;
    EXPECT_TRUE(levelHash(manifest, charts, loopUs, hash));
    return hash;
}

// The value is the documented layout hashed by another implementation (Python's hashlib): a
// change to the layout would make every stored replay name another level.
TEST(LevelHash, FollowsTheDocumentedLayout) {
    EXPECT_EQ(hashOf("{\"stems\":[]}", {"MThd", ""}, 1234567),
              "4bc43a9e5866d4aa039911df77ccedf34357b39155721582424b90d320d2bd90");
}

TEST(LevelHash, EveryPieceCounts) {
    const std::string base = hashOf("manifest", {"ab", "c"}, 60000000);
    const std::string changed[] = {
        hashOf("manifest ", {"ab", "c"}, 60000000),    hashOf("manifest", {"ab", "d"}, 60000000),
        hashOf("manifest", {"a", "bc"}, 60000000),     hashOf("manifest", {"c", "ab"}, 60000000),
        hashOf("manifest", {"ab", "c", ""}, 60000000), hashOf("manifest", {"ab", "c"}, 60000001),
    };
    for (const std::string& other : changed) {
        EXPECT_NE(other, base);
    }
}

// The folder's charts are taken in the order the game loads the stems (by startOrder), relative to
// the folder; a missing chart and a stem without one count as empty.
TEST(LevelHash, AFolderHashesItsManifestAndChartsInStemOrder) {
    TempDir level;
    const std::string manifest = R"({"stems": [
        {"file": "b.ogg", "midi": "charts\\b.mid", "startOrder": 2},
        {"file": "a.ogg", "midi": "a.mid", "startOrder": 1},
        {"file": "c.ogg", "midi": "gone.mid", "startOrder": 3},
        {"file": "d.ogg", "startOrder": 4}]})";
    writeText(level.file("level.json"), manifest);
    writeText(level.file("a.mid"), "chart A");
    std::filesystem::create_directory(level.path() / "charts");
    writeText(level.file("charts/b.mid"), "chart B");
    ASSERT_EQ(::mkfifo(level.file("gone.mid").c_str(), 0600), 0); // read, it would block: not a chart
    std::string hash, error;
    ASSERT_TRUE(levelHashOfFolder(level.path().string(), 90000000, hash, error)) << error;
    EXPECT_EQ(hash, hashOf(manifest, {"chart A", "chart B", "", ""}, 90000000));

    const std::string logged =
        errorsOf([&] { EXPECT_FALSE(levelHashOfFolder(level.file("nowhere"), 90000000, hash, error)); });
    EXPECT_NE(error.find("level.json"), std::string::npos) << error;
    EXPECT_NE(logged.find(error), std::string::npos);
    std::filesystem::create_directory(level.path() / "piped");
    ASSERT_EQ(::mkfifo(level.file("piped/level.json").c_str(), 0600), 0);
    errorsOf([&] { EXPECT_FALSE(levelHashOfFolder(level.file("piped"), 90000000, hash, error)); });
}

} // namespace
