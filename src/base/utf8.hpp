#pragma once
// UTF-8 on plain bytes: validation, the two replacement forms the game writes, and cutting a text
// at a character boundary. Pure functions, usable from any thread. Every check of a player or level
// name (prefs, the settings field, the leaderboard, the server) takes its rules from here.
#include <cstddef>
#include <string>
#include <string_view>

// The longest player or level name, in bytes of UTF-8: what the preferences store, the settings
// field holds, the game sends and a leaderboard keeps.
constexpr std::size_t kMaxNameBytes = 64;

// The length in bytes (1..4) of the well-formed UTF-8 sequence at `text[at]`, with its code point in
// `codePoint`; 0 when the bytes there are not one (a stray continuation byte, an overlong form, a
// UTF-16 surrogate U+D800..U+DFFF, a value past U+10FFFF, or a sequence cut by the end of the text).
// `at` must be below text.size().
std::size_t utf8SequenceAt(std::string_view text, std::size_t at, char32_t& codePoint);

// True when every sequence of `text` is well-formed (see utf8SequenceAt). The empty text is.
bool isValidUtf8(std::string_view text);

// `text` with each byte that starts no well-formed sequence replaced by U+FFFD: an overlong
// two-byte form becomes two replacement characters.
std::string withEachBadByteReplaced(std::string_view text);

// `text` as a written JSON string holds it: bytes that are not UTF-8 become U+FFFD as the JSON
// library writes them with its replacing error handler (one U+FFFD for a cut sequence, not one per
// byte). Throws only std::bad_alloc.
std::string withUtf8Replacements(const std::string& text);

// At most `maxBytes` bytes of `text`, cut before a character that would not fit whole, so that no
// UTF-8 sequence is split (bytes that are not UTF-8 count as characters of one byte).
std::string cutToCharacters(std::string_view text, std::size_t maxBytes);
