#include "game/scoring.hpp"

#include "base/log.hpp"

#include <cmath>
#include <limits>

// An endless round with a long combo on eight layers can pass the range of a 32-bit score; the
// score then stays at its largest value instead of wrapping around.
static std::int32_t clampToScore(double value) {
    constexpr double kMax = std::numeric_limits<std::int32_t>::max();
    constexpr double kMin = std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value > kMax ? kMax : (value < kMin ? kMin : value));
}

void addScore(GameState& game, std::int32_t points) {
    const float product = game.multiplier * static_cast<float>(points); // computed in f32
    const std::int32_t added = std::isnan(product) ? 0 : clampToScore(std::trunc(product));
    game.score = clampToScore(static_cast<double>(game.score) + added);
    if (game.score > game.highScore) {
        game.highScore = game.score;
        logMessage("High score updated: %d", game.highScore);
    }
    logMessage("Score added: %d (Total: %d)", added, game.score);
}

void registerSuccess(GameState& game) {
    ++game.combo;
    if (game.combo > game.highestCombo) {
        game.highestCombo = game.combo;
    }
    game.missStreak = 0;
}

void registerMiss(GameState& game) {
    game.combo = 0;
    ++game.missStreak;
    game.comboAtLayerCheck = 0;
    logMessage("Miss registered (%u/%u)", game.missStreak, game.missesPerLayerDrop);
}

// ---- Layer step ----

static void riseLayer(GameState& game, const LayerRequests& requests) {
    if (game.activeLayers < static_cast<std::int32_t>(game.setup.stems.size())) {
        if (requests.fadeIn) {
            requests.fadeIn(game.activeLayers);
        }
        ++game.activeLayers;
        if (game.activeLayers > game.highestLayer) {
            game.highestLayer = game.activeLayers;
        }
    }
    // Moves on even when no stem was free, so the next rise needs a whole new run.
    game.comboAtLayerCheck = game.combo;
}

static void dropLayer(GameState& game, const LayerRequests& requests) {
    const std::size_t stems = game.setup.stems.size();
    const std::size_t newest = static_cast<std::size_t>(game.activeLayers - 1);
    if (newest < stems) {
        if (requests.deactivate) {
            requests.deactivate(static_cast<int>(newest));
        }
        --game.activeLayers;
        logMessage("Deactivated stem %zu/%zu (%s)", newest + 1, stems, game.setup.stems[newest].name.c_str());
    }
    game.missStreak = 0;
}

void layerStep(GameState& game, const LayerRequests& requests) {
    if (!game.playing) {
        return;
    }
    const std::int64_t needed = static_cast<std::int64_t>(game.comboPerLayer) * game.activeLayers;
    if (static_cast<std::int64_t>(game.combo) - game.comboAtLayerCheck >= needed &&
        game.activeLayers < game.totalLayers) {
        riseLayer(game, requests);
    }
    if (game.missStreak >= game.missesPerLayerDrop && game.activeLayers >= 2) {
        dropLayer(game, requests);
    }
    game.multiplier = (1.0f + 0.1f * static_cast<float>(game.combo)) * static_cast<float>(game.activeLayers);
}
