#pragma once
// The plain facts an uploaded replay must hold against the score entry it comes with, checked
// before any round is run again: they need no level. Any thread.
#include "replay/replay_file.hpp"
#include "server/score_entries.hpp"

#include <cstdint>
#include <string>

// The song time a round may run ahead of the wall clock between its start and its end, in
// milliseconds: the two are read at slightly different moments, in whole milliseconds, and a sound
// card's clock may run a little fast (far less than this share).
constexpr std::int64_t kReplayClockSlackMs = 250;
constexpr std::int64_t kReplayClockSlackPerMille = 2;

// True when `replay` can stand behind `stored`: its level name is the entry's level (bytes), its
// result's score, highest combo and "highestLayer" text are the entry's (the text as the game
// writes it: "H/T", T the level's layers up to kMaxLayers, H the result's highest layer up to T), it was not
// played by the bot nor a practice round, and its wall-clock duration (endedAt - startedAt) is not shorter
// than its song time (songEnd - songStart) less the slack above. Otherwise false with the first fact that
// fails in `why`.
bool replayMatchesEntry(const Replay& replay, const StoredEntry& stored, std::string& why);
