#pragma once
// What the leaderboard server does with the replay an uploaded score entry carries, before the
// entry is stored: the replay is unpacked within its bounds (replay_upload.hpp) and checked for
// the plain facts that need no level (it is of the entry's level, its stored result is the
// entry's, the bot did not play it, and its round did not take less wall-clock time than song
// time); then, when the server knows the level, its round is run again (replay_verify.hpp) and
// the entry is verified when the run comes to the entry's result. Any thread.
#include "replay/replay_file.hpp"
#include "replay/replay_verify.hpp"
#include "server/replay_facts.hpp"
#include "server/score_entries.hpp"
#include "server/server_levels.hpp"

#include <string>

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
