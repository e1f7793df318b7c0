// The web page in a real browser: headless Chromium loads "/" and dumps the DOM it built.
#include "server_test_support.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

using namespace servertest;
using nlohmann::json;

TEST(WebPage, ChromiumShowsEachLevelsTopTenInScoreOrderWithNamesAsText) {
    ASSERT_EQ(access("/usr/bin/chromium", X_OK), 0) << "chromium is missing (scripts/setup installs it)";
    TempDir folder;
    ServerProcess server({"--database", folder.file("leaderboard.db"), "--rate-limit", "0"});
    json scores = json::array();
    for (int i = 0; i < 12; ++i) {
        scores.push_back(
            {{"player", "p" + std::to_string(i)}, {"score", (i * 5) % 12 * 100}, {"highestCombo", i}});
    }
    scores.push_back({{"player", "<script>alert(1)</script>"}, {"score", 1050}, {"highestLayer", "4/8"}});
    const json document = {{"levels", {{{"name", "Rock & <Roll>"}, {"scores", scores}}}}};
    ASSERT_EQ(request(server.port(), "POST", "/api/leaderboard", document.dump()).status, 200);

    // A profile, cache and home of its own in the temporary folder.
    const std::string home = folder.file("home");
    std::vector<std::string> argv = {"/usr/bin/chromium",
                                     "--headless",
                                     "--disable-gpu",
                                     "--no-first-run",
                                     "--user-data-dir=" + folder.file("profile"),
                                     "--dump-dom",
                                     "http://127.0.0.1:" + std::to_string(server.port()) + "/"};
    if (geteuid() == 0) {
        argv.insert(argv.begin() + 1, "--no-sandbox");
    }
    std::string dom;
    ASSERT_EQ(runCommand(argv, dom, std::chrono::seconds(90),
                         {"HOME=" + home, "XDG_CONFIG_HOME=" + home, "XDG_CACHE_HOME=" + home,
                          "XDG_DATA_HOME=" + home}),
              0)
        << dom;

    EXPECT_NE(dom.find("<h2>Rock &amp; &lt;Roll&gt;</h2>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("<td>&lt;script&gt;alert(1)&lt;/script&gt;</td>"), std::string::npos) << dom;
    EXPECT_EQ(dom.find("<script"), std::string::npos) << dom;
    // Rows: rank, player, score (the DOM as Chromium serialises it; no std::regex, which GCC 12
    // warns about under the sanitizers).
    std::vector<std::pair<std::string, int>> rows;
    const std::string rowStart = "<tr><td class=\"number\">";
    for (std::size_t at = dom.find(rowStart); at != std::string::npos; at = dom.find(rowStart, at + 1)) {
        std::vector<std::string> cells;
        std::size_t cell = at + 4;
        for (int i = 0; i < 3; ++i) {
            const std::size_t open = dom.find('>', cell) + 1;
            const std::size_t close = dom.find("</td>", open);
            cells.push_back(dom.substr(open, close - open));
            cell = close + 5;
        }
        EXPECT_EQ(cells[0], std::to_string(rows.size() + 1));
        rows.emplace_back(cells[1], std::stoi(cells[2]));
    }
    const std::vector<std::pair<std::string, int>> expected = {
        {"p7", 1100}, {"&lt;script&gt;alert(1)&lt;/script&gt;", 1050},
        {"p2", 1000}, {"p9", 900},
        {"p4", 800},  {"p11", 700},
        {"p6", 600},  {"p1", 500},
        {"p8", 400},  {"p3", 300}};
    EXPECT_EQ(rows, expected) << dom;
    EXPECT_EQ(server.stop(), 0);
}
