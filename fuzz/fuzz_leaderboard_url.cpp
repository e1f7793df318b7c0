// Feeds arbitrary text to the leaderboard client's URL parser, as a server base URL (the first
// line) and a level and player name (the next two). Checks the parts against the text, and that
// the player-score URL built from an accepted base keeps its host and port and holds each name
// as one encoded path segment, whatever bytes the names contain.
#include "base/percent_encoding.hpp"
#include "leaderboard/leaderboard_client.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

std::string lineAt(const std::string& text, std::size_t index) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < index; ++i) {
        start = text.find('\n', start);
        if (start == std::string::npos) {
            return std::string();
        }
        ++start;
    }
    return text.substr(start, text.find('\n', start) - start);
}

int hexValue(char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; }

// The bytes an encoded name stands for; false when it holds anything but unreserved bytes and
// escapes of two upper-case hex digits.
bool decode(const std::string& encoded, std::string& decoded) {
    decoded.clear();
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            decoded += c;
        } else if (c == '%' && i + 2 < encoded.size() && hexValue(encoded[i + 1]) >= 0 &&
                   hexValue(encoded[i + 2]) >= 0) {
            decoded += static_cast<char>(hexValue(encoded[i + 1]) * 16 + hexValue(encoded[i + 2]));
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string url = lineAt(text, 0);
    ParsedUrl parsed;
    if (!parseUrl(url, parsed)) {
        return 0;
    }
    check(parsed.scheme == "http" || parsed.scheme == "https");
    check(parsed.port >= 1 && parsed.port <= 65535);
    check(parsed.explicitPort || parsed.port == (parsed.scheme == "https" ? 443 : 80));
    // A bracketed host is an IPv6 address, given without its brackets.
    const bool bracketed = url.compare(parsed.scheme.size() + 3, 1, "[") == 0;
    const std::string spelledHost = bracketed ? "[" + parsed.host + "]" : parsed.host;
    check(url.rfind(parsed.scheme + "://" + spelledHost, 0) == 0);
    check(!parsed.host.empty() && parsed.host.find('/') == std::string::npos);
    check(bracketed || parsed.host.find(':') == std::string::npos);
    const std::size_t pathStart = url.find('/', parsed.scheme.size() + 3);
    check(pathStart == std::string::npos ? parsed.path == "/"
                                         : url.compare(pathStart, std::string::npos, parsed.path) == 0);

    // The player-score request, as the client builds it.
    const std::string levelName = lineAt(text, 1);
    const std::string playerName = lineAt(text, 2);
    const std::string level = percentEncode(levelName);
    const std::string player = percentEncode(playerName);
    std::string decoded;
    check(decode(level, decoded) && decoded == levelName);
    check(decode(player, decoded) && decoded == playerName);
    ParsedUrl request;
    check(parseUrl(url + "/player/" + level + "/" + player, request));
    check(request.scheme == parsed.scheme && request.host == parsed.host && request.port == parsed.port);
    const std::string basePath = pathStart == std::string::npos ? std::string() : parsed.path;
    check(request.path == basePath + "/player/" + level + "/" + player);
    return 0;
}
