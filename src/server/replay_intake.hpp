#pragma once
// What the leaderboard server does with the replay an uploaded score entry carries, before the
// entry is stored: the replay is unpacked within its bounds (replay_upload.hpp) and checked for
// the plain facts that need no level (it is of the entry's level, its stored result is the
// entry's, the bot did not play it, and its round did not take less wall-clock time than song
// time); then, when the server knows the level, its round is run again (replay_verify.hpp) and
// the entry is verified when the run comes to the entry's result. Any thread.
#include "replay/replay_file.hpp"
#include "replay/replay_verify.hpp"
#include "server/score_entries.hpp"
#include "server/server_levels.hpp"

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

// Takes in the replays of `upload`'s entries, one at a time, all within `deadline`. Each entry's
// replay text is unpacked and checked (unpackReplay, replayMatchesEntry) and replaced by its zlib
// stream. When `levels` has a level of the replay's name and hash, the round is run again on
// `pool`: the entry is verified when it comes to the replay's result (and suspect when its offsets
// are too even, offsetsAreSuspect), and refused when it comes to another; when the deadline passes
// first, it stays unverified. A replay of a level the server has under that name but with another
// hash (another version of the level) is refused; one of a level it does not know at all stays
// unverified, as does an entry without a replay.
// A refused entry is taken out of `upload.entries`, counted in `upload.skipped` and explained in
// `upload.errors` ({"level", "player", "error": "the replay ..."}). With `verifiedOnly`, every
// entry left unverified is taken out so too, with the reason it was not verified. Returns how many
// of the entries left are verified (suspect ones included).
std::size_t takeInReplays(Upload& upload, const ServerLevels& levels, VerifyPool& pool, bool verifiedOnly,
                          VerifyClock::time_point deadline);
