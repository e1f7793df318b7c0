// The settings, credits and tutorial screens, driven headless.
#include "app/round.hpp"
#include "game/game_rules.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "prefs/player_keys.hpp"
#include "prefs/preferences.hpp"
#include "ui/credits_screen.hpp"
#include "ui/main_menu.hpp"
#include "ui/settings_screen.hpp"
#include "ui/tutorial_screen.hpp"

#include "screen_fixture.hpp"

#include <algorithm>
#include <cstring>

namespace {

class Settings : public Screens {
protected:
    void SetUp() override {
        Screens::SetUp();
        gUI.settings.playerNameLoaded = false;
        goToScreen(*app, UIScreen::Settings);
    }
    void type(const char* name) {
        std::strncpy(gUI.settings.playerName, name, sizeof gUI.settings.playerName - 1);
    }
};

TEST_F(Settings, OnlySaveTakesTheNameAndBackOrCreditsDropAnEdit) {
    settle();
    type("Typed but not saved");
    click("##back");
    EXPECT_NE(gUI.screen, UIScreen::Settings);
    EXPECT_EQ(app->game.playerName, "Player");

    goToScreen(*app, UIScreen::Settings);
    settle();
    EXPECT_STREQ(gUI.settings.playerName, "Player") << "a new visit starts from the stored name";
    type("Ann");
    const std::string log = click("##save");
    EXPECT_EQ(app->game.playerName, "Ann");
    EXPECT_NE(log.find("Player name saved to "), std::string::npos) << log;
    EXPECT_EQ(loadPlayerName("Player"), "Ann");
    EXPECT_EQ(gUI.screen, UIScreen::Settings) << "Save keeps the screen open";

    type("Typed again");
    click("##credits");
    EXPECT_EQ(gUI.screen, UIScreen::Credits);
    EXPECT_NE(gUI.screen, UIScreen::Settings);
    settle();
    click("##back");
    EXPECT_EQ(gUI.screen, UIScreen::Settings);
    EXPECT_NE(gUI.screen, UIScreen::Credits);
    frame();
    EXPECT_STREQ(gUI.settings.playerName, "Ann");
}

// The key held for this server and name shows hidden until asked; a pasted key is checked and
// stored with the name Save stores, so that the name can move to another computer.
TEST_F(Settings, ShowsTheHeldKeyOnRequestAndStoresAPastedOneWithTheName) {
    const std::string key = "AbCdEfGhIjKlMnOpQrSt_w", other = "zyxwvutsrqponmlkjih-_A";
    quietly([&] { savePlayerKey(getPrefsPath(), gLeaderboardClient.serverBaseUrl, "Player", key); });
    gUI.settings.key = SettingsKeyState{};
    settle();
    EXPECT_EQ(gUI.settings.key.key, key);
    EXPECT_FALSE(gUI.settings.key.revealed);
    click("show_key");
    EXPECT_TRUE(gUI.settings.key.revealed);

    for (const char* bad : {"too short", "AbCdEfGhIjKlMnOpQrSt+w", "AbCdEfGhIjKlMnOpQrSt_wX"}) {
        std::strncpy(gUI.settings.key.pasted, bad, sizeof gUI.settings.key.pasted - 1);
        quietly([&] { click("##save"); }, true);
        EXPECT_EQ(gUI.settings.key.message, "Not a key: 22 of A-Z a-z 0-9 - _") << bad;
        EXPECT_STREQ(gUI.settings.key.pasted, bad) << "a wrong paste stays to be mended";
        std::memset(gUI.settings.key.pasted, 0, sizeof gUI.settings.key.pasted);
    }
    type("Bea");
    std::strncpy(gUI.settings.key.pasted, (" " + other + "\n").c_str(), sizeof gUI.settings.key.pasted - 1);
    const std::string log = quietly([&] { click("##save"); }, true);
    frame();
    EXPECT_EQ(gUI.settings.key.message, "");
    EXPECT_STREQ(gUI.settings.key.pasted, "");
    EXPECT_EQ(loadPlayerKey(getPrefsPath(), gLeaderboardClient.serverBaseUrl, "bea"), other);
    EXPECT_EQ(loadPlayerKey(getPrefsPath(), gLeaderboardClient.serverBaseUrl, "Player"), key)
        << "the earlier name keeps its key";
    EXPECT_EQ(gUI.settings.key.key, other) << "the screen shows the key of the name now saved";
    click("##back");
    EXPECT_FALSE(gUI.settings.key.revealed) << "leaving hides the key again";
}

TEST_F(Settings, TheCheckBoxAppliesAndStoresEachToggle) {
    app->game.keyboardGameplay = true;
    settle();
    for (const char* state : {"disabled", "enabled"}) {
        const std::string log = click("keyboard_gameplay");
        EXPECT_EQ(app->game.keyboardGameplay, std::string(state) == "enabled");
        EXPECT_NE(log.find("Keyboard gameplay setting saved to "), std::string::npos) << log;
        EXPECT_NE(log.find(std::string(": ") + state + "\n"), std::string::npos) << log;
    }
    EXPECT_TRUE(loadKeyboardGameplay(false));
}

TEST_F(Settings, TheVolumeSliderAppliesWhileDraggingAndStoresOnRelease) {
    settle();
    const Rect r = traced["##musicvolume"];
    const float y = r.y + r.h / 2;
    frame(r.x + 0.25f * r.w, y, false);
    std::string log = frame(r.x + 0.25f * r.w, y, true);
    log += frame(r.x + 0.5f * r.w, y, true); // dragging
    EXPECT_NEAR(app->audio.engine->getGlobalVolume(), 0.5f, 0.05f) << "heard at once";
    EXPECT_EQ(log.find("Music volume saved"), std::string::npos) << "not stored while dragging";
    log = frame(r.x + 0.5f * r.w, y, false);
    EXPECT_NE(log.find("Music volume saved to "), std::string::npos) << log;
    EXPECT_NEAR(loadMusicVolume(1.0f), app->audio.engine->getGlobalVolume(), 0.006f);
}

// A choice in the Audio Buffer list is stored and handed to the audio system (here without a
// device, which keeps its period); with VIBRELLE_AUDIO_PERIOD set the list does not open.
TEST_F(Settings, AnAudioBufferChoiceIsStored) {
    settle();
    click("##audiobuffer");
    // The list settles over its first frames: its items are traced again once it has.
    frame();
    gUI.tracedItems.erase("audiobuffer:2048");
    frame();
    const std::string log = click("audiobuffer:2048");
    EXPECT_NE(log.find("Audio buffer saved to "), std::string::npos) << log;
    EXPECT_EQ(loadAudioPeriodFrames(1024), 2048u);

    app->options.audioPeriodFrames = 512;
    settle();
    traced.erase("audiobuffer:256");
    gUI.tracedItems.erase("audiobuffer:256");
    click("##audiobuffer");
    frame();
    EXPECT_EQ(traced.count("audiobuffer:256"), 0u) << "the list opened";
}

TEST_F(Settings, ALongNameEntersTheFieldCutWhereACharacterEnds) {
    app->game.playerName = std::string(63, 'a') + "\xC3\xA9"; // "é" would end at byte 65
    settle();
    EXPECT_EQ(std::string(gUI.settings.playerName), std::string(63, 'a'));
}

TEST_F(Settings, TheButtonRowShrinksToFitANarrowWindow) {
    EXPECT_FLOAT_EQ(settingsButtonRowFactor(2000.0f, 1.0f), 1.0f);
    EXPECT_FLOAT_EQ(settingsButtonRowFactor(640.0f, 1.0f), 0.5f);
    ImGui::GetIO().DisplaySize = ImVec2(900.0f, 1080.0f);
    settle();
    const Rect back = traced["##back"], save = traced["##save"];
    ImGui::GetIO().DisplaySize = ImVec2(1920.0f, 1080.0f);
    EXPECT_LT(back.w, 400.0f);
    EXPECT_GE(back.x, 0.0f);
    EXPECT_LE(save.x + save.w, 900.0f) << "the whole row is on screen";
}

class Tutorial : public Screens {
protected:
    void TearDown() override {
        // Whatever a test leaves open, the tutorial is left the way the game leaves it.
        goToScreen(*app, UIScreen::MainMenu);
        settle();
        Screens::TearDown();
    }
    // A gameplay frame in which Space was pressed.
    void spaceFrame() {
        app->input.togglePlayback = true;
        std::lock_guard<std::mutex> lock(app->gameMutex);
        quietly([&] { runFrameGameplay(*app, 1.0f / 60.0f); });
    }
    std::vector<bool> audible() const {
        std::vector<bool> flags;
        for (const LoadedStem& stem : app->audio.stems) {
            flags.push_back(stem.active);
        }
        return flags;
    }
};

// A level started from the menu gives way to the tutorial's song; each page sets the song's layers
// once, and Finish brings the level back for Space to play under its own name.
TEST_F(Tutorial, EachPageSetsTheSongsLayersOnceAndFinishBringsTheMenuLevelBack) {
    quietly([&] { ASSERT_TRUE(startLevel(*app, 2)); });
    const std::string level = app->levels.list[2].name;
    const size_t stems = app->audio.stems.size();
    ASSERT_EQ(app->game.levelName, level);
    app->game.playing = false; // back in the menu
    goToScreen(*app, UIScreen::Tutorial);
    settle();
    EXPECT_FALSE(app->audio.playing) << "page 0 is silent";
    EXPECT_EQ(traced.count("##nav_back"), 0u) << "no Back on the first page";

    const std::vector<std::vector<bool>> layers = {
        {false, true, false}, {true, false, false}, {true, true, false}};
    const void* song = nullptr;
    for (int page = 1; page <= 3; ++page) {
        const std::uint64_t round = app->game.round;
        quietly([&] { click("##nav_next"); }, true);
        settle();
        EXPECT_EQ(gUI.tutorialPage, page);
        EXPECT_EQ(app->game.round, round + 1) << "one application per page change";
        EXPECT_EQ(app->levels.package.name, "tutorialsong");
        ASSERT_EQ(app->audio.stems.size(), 3u) << "the tutorial song";
        EXPECT_EQ(audible(), layers[page - 1]) << "page " << page;
        if (song == nullptr) {
            song = app->audio.stems[0].stream.get();
        }
        EXPECT_EQ(app->audio.stems[0].stream.get(), song) << "paging keeps the loaded song";
        if (page == 2) {
            // Hidden with F12, the tutorial still owns its song: Space does not start it as a round.
            app->uiVisible = false;
            spaceFrame();
            EXPECT_FALSE(app->game.playing);
            EXPECT_TRUE(app->audio.playing) << "nor stops it";
            EXPECT_EQ(app->audio.stems.size(), 3u);
            app->uiVisible = true;
        }
    }
    EXPECT_TRUE(drawnLastFrame("##StemProgressHUD")) << "page 3 shows the layer bar";
    EXPECT_EQ(app->game.activeLayers, 2);

    click("##nav_next");
    settle();
    EXPECT_EQ(audible(), (std::vector<bool>{false, false, false}));
    EXPECT_FALSE(drawnLastFrame("##StemProgressHUD"));
    EXPECT_EQ(traced.count("##nav_finish"), 1u) << "Finish on the last page";

    click("##nav_finish");
    settle();
    EXPECT_NE(gUI.screen, UIScreen::Tutorial);
    EXPECT_TRUE(app->levels.packageLoaded);
    EXPECT_EQ(app->levels.package.name, app->levels.list[2].file);
    EXPECT_EQ(app->audio.stems.size(), stems);

    const std::uint64_t round = app->game.round;
    goToScreen(*app, UIScreen::Tutorial, 0);
    settle();
    EXPECT_EQ(app->game.round, round + 1) << "reopened on the same page: applied again";

    goToScreen(*app, UIScreen::MainMenu);
    settle();
    spaceFrame();
    EXPECT_TRUE(app->game.playing);
    EXPECT_EQ(app->game.levelName, level);
    EXPECT_EQ(app->audio.stems.size(), stems);
}

// The tutorial describes hold circles as they are drawn and the layer rule as it is played (a combo
// of kComboPerLayer per layer held, a drop after missesPerLayerDrop misses that spares the last
// layer), and the credits name the audio library in use.
TEST(TutorialText, StatesTheRulesTheGamePlays) {
    const std::string holds = std::string(tutorialPage(2).paragraphs[0]) + tutorialPage(2).paragraphs[1];
    const std::string layers = tutorialPage(3).paragraphs[1];
    const std::string perLayer = std::to_string(kComboPerLayer);
    for (const std::string& fact :
         {"if you miss " + std::to_string(GameState{}.missesPerLayerDrop) + " beats in a row",
          "a combo of " + perLayer + " times the layers you have", std::string("since your last new layer"),
          perLayer + " hits bring the second layer, " + std::to_string(2 * kComboPerLayer) +
              " more the third",
          std::string("your newest layer"), std::string("never your last")}) {
        EXPECT_NE(layers.find(fact), std::string::npos) << fact;
    }
    for (const char* fact : {"stripes", "arc around it fills", "all the way round", "too early"}) {
        EXPECT_NE(holds.find(fact), std::string::npos) << fact;
    }
    for (const char* wrong : {"filled", "shrink"}) {
        EXPECT_EQ(holds.find(wrong), std::string::npos) << wrong;
    }
    EXPECT_TRUE(tutorialPage(5).paragraphs.empty());
    const std::vector<CreditLine>& credits = creditLines();
    EXPECT_TRUE(std::any_of(credits.begin(), credits.end(), [](const CreditLine& line) {
        return std::string(line.text).find("miniaudio") != std::string::npos;
    }));
}

} // namespace
