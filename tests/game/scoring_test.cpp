// Score, combo, the multiplier, the live high score, and the layer step's rises and drops.
#include "game/scoring.hpp"
#include "game_test_support.hpp"

#include <gtest/gtest.h>

using namespace gametest;

TEST(Score, PointsAreScaledByTheMultiplierOfTheLastStepAndTruncated) {
    const struct {
        int combo, layers, points, added;
    } cases[] = {{0, 1, 450, 450}, {1, 1, 450, 495}, {10, 2, 300, 1200}, {3, 1, 100, 130}, {1, 1, 5, 5}};
    for (const auto& c : cases) {
        GameState game = playingGame();
        game.combo = c.combo;
        game.activeLayers = c.layers;
        game.totalLayers = c.layers; // no rise in this step
        layerStep(game, LayerRequests{});
        stdoutOf([&] { addScore(game, c.points); });
        EXPECT_EQ(game.score, c.added) << c.combo << " x " << c.layers;
    }
    // The success's own combo step counts only from the next layer step.
    GameState game = playingGame();
    registerSuccess(game);
    stdoutOf([&] { addScore(game, 100); });
    EXPECT_EQ(game.score, 100);
}

TEST(Score, TheHighScoreRisesLiveAndTheScoreStopsAtItsLargestValue) {
    GameState game = playingGame();
    game.highScore = 1000;
    game.score = 990;
    EXPECT_EQ(stdoutOf([&] {
                  addScore(game, 10);
                  addScore(game, 5);
              }),
              "Score added: 10 (Total: 1000)\nHigh score updated: 1005\nScore added: 5 (Total: 1005)\n");
    EXPECT_EQ(game.highScore, 1005);
    game.score = 2147483000;
    game.multiplier = 8008.0f; // combo 1000 on eight layers: no wrapping past 32 bits
    stdoutOf([&] {
        addScore(game, 450);
        addScore(game, 450);
    });
    EXPECT_EQ(game.score, 2147483647);
    EXPECT_EQ(game.highScore, 2147483647);
}

TEST(Score, SuccessesBuildTheComboAndMissesTheStreak) {
    GameState game = playingGame();
    registerSuccess(game);
    registerSuccess(game);
    EXPECT_EQ(game.highestCombo, 2);
    game.comboAtLayerCheck = 2;
    EXPECT_EQ(stdoutOf([&] {
                  registerMiss(game);
                  registerMiss(game);
                  registerSuccess(game);
                  registerMiss(game);
              }),
              "Miss registered (1/3)\nMiss registered (2/3)\nMiss registered (1/3)\n");
    EXPECT_EQ(game.missStreak, 1u) << "a success between misses clears the streak";
    EXPECT_EQ(game.combo, 0);
    EXPECT_EQ(game.comboAtLayerCheck, 0) << "a miss restarts the count toward the next layer";
    EXPECT_EQ(game.highestCombo, 2);
}

TEST(Layers, TheStepRisesAndDropsByTheRules) {
    const struct {
        const char* what;
        int layers, total;
        bool playing;
        int check, successes, misses; // combo at the last rise, then hits and misses
        int wantLayers, wantCheck;
        unsigned wantStreak;
        const char* wantRequest; // what the audio is asked for
        const char* says;
    } cases[] = {
        {"4 hits: no rise", 1, 8, true, 0, 4, 0, 1, 0, 0, "", ""},
        {"5 hits: the next stem fades in", 1, 8, true, 0, 5, 0, 2, 5, 0, "in 1 ", ""},
        {"2 layers, 9 hits since the last rise", 2, 8, true, 5, 9, 0, 2, 5, 0, "", ""},
        {"2 layers, 10 hits since the last rise", 2, 8, true, 5, 10, 0, 3, 15, 0, "in 2 ", ""},
        {"no rise beyond the total", 1, 1, true, 0, 5, 0, 1, 0, 0, "", ""},
        {"every stem unlocked: the count starts again", 4, 8, true, 0, 20, 0, 4, 20, 0, "", ""},
        {"2 misses: no drop", 3, 8, true, 0, 0, 2, 3, 0, 2, "", ""},
        {"3 misses: the newest stem goes", 3, 8, true, 0, 0, 3, 2, 0, 0, "cut 2 ",
         "Deactivated stem 3/4 (stem2.ogg)\n"},
        {"the last layer stays", 1, 8, true, 0, 0, 3, 1, 0, 3, "", ""},
        {"no round: no rise", 1, 8, false, 0, 5, 0, 1, 0, 0, "", ""},
        {"no round: no drop", 2, 8, false, 0, 0, 3, 2, 0, 3, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GameState game = playingGame();
        game.playing = c.playing;
        game.activeLayers = game.highestLayer = c.layers;
        game.totalLayers = c.total;
        game.combo = game.comboAtLayerCheck = c.check;
        for (int i = 0; i < 4; ++i) {
            game.setup.stems.push_back(RoundStem{"stem" + std::to_string(i) + ".ogg", {}});
        }
        std::string requested;
        const LayerRequests requests{[&](int i) { requested += "in " + std::to_string(i) + " "; },
                                     [&](int i) { requested += "cut " + std::to_string(i) + " "; }};
        const std::string out = stdoutOf([&] {
            for (int i = 0; i < c.successes + c.misses; ++i) {
                i < c.successes ? registerSuccess(game) : registerMiss(game);
            }
            layerStep(game, requests);
        });
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_EQ(requested, c.wantRequest);
        EXPECT_EQ(game.activeLayers, c.wantLayers);
        EXPECT_EQ(game.highestLayer, std::max(c.layers, c.wantLayers));
        EXPECT_EQ(game.comboAtLayerCheck, c.wantCheck);
        EXPECT_EQ(game.missStreak, c.wantStreak);
        // Worked out after the step: a rise counts at once; with no round, the last step's stays.
        const float multiplier =
            (1.0f + 0.1f * static_cast<float>(game.combo)) * static_cast<float>(c.wantLayers);
        EXPECT_FLOAT_EQ(game.multiplier, c.playing ? multiplier : 1.0f);
    }
}
