#pragma once
// Percent-encoding for the paths and queries of the leaderboard's URLs: the game's client builds
// them, the server's web page writes them into its links. Header only.
#include <string>
#include <string_view>

// `text` with every byte outside RFC 3986's unreserved set (A-Z a-z 0-9 - . _ ~) written as %XX
// (upper-case hex), so that any bytes make one path segment or query value.
inline std::string percentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size() * 3);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                                byte == '~';
        if (unreserved) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}
