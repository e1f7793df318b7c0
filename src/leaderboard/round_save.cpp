#include "leaderboard/round_save.hpp"

#include "base/json_text.hpp"
#include "base/utf8.hpp"
#include "game/game_state.hpp"
#include "leaderboard/leaderboard_client.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

RoundResult roundResultOf(const GameState& game) {
    RoundResult result;
    // The names as the file will hold them, so that the next save finds the entry this one writes
    // instead of adding another.
    result.level = withUtf8Replacements(game.levelName);
    result.player = withUtf8Replacements(game.playerName);
    result.score = game.score;
    const double seconds = std::trunc(game.songTime);
    result.time =
        std::isfinite(seconds) && seconds >= 0.0 && seconds < std::numeric_limits<std::int32_t>::max()
            ? static_cast<std::int32_t>(seconds)
            : 0;
    // A round starts on its first layer, but a level without stems has none to reach.
    result.highestLayer = std::min(game.highestLayer, game.totalLayers);
    result.totalLayers = game.totalLayers;
    result.highestCombo = game.highestCombo;
    return result;
}

void saveRoundResult(const RoundResult& result, const std::string& path, const std::string& heldKey) {
    if (result.level.empty() || result.player.empty()) {
        return; // an entry nobody could look up again
    }
    nlohmann::json saved;
    saveRoundResultTo(path, result, saved);
    // Uploaded even when the file could not be written: the server may still keep the result.
    uploadLeaderboardAsync(playerEntries(saved, result.player), result.player, heldKey);
}
