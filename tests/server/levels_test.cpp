// The server reads the levels it checks rounds against at start (--levels): each one it can read
// is logged with its hash and kept, one it cannot read is logged with the reason and skipped.
#include "replay/level_check.hpp"
#include "server_test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace servertest;

TEST(ServerLevels, StartUpReadsEveryLevelLogsItsHashAndSkipsABrokenOne) {
    TempDir dir;
    // A folder with a list: a copy of a shipped level, and a listed folder that is not there. A
    // folder without one: its subfolders, here a level whose manifest does not parse.
    const std::filesystem::path listed = dir.path() / "listed", loose = dir.path() / "loose";
    std::filesystem::create_directories(loose / "broken");
    std::filesystem::create_directories(listed);
    std::filesystem::copy(VIBRELLE_ASSETS "/levels/sunrise_groove", listed / "sunrise_groove",
                          std::filesystem::copy_options::recursive);
    std::ofstream(listed / "levels.json") << R"([{"name": "Sunrise Groove", "file": "sunrise_groove"},
                                                {"name": "Gone", "file": "gone"}])";
    std::ofstream(loose / "broken" / "level.json") << "{\"stems\": [";
    CheckedLevel copy;
    std::string error;
    ASSERT_TRUE(readCheckedLevel((listed / "sunrise_groove").string(), "Sunrise Groove", copy, error))
        << error;

    ServerProcess server(
        {"--database", dir.file("leaderboard.db"), "--levels", listed.string(), "--levels", loose.string()});
    const std::string log = server.output();
    EXPECT_NE(log.find("Verifying scores for 1 levels\nLevel: Sunrise Groove " + copy.hash + "\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Level Gone in " + listed.string() + "/gone is skipped: " + listed.string() +
                       "/gone/level.json: No such file or directory\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Level broken in " + (loose / "broken").string() + " is skipped: " +
                       (loose / "broken").string() + "/level.json: not a level manifest with stems\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(server.stop(), 0);

    std::string output;
    EXPECT_EQ(runCommand({VIBRELLE_SERVER_BINARY, "--levels", dir.file("nowhere")}, output), 2);
    EXPECT_NE(output.find("--levels: " + dir.file("nowhere") + " is not a folder"), std::string::npos)
        << output;
}
