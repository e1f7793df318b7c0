// A round from start to menu in one run of the real game, driven through its window as a player
// would: pause and resume with Escape, end with the HUD's exit button, watch the replay, go back.
#include "game_output.hpp"
#include "game_process.hpp"
#include "temp_assets.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace {

// The numbers the pattern's group captures, in the order the output has them.
std::vector<double> numbersOf(const std::string& output, const std::string& pattern) {
    std::vector<double> found;
    const std::regex line(pattern);
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line); it != std::sregex_iterator();
         ++it) {
        found.push_back(std::stod((*it)[1]));
    }
    return found;
}

// The output from the first `text` on ("" when it never came).
std::string from(const std::string& output, const std::string& text) {
    const std::size_t at = output.find(text);
    return at == std::string::npos ? std::string() : output.substr(at);
}

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
    bool holds(const Box& in) const {
        return in.x >= x && in.y >= y && in.x + in.w <= x + w && in.y + in.h <= y + h;
    }
};

// The first rectangle traced for `id` in the output (all 0 when there is none).
Box tracedBox(const std::string& output, const std::string& id) {
    std::smatch item;
    if (!std::regex_search(output, item, std::regex("UI: " + id + " (-?\\d+) (-?\\d+) (\\d+) (\\d+)\n"))) {
        return Box{};
    }
    return Box{std::stoi(item[1]), std::stoi(item[2]), std::stoi(item[3]), std::stoi(item[4])};
}

// Each item traced in `items` lies inside the width x height window.
void expectInside(const std::string& items, int width, int height, const std::string& where) {
    const std::regex line("UI: (\\S+) (-?\\d+) (-?\\d+) (\\d+) (\\d+)\n");
    for (auto it = std::sregex_iterator(items.begin(), items.end(), line); it != std::sregex_iterator();
         ++it) {
        const Box box{std::stoi((*it)[2]), std::stoi((*it)[3]), std::stoi((*it)[4]), std::stoi((*it)[5])};
        const Box all{0, 0, width, height};
        EXPECT_TRUE(box.w > 0 && box.h > 0 && all.holds(box))
            << (*it)[0] << " outside the " << width << "x" << height << " window, " << where;
    }
}

// The items traced at the first appearance of `screen` ("UI screen: <screen> W H" up to the next
// screen) include `ids` and lie inside the W x H window.
void expectTracedInside(const std::string& output, const std::string& screen,
                        const std::vector<std::string>& ids) {
    std::smatch size;
    ASSERT_TRUE(std::regex_search(output, size, std::regex("UI screen: " + screen + " (\\d+) (\\d+)\n")))
        << screen << "\n"
        << output;
    std::string items = size.suffix().str();
    items = items.substr(0, items.find("UI screen: "));
    for (const std::string& id : ids) {
        EXPECT_TRUE(has(items, "UI: " + id + " ")) << id << " not traced on " << screen;
    }
    expectInside(items, std::stoi(size[1]), std::stoi(size[2]), "on " + screen);
}

