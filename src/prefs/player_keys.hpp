#pragma once
// The player's keys to their leaderboard names, kept in prefs.json as "playerKeys": an object from
// a leaderboard base URL to {"name": ..., "key": ...}, the name the player uses on that server now
// and its key. A server hands a key out with the first upload under a name nobody owns; later
// uploads under that name carry it, and a player who pastes it on another computer owns the name
// there too.
//
// Renaming: a key belongs to one name on one server. When a key arrives or is pasted for another
// name, the earlier name and its key move into the entry's "earlierNames" list (the newest first,
// at most kMaxEarlierPlayerNames), so that a player who goes back to an earlier name still owns it.
// Names are compared folded (foldPlayerName), as the server compares them.
//
// Every routine takes the file's path (getPrefsPath() in the game), re-reads the file and writes
// back only "playerKeys", so that the other settings survive. Main thread.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>

constexpr std::size_t kMaxEarlierPlayerNames = 8;

// The key held for `name` on the server at `baseUrl` in a parsed prefs document, or "" when there
// is none (or the stored one is not 22 base64url characters).
std::string storedPlayerKey(const nlohmann::json& prefs, const std::string& baseUrl, const std::string& name);

// `prefs` (any JSON value; not an object: an empty one) with `key` held for `name` on `baseUrl`,
// as described above. A key that fails isPlayerKeyText changes nothing.
nlohmann::json prefsWithPlayerKey(nlohmann::json prefs, const std::string& baseUrl, const std::string& name,
                                  const std::string& key);

// The key held for `name` on `baseUrl` in the prefs file at `path`, "" when none (a missing or
// unreadable file holds none).
std::string loadPlayerKey(const std::string& path, const std::string& baseUrl, const std::string& name);

// Stores `key` for `name` on `baseUrl` in the prefs file at `path`. Logs "Player key for '%s'
// saved to %s"; false, with "Failed to save prefs file: %s" on stderr, when it could not be
// written, or (silently) when the key is not 22 base64url characters.
bool savePlayerKey(const std::string& path, const std::string& baseUrl, const std::string& name,
                   const std::string& key);
