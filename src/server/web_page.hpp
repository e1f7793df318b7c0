#pragma once
// The leaderboard server's web page: plain HTML, no JavaScript, every text escaped.
#include "server/score_entries.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// `text` with &, <, >, " and ' replaced by character references, for HTML text and attributes.
std::string htmlEscape(std::string_view text);

// The page: one table per level (levels in the order of `entries`) with its `perLevel` best
// entries, highest score first (equal scores in stored order): rank, player, score, layers
// ("highestLayer") and combo ("highestCombo"). A detail that is missing or of another type
// shows as "-".
std::string renderLeaderboardPage(const std::vector<StoredEntry>& entries, std::size_t perLevel = 10);
