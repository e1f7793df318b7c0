// Score, combo and the layer step: the multiplier, rises after 5 x layers successes, drops after
// three misses, and the live high score.
#include "game/scoring.hpp"
#include "game_test_support.hpp"

#include <gtest/gtest.h>

using namespace gametest;

namespace {

struct LayerFixture : ::testing::Test {
    AudioSystem audio;
    GameState game = playingGame();

    void SetUp() override {
        for (int i = 0; i < 4; ++i) {
            addStem(audio, 10.0, i == 0);
        }
    }

    void succeed(int times) {
        for (int i = 0; i < times; ++i) {
            registerSuccess(game);
        }
    }

    void miss(int times) {
        for (int i = 0; i < times; ++i) {
            registerMiss(game);
        }
    }

    // A layer step with its output captured.
    std::string step() {
        testing::internal::CaptureStdout();
        layerStep(game, audio);
        return testing::internal::GetCapturedStdout();
    }
};

} // namespace

TEST(Score, MultiplierScalesPointsAndTruncates) {
    struct Case {
        int combo;
        int layers;
        int points;
        int added;
    };
    for (const Case &c :
         {Case{0, 1, 450, 450}, Case{1, 1, 450, 495}, Case{10, 2, 300, 1200}, Case{3, 1, 100, 130}}) {
        AudioSystem audio;
        GameState game = playingGame();
        game.combo = c.combo;
        game.activeLayers = c.layers;
        game.totalLayers = c.layers; // no rise in this step
        layerStep(game, audio);
        addScore(game, c.points);
        EXPECT_EQ(game.score, c.added) << c.combo << " x " << c.layers;
    }
}

TEST(Score, MultiplierOfTheLastTickIsUsedAndKeptWhileStopped) {
    AudioSystem audio;
    GameState game = playingGame();
    registerSuccess(game);
    addScore(game, 100); // the success's own combo step counts only from the next tick
    EXPECT_EQ(game.score, 100);
    layerStep(game, audio);
    EXPECT_FLOAT_EQ(game.multiplier, 1.1f);
    game.playing = false;
    game.combo = 7;
    layerStep(game, audio);
    EXPECT_FLOAT_EQ(game.multiplier, 1.1f);
}

TEST(Score, HighScoreRisesLive) {
    GameState game = playingGame();
    game.highScore = 1000;
    game.score = 990;
    testing::internal::CaptureStdout();
    addScore(game, 10);
    addScore(game, 5);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Score added: 10 (Total: 1000)\n"
              "High score updated: 1005\nScore added: 5 (Total: 1005)\n");
    EXPECT_EQ(game.highScore, 1005);
}

TEST(Score, ScoreStopsAtItsLargestValueInsteadOfWrapping) {
    GameState game = playingGame();
    game.score = 2147483000;
    game.multiplier = 8008.0f; // combo 1000 on eight layers
    testing::internal::CaptureStdout();
    addScore(game, 450);
    addScore(game, 450);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(game.score, 2147483647);
    EXPECT_EQ(game.highScore, 2147483647);
}

TEST(Score, SuccessAndMissBookkeeping) {
    GameState game = playingGame();
    registerSuccess(game);
    registerSuccess(game);
    EXPECT_EQ(game.highestCombo, 2);
    game.comboAtLayerCheck = 2;
    testing::internal::CaptureStdout();
    registerMiss(game);
    registerMiss(game);
    registerSuccess(game);
    registerMiss(game);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Miss registered (1/3)\nMiss registered (2/3)\nMiss registered (1/3)\n");
    EXPECT_EQ(game.missStreak, 1u) << "a success between misses clears the streak";
    EXPECT_EQ(game.combo, 0);
    EXPECT_EQ(game.comboAtLayerCheck, 0);
    EXPECT_EQ(game.highestCombo, 2);
}