// The bot plays the default level; Escape pauses it: the overlay's items are traced inside the
// window and the song stands. Escape again resumes: 2 s back, the countdown, and the round plays
// on past the pause without a miss. The exit button ends it on the results screen, Watch replay
// plays the saved replay through and comes back, Menu leads to the menu, and Escape there quits.
TEST(GameEndToEnd, ARoundPausesResumesEndsAndIsWatchedAgain) {
    const std::string assets = makeTempAssets("e2e_round_flow").string();
    enum Stage { Playing, Paused, Resumed, Ended, Watching, Back };
    Stage stage = Playing;
    int polls = 0;    // polls of the current stage, for sending again what never arrived
    std::string sent; // the output as it was when the stage's input was sent
    const auto next = [&](Stage to, const std::string& output) {
        stage = to;
        polls = 0;
        sent = output;
    };
    const GameRun run = runGameIn(
        assets, "--windowed --autoplay", "SDL_AUDIO_DRIVER=dummy VIBRELLE_UI_TRACE=1",
        [&](unsigned long window, const std::string& output) {
            const std::string since = output.substr(std::min(sent.size(), output.size()));
            ++polls;
            switch (stage) {
            case Playing: // a few presses in, and the first layers up
                if (count(output, "Score added: ") >= 8 && has(output, "UI: hud_exit ")) {
                    sendKey(window, "Escape");
                    next(Paused, output);
                }
                break;
            case Paused: // two readings of the standing song, then Resume
                if (!has(output, "Round paused at ")) {
                    if (polls % 8 == 0) {
                        sendKey(window, "Escape"); // the first never arrived, on a slow frame or not
                    }
                } else if (count(output, "Round held at ") >= 2 && has(output, "UI: ##resume ")) {
                    sendKey(window, "Escape");
                    next(Resumed, output);
                }
                break;
            case Resumed: // the countdown, then presses that score past the pause
                if (!has(output, "Round resumes from ")) {
                    if (polls % 8 == 0) {
                        sendKey(window, "Escape");
                    }
                } else if (has(output, "UI screen: results ")) {
                    next(Ended, output);
                } else if (has(from(output, "Round resumes from "), "Score added: ") && polls % 4 == 0) {
                    clickTraced(window, output, "hud_exit"); // again only if an earlier click never arrived
                }
                break;
            case Ended:
                if (has(since, "Watching replay ")) {
                    next(Watching, output);
                } else if (has(output, "UI: ##replay ") && polls % 4 == 1) {
                    clickTraced(window, output, "##replay");
                }
                break;
            case Watching: // the replay plays to its end and the results come back
                if (has(from(output, "Replay watched"), "UI screen: menu ")) {
                    sendKey(window, "Escape"); // on the menu Escape quits
                    next(Back, output);
                } else if (has(from(output, "Replay watched"), "UI: ##menu ") && polls % 4 == 1) {
                    clickTraced(window, from(output, "Replay watched"), "##menu");
                }
                break;
            case Back:
                if (polls % 4 == 0) {
                    sendKey(window, "Escape");
                }
                break;
            }
        },
        90);
    const std::string& out = run.output;
    EXPECT_EQ(run.exitCode, 0) << out;
    EXPECT_EQ(stage, Back) << out;

    // The pause: where the round stood, and the song standing still there while the overlay was up.
    const std::vector<double> pausedAt = numbersOf(out, "Round paused at ([0-9.]+) s\n");
    const std::vector<double> held = numbersOf(out, "Round held at ([0-9.]+) s\n");
    const std::vector<double> resumedFrom = numbersOf(out, "Round resumes from ([0-9.]+) s\n");
    ASSERT_EQ(pausedAt.size(), 1u) << out;
    ASSERT_GE(held.size(), 2u) << out;
    ASSERT_EQ(resumedFrom.size(), 1u) << out;
    EXPECT_GT(pausedAt[0], 0.5) << "paused after a few presses";
    EXPECT_EQ(held[0], held[1]) << out;
    EXPECT_EQ(held.back(), held[0]) << out;
    // The clock may still catch up with the last sound mixed before the pause, not more.
    EXPECT_GE(held[0], pausedAt[0]);
    EXPECT_LT(held[0], pausedAt[0] + 0.1);
    // 2 s back, but not before the round's start (the song's top under autoplay).
    EXPECT_NEAR(resumedFrom[0], std::max(0.0, pausedAt[0] - 2.0), 0.0011);
    // The overlay's items, traced where they are drawn: the buttons on the panel, the panel and the
    // countdown over the window's centre.
    const std::string paused = from(out, "Round paused at ");
    const std::string overlay = paused.substr(0, paused.find("Round resumes from "));
    std::smatch window;
    ASSERT_TRUE(std::regex_search(out, window, std::regex("UI screen: playing (\\d+) (\\d+)\n"))) << out;
    const int width = std::stoi(window[1]), height = std::stoi(window[2]);
    const Box centre{width / 2, height / 2, 1, 1};
    const Box panel = tracedBox(overlay, "pause_panel");
    EXPECT_TRUE(panel.holds(centre)) << out;
    for (const char* id : {"##resume", "##restart", "##quit"}) {
        EXPECT_TRUE(panel.w > 0 && panel.holds(tracedBox(overlay, id))) << id << "\n" << out;
    }
    EXPECT_TRUE(tracedBox(from(out, "Round resumes from "), "pause_countdown").holds(centre)) << out;
    expectInside(paused.substr(0, paused.find("UI screen: results ")), width, height, "in the round");
    EXPECT_FALSE(has(out, "Miss registered")) << out;

    // The results, the replay saved at the round's end and watched to its end, then the menu.
    std::smatch saved;
    ASSERT_TRUE(std::regex_search(out, saved, std::regex("Replay saved: (.*\\.vbr)\n"))) << out;
    expectTracedInside(out, "results",
                       {"results_score", "results_best", "results_combo", "results_accuracy",
                        "results_grades", "results_mean", "results_spread", "results_histogram",
                        "results_time", "results_layer", "results_timeline", "##retry", "##replay",
                        "##menu"});
    // The replay scores as the round did.
    const std::string watched = from(out, "Watching replay ");
    const std::vector<double> roundTotals =
        numbersOf(out.substr(0, out.size() - watched.size()), "Score added: \\d+ \\(Total: (\\d+)\\)\n");
    const std::vector<double> watchedTotals = numbersOf(watched, "Score added: \\d+ \\(Total: (\\d+)\\)\n");
    ASSERT_FALSE(roundTotals.empty());
    EXPECT_EQ(watchedTotals, roundTotals) << out;
    expectInOrder(out, {"Round paused at ", "Round resumes from ", "Stopping all stems.",
                        "Autoplay round ended; its result is not saved\n", "UI screen: results ",
                        "Watching replay " + saved[1].str() + "\n", "UI screen: playing ", "Replay watched\n",
                        "UI screen: results ", "UI screen: menu "});
    std::filesystem::remove_all(assets);
}

} // namespace
