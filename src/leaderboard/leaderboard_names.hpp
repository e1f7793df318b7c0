#pragma once
// Checks on the level and player names that key a leaderboard: what a server accepts from the
// network and what the game may send it. Pure functions on bytes, usable from any thread.
#include <cstddef>
#include <string>
#include <string_view>

// The longest level or player name a leaderboard keeps, in bytes of UTF-8.
constexpr std::size_t kMaxLeaderboardNameBytes = 64;

// True when `text` is well-formed UTF-8: every sequence in its shortest form, no UTF-16
// surrogates (U+D800..U+DFFF), nothing above U+10FFFF. The empty text is well-formed.
bool isValidUtf8(std::string_view text);

// True when `name` can key a leaderboard entry: 1 to kMaxLeaderboardNameBytes bytes of valid
// UTF-8 without control characters (U+0000..U+001F, U+007F..U+009F). Otherwise false, with the
// reason in `reason` ("is empty", "is longer than 64 bytes", "is not valid UTF-8", "contains a
// control character").
bool checkLeaderboardName(std::string_view name, std::string& reason);
