#include "leaderboard/round_save.hpp"

#include "base/json_text.hpp"
#include "base/log.hpp"
#include "base/utf8.hpp"
#include "game/game_state.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "replay/replay_store.hpp"

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

namespace {

// The player's entry on the result's level in `saved`, when it scores above the result and the
// replay of its round is still kept: the entry, with that replay's file bytes. Null otherwise.
nlohmann::json betterKeptEntry(const nlohmann::json& saved, const RoundResult& result,
                               const std::string& dataFolder, std::string& replayBytes) {
    if (dataFolder.empty() || findPlayerScore(saved, result.level, result.player) <= result.score) {
        return nullptr;
    }
    const nlohmann::json own = playerEntries(saved, result.player);
    for (const nlohmann::json& level : own["levels"]) {
        if (level.value("name", std::string()) != result.level) {
            continue;
        }
        const nlohmann::json& entry = level["scores"].front();
        const auto count = [&entry](const char* key) {
            const auto found = entry.find(key);
            return found != entry.end() && found->is_number_integer() ? found->get<std::int32_t>() : -1;
        };
        const std::string replayPath = findReplayFor(
            dataFolder, ReplayEntry{result.level, findPlayerScore(saved, result.level, result.player),
                                    count("time"), count("highestCombo")});
        Replay replay;
        std::string error;
        if (!replayPath.empty() && readReplayFile(replayPath, replay, error) &&
            encodeReplay(replay, replayBytes, error)) {
            return entry;
        }
        return nullptr;
    }
    return nullptr;
}

} // namespace

void saveRoundResult(const RoundResult& result, const std::string& path, const std::string& heldKey,
                     std::string replayBytes, const std::string& dataFolder, bool ownLevel,
                     const std::string& ownLevelHash) {
    if (result.level.empty() || result.player.empty()) {
        return; // an entry nobody could look up again
    }
    nlohmann::json saved;
    saveRoundResultTo(path, result, saved);
    if (ownLevel && ownLevelHash.empty()) {
        logMessage("Keeping the result on %s on this computer: the level cannot be told apart from others "
                   "of its name",
                   result.level.c_str());
        return;
    }
    // Uploaded even when the file could not be written: the server may still keep the result.
    std::string betterBytes;
    const nlohmann::json better = betterKeptEntry(saved, result, dataFolder, betterBytes);
    if (!better.is_null()) {
        uploadRoundAsync(result.level, better, std::move(betterBytes), result.player, heldKey, ownLevelHash);
        return;
    }
    const nlohmann::json entry = {
        {"player", result.player},
        {"score", result.score},
        {"time", result.time},
        {"highestLayer", std::to_string(result.highestLayer) + "/" + std::to_string(result.totalLayers)},
        {"highestCombo", result.highestCombo}};
    uploadRoundAsync(result.level, entry, std::move(replayBytes), result.player, heldKey, ownLevelHash);
}
