// Feeds a round result, a local leaderboard file and a server's reply to the leaderboard
// document's rules: the save into the file's document, then the merge of the server's document
// into it. The input is three parts separated by lines of "---":
//   level name, player name and score, one per line (missing lines: empty names, score 0)
//   the local file's text
//   the server's reply
// Both texts are parsed as the game parses them. Checks: a save leaves the player's best score
// at least the result's, the merge keeps the higher score of every level and player, merging
// the same reply again changes nothing, and what is written parses back.
#include "base/json_text.hpp"
#include "leaderboard/leaderboard_document.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

using nlohmann::json;

namespace {

// Checks are quadratic in the number of entries; a few dozen players is plenty to catch a rule
// that loses one.
constexpr std::size_t kCheckedPlayers = 32;

std::vector<std::string> split(const std::string& text, const std::string& separator, std::size_t parts) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (pieces.size() + 1 < parts) {
        const std::size_t at = text.find(separator, start);
        if (at == std::string::npos) {
            break;
        }
        pieces.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    pieces.push_back(text.substr(start));
    pieces.resize(parts);
    return pieces;
}

json parsed(const std::string& text) {
    json document;
    std::string error;
    parseJsonText(text, document, error);
    return document;
}

// Every player named in a score entry of the document (at most kCheckedPlayers).
std::set<std::string> playersOf(const json& document) {
    std::set<std::string> players;
    if (!document.is_object() || !document.contains("levels") || !document["levels"].is_array()) {
        return players;
    }
    for (const json& level : document["levels"]) {
        if (!level.is_object() || !level.contains("scores") || !level["scores"].is_array()) {
            continue;
        }
        for (const json& entry : level["scores"]) {
            if (entry.is_object() && entry.contains("player") && entry["player"].is_string() &&
                players.size() < kCheckedPlayers) {
                players.insert(entry["player"].get<std::string>());
            }
        }
    }
    return players;
}

// The readable score of each (level, player) a lookup finds, as (level name, score) for `player`.
std::vector<std::pair<std::string, std::int32_t>> bestScores(const json& document,
                                                             const std::string& player) {
    std::vector<std::pair<std::string, std::int32_t>> scores;
    const json entries = playerEntries(document, player);
    for (const json& level : entries["levels"]) {
        const json& entry = level["scores"][0];
        if (entry.contains("score")) {
            if (const std::optional<std::int32_t> score = storedScore(entry["score"])) {
                scores.emplace_back(level["name"].get<std::string>(), *score);
            }
        }
    }
    return scores;
}

void checkWritten(const json& document) {
    const std::string text = serializeLeaderboard(document, 4);
    json back;
    std::string error;
    if (text.empty() || !parseJsonText(text, back, error)) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> parts =
        split(std::string(reinterpret_cast<const char*>(data), size), "\n---\n", 3);
    const std::vector<std::string> header = split(parts[0], "\n", 3);
    RoundResult result;
    result.level = header[0];
    result.player = header[1];
    result.score = static_cast<std::int32_t>(std::strtol(header[2].c_str(), nullptr, 10));
    result.time = 61;
    result.highestLayer = 3;
    result.highestCombo = 14;

    // The save.
    json document = parsed(parts[1]);
    const json before = document;
    const bool changed = applyRoundResult(document, result);
    if (result.level.empty() || result.player.empty()) {
        if (changed || document != before) {
            __builtin_trap();
        }
    } else {
        const std::int32_t best = findPlayerScore(document, result.level, result.player);
        // A result that is not kept leaves the document exactly as it was.
        if (best < result.score || (changed && best != result.score) || (!changed && document != before)) {
            __builtin_trap();
        }
    }
    checkWritten(document);

    // The merge of the server's reply.
    const json server = parsed(parts[2]);
    json merged = document;
    if (!mergeLeaderboards(merged, server)) {
        if (merged != document) {
            __builtin_trap();
        }
        return 0;
    }
    std::set<std::string> players = playersOf(document);
    const std::set<std::string> serverPlayers = playersOf(server);
    players.insert(serverPlayers.begin(), serverPlayers.end());
    for (const std::string& player : players) {
        for (const json* side : {static_cast<const json*>(&document), &server}) {
            for (const auto& [level, score] : bestScores(*side, player)) {
                if (findPlayerScore(merged, level, player) < score) {
                    __builtin_trap();
                }
            }
        }
    }
    json again = merged;
    if (!mergeLeaderboards(again, server) || again != merged) {
        __builtin_trap();
    }
    checkWritten(merged);
    return 0;
}
