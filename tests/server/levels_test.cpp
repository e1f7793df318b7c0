// The server reads the levels it checks rounds against at start (--levels): each one it can read
// is logged with its hash, one it cannot read is logged with the reason and skipped; the game can
// ask whether it has a level by that hash.
#include "replay/level_check.hpp"
#include "server_test_support.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

using namespace servertest;

TEST(ServerLevels, StartUpReadsEveryLevelLogsItsHashAndSkipsABrokenOne) {
    // A folder with a list (a copy of a shipped level and a folder that is not there), and one
    // without, whose subfolder holds a manifest that does not parse.
    TempDir dir;
    const std::string listed = dir.file("listed"), broken = dir.file("loose/broken");
    std::filesystem::create_directories(listed);
    std::filesystem::create_directories(broken);
    std::filesystem::copy(VIBRELLE_ASSETS "/levels/sunrise_groove", listed + "/sunrise",
                          std::filesystem::copy_options::recursive);
    std::ofstream(listed + "/levels.json")
        << R"([{"name": "Sunrise", "file": "sunrise"}, {"name": "Gone", "file": "gone"}])";
    std::ofstream(broken + "/level.json") << "{\"stems\": [";
    CheckedLevel copy;
    std::string error;
    ASSERT_TRUE(readCheckedLevel(listed + "/sunrise", "Sunrise", copy, error)) << error;

    ServerProcess server({"--database", dir.file("db"), "--levels", listed, "--levels", dir.file("loose")});
    const std::string log = server.output();
    for (const std::string& line : {"Verifying scores for 1 levels\nLevel: Sunrise " + copy.hash + "\n",
                                    "Level Gone in " + listed + "/gone is skipped: " + listed +
                                        "/gone/level.json: No such file or directory\n",
                                    "Level broken in " + broken + " is skipped: " + broken +
                                        "/level.json: not a level manifest with stems\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << " in:\n" << log;
    }
    // The game asks whether the server has a level by its hash.
    const Reply known = request(server.port(), "GET", "/api/level/" + copy.hash);
    EXPECT_EQ(known.status, 200);
    EXPECT_EQ(nlohmann::json::parse(known.body, nullptr, false),
              nlohmann::json({{"name", "Sunrise"}, {"hash", copy.hash}}));
    EXPECT_EQ(request(server.port(), "GET", "/api/level/" + std::string(64, '0')).status, 404);
    EXPECT_EQ(request(server.port(), "GET", "/api/level/" + std::string(64, 'A')).status, 400);
    EXPECT_EQ(server.stop(), 0);
    EXPECT_EQ(runCommand({VIBRELLE_SERVER_BINARY, "--levels", dir.file("nowhere")}, error), 2);
    EXPECT_NE(error.find("--levels: " + dir.file("nowhere") + " is not a folder"), std::string::npos)
        << error;
}
