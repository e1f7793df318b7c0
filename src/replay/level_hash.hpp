#pragma once
// The level hash: which level, exactly, a replay was played on. It covers what shapes a round (the
// manifest, every chart, the loop length), so that a replay checked against a changed level is
// known to be checked against another level. Layout in docs/replay-format.md. Any thread.
#include <cstdint>
#include <string>
#include <vector>

// The largest manifest or chart file the folder hash reads, in bytes.
constexpr std::uint64_t kMaxHashedFileBytes = std::uint64_t(16) << 20;

// SHA-256, as 64 lowercase hex digits, of: the manifest's bytes, each chart's bytes in the order
// given (a stem without a chart, or whose chart file is missing, gives an empty one), and the loop
// length in whole microseconds, each piece framed by its length. False only when OpenSSL fails.
bool levelHash(const std::string& manifestBytes, const std::vector<std::string>& chartBytes,
               std::int64_t loopLengthUs, std::string& hash);

// The level hash of the level in `folder` (its level.json and the charts that names). The stems
// are taken as the game's level code reads the manifest (parseLevelManifestText: entries without
// an audio file dropped, the rest sorted by startOrder), each chart path relative to the folder
// and cleaned as the game loads it. `loopLengthUs` is the caller's: the level's loop length once
// loaded (every chart's audioLength after padStemsToLongest, the longest stem's length, in
// seconds) times 1 000 000, rounded to the nearest whole number (std::llround). False, with the
// reason in `error` and logged with logError, when the manifest is not a regular file or cannot be
// read or parsed, or a file is larger than kMaxHashedFileBytes or cannot be read for another reason
// than being missing. A chart that is not a regular file (a folder, a named pipe) counts as empty.
bool levelHashOfFolder(const std::string& folder, std::int64_t loopLengthUs, std::string& hash,
                       std::string& error);
