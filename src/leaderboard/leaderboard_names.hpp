#pragma once
// Checks on the level and player names that key a leaderboard: what a server accepts from the
// network and what the game may send it, and the form in which two player names are compared.
// Pure functions on bytes, usable from any thread.
#include "base/utf8.hpp"

#include <string>
#include <string_view>

// True when `name` can key a leaderboard entry: 1 to kMaxNameBytes (base/utf8.hpp) bytes of valid
// UTF-8 without control characters (U+0000..U+001F, U+007F..U+009F). Otherwise false, with the
// reason in `reason` ("is empty", "is longer than 64 bytes", "is not valid UTF-8", "contains a
// control character").
bool checkLeaderboardName(std::string_view name, std::string& reason);

// True when `name` can name a player: it passes checkLeaderboardName and holds no format
// character (Unicode category Cf: bidi controls, zero-width characters, which make two names look
// alike or reorder the text around them) and no code point the Unicode tables do not assign.
// Otherwise false, with the reason ("contains a format character", "contains an unassigned code
// point", or checkLeaderboardName's).
bool checkPlayerName(std::string_view name, std::string& reason);

// The form in which player names are compared: NFC-normalised, then case-folded (then composed
// again), so that "Ann", "ANN" and "ann" written with a combining accent where one applies are one
// name. Only for names that pass checkPlayerName; for any other text the result is the text
// itself. The folded form may be longer than the name; it is a key, never shown.
std::string foldPlayerName(std::string_view name);
