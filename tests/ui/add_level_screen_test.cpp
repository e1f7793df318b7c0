// The Add Level screen driven headless in each of its states, a level made through it landing in the
// menu selected, and deleting it again from the menu after the confirmation.
#include "app/level_adding.hpp"
#include "ui/add_level_screen.hpp"

#include "authoring/authoring_support.hpp"
#include "screen_fixture.hpp"

namespace {

using namespace authoringtest;

// A job in a given state, made without a thread: what the screen shows of each state.
std::unique_ptr<LevelMaking> jobIn(MakingState state, std::vector<double> done,
                                   const std::string& message = "") {
    auto job = std::make_unique<LevelMaking>();
    job->status.state = state;
    job->status.step = "Charting";
    job->status.stems = {"drums.wav", "lead.wav"};
    job->status.done = std::move(done);
    job->status.message = message;
    return job;
}

TEST_F(Screens, TheAddLevelScreenShowsEachStateOfTheJob) {
    struct Case {
        std::string name;
        std::unique_ptr<LevelMaking> job;
        std::vector<std::string> shown; // traced items
        std::string status;
    } cases[] = {
        {"empty",
         nullptr,
         {"##folder", "##title", "##tempo", "##make", "##back"},
         "The level goes into your own levels, listed in the menu."},
        {"running",
         jobIn(MakingState::Running, {1.0, 0.4}),
         {"stem_progress_0", "stem_progress_1", "##cancel"},
         "Charting..."},
        {"cancelled", jobIn(MakingState::Cancelled, {1.0, 0.4}), {"##make"}, "Cancelled: nothing was kept."},
        {"failed",
         jobIn(MakingState::Failed, {}, noAudioMessage("/music/x")),
         {"##make"},
         noAudioMessage("/music/x")},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        gUI.addLevel = AddLevelScreenState{};
        app->making = std::move(c.job);
        goToScreen(*app, UIScreen::AddLevel);
        traced.clear();
        gUI.tracedItems.clear();
        settle();
        EXPECT_TRUE(drawnLastFrame("##AddLevelPanel"));
        for (const std::string& id : c.shown) {
            EXPECT_EQ(traced.count(id), 1u) << id;
        }
        EXPECT_EQ(addLevelStatusLine(screenContext(*app)), c.status);
        if (c.name == "running") {
            click("##cancel");
            EXPECT_TRUE(app->making->progress.cancel.load()) << "Cancel asks the job to stop";
        } else if (c.name == "empty") {
            click("##make");
            EXPECT_EQ(app->making, nullptr) << "no stems: nothing to make";
        }
        quietly([&] { goToScreen(*app, UIScreen::MainMenu); });
    }
}

TEST_F(Screens, AMadeLevelIsSelectedInTheMenuAndCanBeDeletedAfterTheConfirmation) {
    TempDir scratch;
    std::vector<float> drums(2 * kRate, 0.0f);
    for (double t : {0.0, 0.5, 1.0, 1.5}) {
        addClick(drums, t);
    }
    writeWav(scratch.path() / "drums.wav", drums);
    gUI.addLevel = AddLevelScreenState{};
    setAddLevelFolder(scratch.path().string());
    std::snprintf(gUI.addLevel.title, sizeof gUI.addLevel.title, "%s", "Made Through The Screen");
    std::snprintf(gUI.addLevel.tempo, sizeof gUI.addLevel.tempo, "%s", "500");
    goToScreen(*app, UIScreen::AddLevel);
    settle();
    ASSERT_EQ(traced.count("stem_kind_0"), 1u) << "the folder's stem is listed";
    click("##make");
    EXPECT_EQ(app->making, nullptr) << "a tempo out of range is refused";
    EXPECT_EQ(addLevelStatusLine(screenContext(*app)).rfind("Tempo: a number from 20 to 400", 0), 0u);

    std::snprintf(gUI.addLevel.tempo, sizeof gUI.addLevel.tempo, "%s", "120");
    click("##make");
    ASSERT_NE(app->making, nullptr);
    quietly([&] {
        waitForLevelMaking(*app->making);
        levelMakingFrame(*app);
    });
    EXPECT_EQ(app->making, nullptr);
    EXPECT_EQ(gUI.screen, UIScreen::MainMenu);
    ASSERT_GE(app->levels.selected, 0);
    const LevelListEntry made = app->levels.list.at(static_cast<size_t>(app->levels.selected));
    EXPECT_EQ(made.name, "Made Through The Screen");
    EXPECT_TRUE(made.own);
    EXPECT_TRUE(std::filesystem::exists(made.folder + "/level.json"));
    EXPECT_EQ(app->levels.list.size(), shippedLevels.size() + 1);

    // Keep leaves it; Delete removes its folder and its row.
    for (const std::string answer : {"##delete_keep", "##delete_confirm"}) {
        settle();
        click("##delete_level");
        traced.clear();
        gUI.tracedItems.clear();
        settle();
        EXPECT_EQ(traced.count("delete_popup"), 1u) << answer;
        quietly([&] { click(answer); }, true);
        frame();
        EXPECT_EQ(std::filesystem::exists(made.folder), answer == "##delete_keep");
    }
    EXPECT_EQ(app->levels.list.size(), shippedLevels.size());
    EXPECT_FALSE(app->levels.list.at(static_cast<size_t>(app->levels.selected)).own);
    traced.clear();
    gUI.tracedItems.clear();
    settle();
    EXPECT_EQ(traced.count("##delete_level"), 0u) << "shipped levels have no Delete";
}

} // namespace
