#include "leaderboard/round_save.hpp"

#include "game/game_state.hpp"
#include "net/http_database.hpp"

#include <cmath>
#include <limits>

// The name as the file will hold it: bytes that are not UTF-8 become U+FFFD, so that the next save
// finds the entry this one writes instead of adding another.
static std::string asStored(const std::string& name) {
    const std::string quoted =
        nlohmann::json(name).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    const nlohmann::json parsed = nlohmann::json::parse(quoted, nullptr, false);
    return parsed.is_string() ? parsed.get<std::string>() : std::string();
}

RoundResult roundResultOf(const GameState& game) {
    RoundResult result;
    result.level = asStored(game.levelName);
    result.player = asStored(game.playerName);
    result.score = game.score;
    const double seconds = std::trunc(game.songTime);
    result.time =
        std::isfinite(seconds) && seconds >= 0.0 && seconds < std::numeric_limits<std::int32_t>::max()
            ? static_cast<std::int32_t>(seconds)
            : 0;
    result.highestLayer = game.highestLayer;
    result.totalLayers = game.totalLayers;
    result.highestCombo = game.highestCombo;
    return result;
}

void saveRoundResult(const RoundResult& result, const std::string& path) {
    if (result.level.empty() || result.player.empty()) {
        return; // an entry nobody could look up again
    }
    nlohmann::json saved;
    saveRoundResultTo(path, result, saved);
    // Uploaded even when the file could not be written: the server may still keep the result.
    uploadLeaderboardAsync(playerEntries(saved, result.player));
}
