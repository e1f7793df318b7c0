// The web page in a real browser: headless Chromium loads "/" and a level's ranking and dumps the
// DOM it built.
#include "server_test_support.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

using namespace servertest;
using nlohmann::json;

TEST(WebPage, ChromiumShowsEachLevelsTopTenAndItsRankingWithNamesAsText) {
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
    std::vector<std::string> argv = {"env"};
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"}) {
        argv.push_back(std::string(variable) + "=" + folder.file("home"));
    }
    argv.insert(argv.end(), {"/usr/bin/chromium", "--headless", "--disable-gpu", "--no-first-run",
                             "--user-data-dir=" + folder.file("profile"), "--dump-dom"});
    if (geteuid() == 0) {
        argv.push_back("--no-sandbox");
    }
    const std::string origin = "http://127.0.0.1:" + std::to_string(server.port());
    const auto dumpDom = [&](const std::string& path, std::string& dom) {
        std::vector<std::string> command = argv;
        command.push_back(origin + path);
        return runCommand(command, dom);
    };
    std::string dom;
    ASSERT_EQ(dumpDom("/", dom), 0) << dom;

    EXPECT_NE(dom.find("<h2>Rock &amp; &lt;Roll&gt;</h2>"), std::string::npos) << dom;
    EXPECT_EQ(dom.find("<script"), std::string::npos) << dom;
    // Ten rows of rank, player and score, in this order (the DOM as Chromium serialises it).
    const std::string script = "&lt;script&gt;alert(1)&lt;/script&gt;";
    const std::pair<std::string, int> expected[] = {{"p7", 1100}, {script, 1050}, {"p2", 1000}, {"p9", 900},
                                                    {"p4", 800},  {"p11", 700},   {"p6", 600},  {"p1", 500},
                                                    {"p8", 400},  {"p3", 300}};
    std::size_t at = 0;
    for (std::size_t rank = 1; rank <= 10; ++rank) {
        const auto& [player, score] = expected[rank - 1];
        const std::string row = "<tr><td class=\"number\">" + std::to_string(rank) + "</td><td>" + player +
                                "</td><td class=\"number\">" + std::to_string(score) + "</td>";
        at = dom.find(row, at);
        ASSERT_NE(at, std::string::npos) << row << "\n" << dom;
    }
    EXPECT_EQ(dom.find("<tr><td", at + 1), std::string::npos) << dom;

    // The level's link, followed as written, leads to its whole ranking.
    const std::string link = "/?level=Rock%20%26%20%3CRoll%3E&amp;page=1";
    ASSERT_NE(dom.find("<a href=\"" + link + "\">Full ranking</a>"), std::string::npos) << dom;
    std::string ranking;
    ASSERT_EQ(dumpDom("/?level=Rock%20%26%20%3CRoll%3E&page=1", ranking), 0) << ranking;
    EXPECT_NE(ranking.find("<h2>Rock &amp; &lt;Roll&gt;</h2>"), std::string::npos) << ranking;
    EXPECT_NE(ranking.find("Ranks 1 to 13 of 13 entries."), std::string::npos) << ranking;
    EXPECT_EQ(ranking.find("<script"), std::string::npos) << ranking;
    EXPECT_EQ(server.stop(), 0);
}
