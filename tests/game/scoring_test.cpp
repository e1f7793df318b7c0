// Score, combo, the multiplier, the live high score, and the layer step's rises and drops.
#include "game/scoring.hpp"
#include "game_test_support.hpp"

#include <gtest/gtest.h>

using namespace gametest;

TEST(Score, PointsAreScaledByTheMultiplierOfTheLastTickAndTruncated) {
    const struct {
        int combo, layers, points, added;
    } cases[] = {{0, 1, 450, 450}, {1, 1, 450, 495}, {10, 2, 300, 1200}, {3, 1, 100, 130}, {1, 1, 5, 5}};
    for (const auto& c : cases) {
        AudioSystem audio;
        GameState game = playingGame();
        game.combo = c.combo;
        game.activeLayers = c.layers;
        game.totalLayers = c.layers; // no rise in this step
        layerStep(game, audio, audioLayerRequests(audio));
        stdoutOf([&] { addScore(game, c.points); });
        EXPECT_EQ(game.score, c.added) << c.combo << " x " << c.layers;
    }
    // The success's own combo step counts only from the next tick.
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
        unsigned active, fading; // stems by bit
        bool playing;
        int check, successes, misses; // combo at the last rise, then hits and misses
        int wantLayers, wantCheck;
        unsigned wantActive, wantStreak;
        const char* says;
    } cases[] = {
        {"4 hits: no rise", 1, 8, 0b0001, 0, true, 0, 4, 0, 1, 0, 0b0001, 0, ""},
        {"5 hits: the next stem fades in", 1, 8, 0b0001, 0, true, 0, 5, 0, 2, 5, 0b0011, 0, ""},
        {"2 layers, 9 hits since the last rise", 2, 8, 0b0011, 0, true, 5, 9, 0, 2, 5, 0b0011, 0, ""},
        {"2 layers, 10 hits since the last rise", 2, 8, 0b0011, 0, true, 5, 10, 0, 3, 15, 0b0111, 0, ""},
        {"a fading stem is not free", 1, 8, 0b0001, 0b0010, true, 0, 5, 0, 2, 5, 0b0101, 0, ""},
        {"no rise beyond the total", 1, 1, 0b0001, 0, true, 0, 5, 0, 1, 0, 0b0001, 0, ""},
        {"no free stem: the count starts again", 2, 8, 0b1111, 0, true, 0, 10, 0, 2, 10, 0b1111, 0, ""},
        {"2 misses: no drop", 3, 8, 0b0111, 0, true, 0, 0, 2, 3, 0, 0b0111, 2, ""},
        {"3 misses: the newest stem goes", 3, 8, 0b0111, 0, true, 0, 0, 3, 2, 0, 0b0011, 0,
         "Deactivated stem 3/4 (stem2.ogg)\n"},
        {"the last layer stays", 1, 8, 0b0001, 0, true, 0, 0, 3, 1, 0, 0b0001, 3, ""},
        {"no stem to cut: the streak clears", 2, 8, 0b0000, 0, true, 0, 0, 3, 2, 0, 0b0000, 0, ""},
        {"no round: no rise", 1, 8, 0b0001, 0, false, 0, 5, 0, 1, 0, 0b0001, 0, ""},
        {"no round: no drop", 2, 8, 0b0011, 0, false, 0, 0, 3, 2, 0, 0b0011, 3, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AudioSystem audio;
        GameState game = playingGame();
        game.playing = c.playing;
        game.activeLayers = game.highestLayer = c.layers;
        game.totalLayers = c.total;
        game.combo = game.comboAtLayerCheck = c.check;
        for (int i = 0; i < 4; ++i) {
            LoadedStem& stem = addStem(audio, 10.0, (c.active >> i) & 1);
            stem.fading = (c.fading >> i) & 1;
        }
        const std::string out = stdoutOf([&] {
            for (int i = 0; i < c.successes + c.misses; ++i) {
                i < c.successes ? registerSuccess(game) : registerMiss(game);
            }
            layerStep(game, audio, audioLayerRequests(audio));
        });
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_EQ(game.activeLayers, c.wantLayers);
        EXPECT_EQ(game.highestLayer, std::max(c.layers, c.wantLayers));
        EXPECT_EQ(game.comboAtLayerCheck, c.wantCheck);
        EXPECT_EQ(game.missStreak, c.wantStreak);
        const unsigned risen = c.wantActive & ~c.active;
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(audio.stems[i].active, bool((c.wantActive >> i) & 1)) << "stem " << i;
            EXPECT_EQ(audio.stems[i].fading, bool(((c.fading | risen) >> i) & 1)) << "stem " << i;
        }
        // Worked out after the step: a rise counts at once; with no round, the last tick's stays.
        const float multiplier =
            (1.0f + 0.1f * static_cast<float>(game.combo)) * static_cast<float>(c.wantLayers);
        EXPECT_FLOAT_EQ(game.multiplier, c.playing ? multiplier : 1.0f);
    }
}
