#pragma once
// What the leaderboard server does with the replay an uploaded score entry carries, before the
// entry is stored: the replay is unpacked within its bounds (replay_upload.hpp) and checked for
// the plain facts that need no level: it is of the entry's level, its stored result is the
// entry's, the bot did not play it, and its round did not take less wall-clock time than song
// time. Running the round again, which would verify it, needs the level and is not done here:
// every entry comes out unverified. Pure functions, any thread.
#include "replay/replay_file.hpp"
#include "server/score_entries.hpp"

#include <string>

// The song time a round may run ahead of the wall clock between its start and its end, in
// milliseconds: the two are read at slightly different moments, in whole milliseconds, and a sound
// card's clock may run a little fast (far less than this share).
constexpr std::int64_t kReplayClockSlackMs = 250;
constexpr std::int64_t kReplayClockSlackPerMille = 2;

// True when `replay` can stand behind `stored`: its level name is the entry's level (bytes), its
// result's score, highest combo and "highestLayer" text are the entry's (the text as the game
// writes it: "H/T", T the level's layers up to kMaxLayers, H the result's highest layer up to T), it was not
// played by the bot, and its wall-clock duration (endedAt - startedAt) is not shorter than its song time
// (songEnd - songStart) less the slack above. Otherwise false with the first fact that fails in `why`.
bool replayMatchesEntry(const Replay& replay, const StoredEntry& stored, std::string& why);

// Takes in the replays of `upload`'s entries: each entry's replay text is unpacked and checked
// (unpackReplay, replayMatchesEntry) and replaced by its zlib stream; an entry whose replay fails
// is taken out of `upload.entries`, counted in `upload.skipped` and explained in `upload.errors`
// ({"level", "player", "error": "the replay ..."}). With `verifiedOnly`, every entry that is not
// verified is taken out so too ("the server takes only verified rounds ..."), which for now is
// every entry. Returns how many of the entries left are verified.
std::size_t takeInReplays(Upload& upload, bool verifiedOnly);
