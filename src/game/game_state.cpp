#include "game/game_state.hpp"

// ---- Shared by start-up and round start ----

static void clearRoundCounters(GameState& game) {
    game.score = 0;
    game.combo = 0;
    game.highestCombo = 0;
    game.activeLayers = 1;
    game.highestLayer = 1;
    game.playing = false;
    game.multiplier = 1.0f;
    game.previousBest = -1;
}

static void clearCircles(GameState& game) {
    game.circles.clear(); // each circle's holders go with it
    game.holds.clear();
    game.missStreak = 0;
    game.comboAtLayerCheck = 0;
    game.progress = RoundProgress{};
    game.outcomes.clear();
    game.layerTimeline.clear();
}

void initGameState(GameState& game, std::int32_t totalLayers) {
    clearRoundCounters(game);
    game.totalLayers = totalLayers;
    game.playerName = "Player";
    game.keyboardGameplay = false;
    clearCircles(game);
    game.comboPerLayer = kComboPerLayer;
    game.missesPerLayerDrop = 3;
}

void resetRound(GameState& game) {
    clearRoundCounters(game);
    // The answer comes back later on the request's own thread; until then the previous
    // `highScore` stays on show.
    ++game.round;
    // An entry without a level or player name is never stored, so there is nothing to ask for.
    if (game.requestHighScore && !game.levelName.empty() && !game.playerName.empty()) {
        game.requestHighScore(game.levelName, game.playerName, game.round);
    }
    clearCircles(game);
}

void clearRunState(GameState& game) {
    game.progress = RoundProgress{};
    game.circles.clear();
    game.holds.clear();
    game.missStreak = 0;
    game.pendingNotes.clear();
    game.songTimeNs = 0;
    game.songRate = 1.0;
}

void acceptHighScore(GameState& game, std::uint64_t round, std::int32_t answer) {
    if (round != game.round) {
        return; // a later round has begun, perhaps on another level: the answer is stale
    }
    game.previousBest = answer;
    game.highScore = answer > game.score ? answer : game.score;
}