TEST_F(LayerFixture, RiseNeedsFiveHitsPerLayerSinceTheLastRise) {
    succeed(4);
    step();
    EXPECT_EQ(game.activeLayers, 1);
    succeed(1);
    step();
    EXPECT_TRUE(audio.stems[1].active && audio.stems[1].fading);
    EXPECT_FLOAT_EQ(audio.stems[1].fadeDuration, 1.0f);
    EXPECT_EQ(game.activeLayers, 2);
    EXPECT_EQ(game.highestLayer, 2);
    EXPECT_EQ(game.comboAtLayerCheck, 5);
    EXPECT_FLOAT_EQ(game.multiplier, 3.0f);

    succeed(9);
    step();
    EXPECT_EQ(game.activeLayers, 2) << "combo 14: the next rise needs 15";
    succeed(1);
    step();
    EXPECT_EQ(game.activeLayers, 3);
    EXPECT_TRUE(audio.stems[2].active);
    EXPECT_EQ(game.comboAtLayerCheck, 15);
}

TEST_F(LayerFixture, RiseSkipsStemsThatAreFadingOrActive) {
    audio.stems[1].fading = true; // fading stems are also active, but check the flag alone too
    succeed(5);
    step();
    EXPECT_TRUE(audio.stems[2].active);
    EXPECT_EQ(game.activeLayers, 2);
}

TEST_F(LayerFixture, RiseWithNoFreeStemStillMovesTheCheckpoint) {
    game.activeLayers = 4; // as many layers as stems
    game.highestLayer = 4;
    succeed(20);
    step();
    EXPECT_EQ(game.activeLayers, 4);
    EXPECT_EQ(game.comboAtLayerCheck, 20);

    game.activeLayers = 2; // a layer is owed but every stem is already playing
    for (LoadedStem &stem : audio.stems) {
        stem.active = true;
    }
    succeed(10);
    step();
    EXPECT_EQ(game.activeLayers, 2);
    EXPECT_EQ(game.comboAtLayerCheck, 30);
}

TEST_F(LayerFixture, RiseStopsAtTotalLayers) {
    game.totalLayers = 1;
    succeed(5);
    step();
    EXPECT_EQ(game.activeLayers, 1);
    EXPECT_EQ(game.comboAtLayerCheck, 0) << "no rise was due";
}

TEST_F(LayerFixture, ThreeMissesDropTheNewestLayer) {
    audio.stems[1].active = audio.stems[2].active = true;
    game.activeLayers = game.highestLayer = 3;
    miss(2);
    step();
    EXPECT_EQ(game.activeLayers, 3);
    miss(1);
    const std::string out = step();
    EXPECT_NE(out.find("Deactivated stem 3/4 (stem2.ogg)\n"), std::string::npos) << out;
    EXPECT_FALSE(audio.stems[2].active);
    EXPECT_EQ(game.activeLayers, 2);
    EXPECT_EQ(game.highestLayer, 3);
    EXPECT_EQ(game.missStreak, 0u);
    miss(3);
    step();
    EXPECT_FALSE(audio.stems[1].active);
    EXPECT_EQ(game.activeLayers, 1);
}

TEST_F(LayerFixture, LastLayerIsNeverDropped) {
    miss(3);
    step();
    EXPECT_TRUE(audio.stems[0].active);
    EXPECT_EQ(game.missStreak, 3u) << "the streak keeps counting";
    testing::internal::CaptureStdout();
    registerMiss(game);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Miss registered (4/3)\n");
}

TEST_F(LayerFixture, DropWithNoActiveStemOnlyClearsTheStreak) {
    audio.stems[0].active = false;
    game.activeLayers = 2;
    miss(3);
    EXPECT_EQ(step(), "");
    EXPECT_EQ(game.activeLayers, 2);
    EXPECT_EQ(game.missStreak, 0u);
}

TEST_F(LayerFixture, MissAfterARiseRestartsTheCount) {
    succeed(5);
    step();
    ASSERT_EQ(game.activeLayers, 2);
    miss(1);
    succeed(9);
    step();
    EXPECT_EQ(game.activeLayers, 2);
    succeed(1);
    step();
    EXPECT_EQ(game.activeLayers, 3);
}

TEST_F(LayerFixture, NothingChangesWhileNoRoundPlays) {
    game.playing = false;
    succeed(5);
    step();
    EXPECT_EQ(game.activeLayers, 1);
    EXPECT_FLOAT_EQ(game.multiplier, 1.0f);
}
