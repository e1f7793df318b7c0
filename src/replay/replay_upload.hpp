#pragma once
// A replay as it travels inside a leaderboard upload: the file's bytes compressed with zlib and
// written as base64 text in the score entry's "replay" member. The game packs a replay; the server
// unpacks it with a hard bound on what it inflates, so that a small upload cannot make it allocate
// or work without limit. Pure functions on the caller's buffers: any thread; nothing logs.
#include "replay/replay_file.hpp"

#include <cstddef>
#include <string>
#include <string_view>

// The most a packed replay may inflate to, in bytes. A 30-minute round of dense keyboard play is
// about 1.1 MB; past this the server stops inflating and refuses it.
constexpr std::size_t kMaxInflatedReplayBytes = std::size_t(8) << 20; // 8 MiB

// Standard base64 (RFC 4648, '+' and '/', padded with '=') of `bytes`.
std::string encodeBase64(std::string_view bytes);

// The bytes of standard padded base64 `text`. False, with the reason in `error`, for anything
// else: a length that is not a multiple of 4, a character outside the alphabet (white space
// included), padding anywhere but the end, or pad bits that are not zero.
bool decodeBase64(std::string_view text, std::string& bytes, std::string& error);

// `bytes` compressed into one zlib stream (the best compression). False with the reason when
// zlib fails (out of memory).
bool deflateBytes(std::string_view bytes, std::string& compressed, std::string& error);

// Inflates the zlib stream `compressed` into `bytes`, a piece at a time, and stops as soon as the
// output would pass `limit` bytes: false then, and for a damaged or truncated stream or bytes after
// its end, each with the reason in `error` and `bytes` cleared. Never holds more than `limit`
// bytes of output (and one piece's worth beyond nothing else).
bool inflateBounded(std::string_view compressed, std::size_t limit, std::string& bytes, std::string& error);

// The "replay" text of a replay file's `fileBytes`: deflateBytes, then encodeBase64.
bool packReplay(std::string_view fileBytes, std::string& text, std::string& error);

// Reads a "replay" text back: decodeBase64, inflateBounded to kMaxInflatedReplayBytes, then
// decodeReplay. `compressed` receives the decoded zlib stream (what a server keeps). False with
// the reason in `error` ("the replay is not base64: ...", "the replay inflates past 8388608
// bytes", "the replay is not a zlib stream: ...", "the replay cannot be read: ...").
bool unpackReplay(std::string_view text, Replay& replay, std::string& compressed, std::string& error);
