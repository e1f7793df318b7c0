// Every screen at every window size the game promises to fit: the real game, on a virtual display
// of its own (Xvfb, software GL) as large as the window, tours its screens once per size with the
// trace on; the traced rectangles must stay in the window and clear of each other.
#include "screen_fit.hpp"

#include "capture.hpp"
#include "temp_assets.hpp"
#include "virtual_display.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>

namespace {

TEST(FitCheck, FindsItemsOutsideTheWindowAndPartOverlapsOnly) {
    const struct {
        TracedItem a, b;
        std::size_t problems;
    } cases[] = {
        {{"panel", 10, 10, 100, 100}, {"button", 20, 20, 30, 30}, 0}, // inside its panel
        {{"title", 10, 10, 100, 20}, {"panel", 10, 30, 100, 50}, 0},  // touching edges
        {{"title", 10, 10, 100, 30}, {"panel", 10, 30, 100, 50}, 1},  // one pixel row shared
        {{"panel", 10, 10, 100, 100}, {"button", 90, 90, 30, 30}, 1}, // half out of its panel
        {{"button", 150, 10, 60, 20}, {"row", 0, 180, 10, 10}, 1},    // past the right edge
        {{"button", -1, 10, 60, 20}, {"row", 0, 180, 10, 10}, 1},     // past the left edge
        {{"button", 10, 10, 60, 20}, {"row", 0, 190, 10, 11}, 1},     // past the bottom
    };
    for (const auto& c : cases) {
        const TracedScreen screen{"menu", 200, 200, {c.a, c.b}};
        EXPECT_EQ(fitProblems(screen).size(), c.problems) << c.a.id << " and " << c.b.id;
    }
    const std::vector<TracedScreen> read =
        readTracedScreens("UI screen: menu 200 100\nUI: ##start 1 2 3 4\nother\nUI screen: loading 200 100\n"
                          "UI: loading 5 6 7 8\n");
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].items.size(), 1u);
    EXPECT_EQ(read[1].items[0].h, 8);
}

class ScreensFit : public ::testing::TestWithParam<const char*> {};

TEST_P(ScreensFit, EveryScreenStaysInTheWindowWithNothingOverlapping) {
    const std::string size = GetParam();
    const int width = std::stoi(size), height = std::stoi(size.substr(size.find('x') + 1));
    const VirtualDisplay display(width, height);
    ASSERT_GE(display.number, 0) << "Xvfb did not start";

    const std::filesystem::path assets = makeTempAssets("fit_" + size);
    const std::string log = (assets / "tour.log").string();
    const std::string command =
        "cd '" + assets.string() + "' && env DISPLAY=:" + std::to_string(display.number) +
        " VIBRELLE_DATA_DIR='" + assets.string() + "' XDG_DATA_HOME='" + assets.string() +
        "/data' VIBRELLE_LEADERBOARD_URL=http://127.0.0.1:9/api VIBRELLE_UI_TRACE=1 "
        "SDL_AUDIO_DRIVER=dummy LIBGL_ALWAYS_SOFTWARE=1 timeout 300 '" VIBRELLE_GAME_BINARY
        "' --window-size " +
        size + " --screen-tour >'" + log + "' 2>&1";
    const int status = std::system(command.c_str());
    const std::string output = readText(log);
    std::filesystem::remove_all(assets);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    ASSERT_NE(output.find("Screen tour: done"), std::string::npos) << output;

    const std::vector<TracedScreen> screens = readTracedScreens(output);
    std::set<std::string> seen;
    for (const TracedScreen& screen : screens) {
        seen.insert(screen.name);
        EXPECT_EQ(screen.width, width) << screen.name;
        EXPECT_EQ(screen.height, height) << screen.name;
        for (const std::string& problem : fitProblems(screen)) {
            ADD_FAILURE() << size << " " << problem;
        }
    }
    const std::set<std::string> expected = {"menu",        "loading",    "playing",     "results",
                                            "settings",    "controls",   "calibration", "credits",
                                            "leaderboard", "addlevel",   "tutorial:0",  "tutorial:1",
                                            "tutorial:2",  "tutorial:3", "tutorial:4"};
    EXPECT_EQ(seen, expected);
    // Each screen shows what it is for: its title (the HUD has none) and its panels.
    const std::set<std::string> required = {"title",
                                            "settings_panel",
                                            "controls_panel",
                                            "calibration_panel",
                                            "credits_panel",
                                            "add_level_panel",
                                            "stem_progress_2",
                                            "##add_level",
                                            "leaderboard_scores",
                                            "results_panel",
                                            "results_histogram",
                                            "results_timeline",
                                            "##menu",
                                            "tutorial_panel",
                                            "tutorial_circles",
                                            "menu_levels",
                                            "hud_score",
                                            "hud_exit",
                                            "loading",
                                            "##save",
                                            "##back"};
    std::set<std::string> traced;
    for (const TracedScreen& screen : screens) {
        for (const TracedItem& item : screen.items) {
            traced.insert(item.id);
        }
    }
    for (const std::string& id : required) {
        EXPECT_EQ(traced.count(id), 1u) << id << " never traced at " << size;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScreensFit,
                         ::testing::Values("1024x600", "1280x720", "1366x768", "1920x1080", "2560x1440",
                                           "3840x2160", "720x1280"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string name = param.param;
                             name[name.find('x')] = '_';
                             return "w" + name;
                         });

} // namespace
