// Feeds a leaderboard server's reply to one level's board request to the reader the game uses
// before anything reaches its cache: parsed as the game parses it, the level read with the
// server's name rules, put into a cache and merged with a local document for the screen. The
// input's first line is the level name asked for, the rest the reply. Checks: every kept entry
// passes the rules and at most kMaxCachedEntriesPerLevel are kept, one per folded player name, and
// what the cache would write parses back to the same document.
#include "base/json_text.hpp"
#include "leaderboard/leaderboard_cache.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "leaderboard/leaderboard_names.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

using nlohmann::json;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    const std::string levelName = input.substr(0, newline);
    const std::string text = newline == std::string::npos ? std::string() : input.substr(newline + 1);
    json reply;
    std::string error;
    if (!parseJsonText(text, reply, error)) {
        return 0;
    }
    json level;
    int dropped = 0;
    if (!readServerBoardLevel(reply, levelName, level, dropped, error)) {
        return 0;
    }
    const json& scores = level["scores"];
    if (dropped < 0 || scores.size() > kMaxCachedEntriesPerLevel) {
        std::abort();
    }
    std::set<std::string> players;
    for (const json& entry : scores) {
        std::string reason;
        const std::string& player = entry.at("player").get_ref<const std::string&>();
        if (!checkPlayerName(player, reason) || !players.insert(foldPlayerName(player)).second ||
            !entry.at("score").is_number_integer()) {
            std::abort();
        }
    }
    json cache = {{"levels", json::array()}};
    replaceCachedLevels(cache, {level});
    json back;
    if (!parseJsonText(serializeLeaderboard(cache, -1), back, error) || back != cache) {
        std::abort();
    }
    const json local = {{"levels", {{{"name", levelName}, {"scores", {{{"player", "me"}, {"score", 1}}}}}}}};
    const json shown = mergeForDisplay(local, cache);
    if (!shown.is_object() || shown["levels"].size() != 1) {
        std::abort();
    }
    return 0;
}
