#pragma once
// Player keys: the secret that proves an upload comes from the owner of a player name. A key is
// 16 random bytes written as 22 characters of base64url without padding; the server hands it out
// once, when a name is claimed, and keeps only its SHA-256. Pure functions, any thread.
#include <optional>
#include <string>
#include <string_view>

// The length of a key's text, in characters.
constexpr std::size_t kPlayerKeyLength = 22;

// What the X-Vibrelle-Player-Key header of an upload asks for.
enum class PlayerKeyKind {
    None,    // no header: entries for names nobody owns are taken, owned names are refused
    New,     // "new": claim the upload's player name
    Key,     // a key: entries for the name it owns are taken too
    Invalid, // anything else: the upload is refused (400)
};

struct PlayerKeyHeader {
    PlayerKeyKind kind = PlayerKeyKind::None;
    std::string key; // PlayerKeyKind::Key: the key's text
};

// Reads the header's value; `value` is nullopt when the request has no such header. A key must be
// exactly kPlayerKeyLength characters of A-Z a-z 0-9 - _ and, as the encoding of exactly 16 bytes,
// end in one of "AQgw" (its last character carries two bits). "new" is lower case. Nothing is
// trimmed: the HTTP layer has already removed the spaces around a header's value.
PlayerKeyHeader parsePlayerKeyHeader(const std::optional<std::string_view>& value);

// A fresh key from OpenSSL's RAND_bytes. False when the generator failed (the key is then empty).
bool makePlayerKey(std::string& key);

// The SHA-256 of a key's text, as 64 lower-case hex digits: what the stores keep.
std::string hashPlayerKey(std::string_view key);
