#include "server/request_target.hpp"

#include <algorithm>
#include <vector>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool isPrefixCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

// The text before any "?" or "#".
std::string_view pathOf(std::string_view target) {
    const std::size_t end = target.find_first_of("?#");
    return end == std::string_view::npos ? target : target.substr(0, end);
}

// The segments of an absolute path: "/a/b" gives {"a", "b"}, "/" gives {""}.
std::vector<std::string_view> splitSegments(std::string_view path) {
    std::vector<std::string_view> segments;
    std::size_t start = 1;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        if (slash == std::string_view::npos) {
            segments.push_back(path.substr(start));
            return segments;
        }
        segments.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
}

// The parameters of a raw query, in order: separated by "&", each name and value decoded as a
// form's ("+" is a space, "%2B" a plus); empty parameters are left out. False for a malformed
// escape.
bool readQuery(std::string_view query, std::vector<std::pair<std::string, std::string>>& parameters,
               std::string& error) {
    for (std::size_t start = 0; start <= query.size();) {
        const std::size_t end = std::min(query.find('&', start), query.size());
        const std::string_view part = query.substr(start, end - start);
        start = end + 1;
        if (part.empty()) {
            continue;
        }
        const std::size_t equals = part.find('=');
        // Form encoding: "+" is a space (HTTP clients, cpp-httplib's among them, send a space so).
        std::string plain(part);
        std::replace(plain.begin(), plain.end(), '+', ' ');
        const std::string_view text = plain;
        std::string name, value;
        if (!percentDecode(text.substr(0, equals), name) ||
            !percentDecode(equals == std::string_view::npos ? std::string_view() : text.substr(equals + 1),
                           value)) {
            error = "the query has a malformed percent escape";
            return false;
        }
        parameters.emplace_back(std::move(name), std::move(value));
    }
    return true;
}

} // namespace

bool percentDecode(std::string_view text, std::string& decoded) {
    decoded.clear();
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
            return false;
        }
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

bool normalizePrefix(std::string_view prefix, std::string& normalized, std::string& error) {
    normalized.assign(prefix);
    while (!normalized.empty() && normalized.back() == '/') {
        normalized.pop_back();
    }
    if (normalized.empty()) {
        return true;
    }
    if (normalized.front() != '/') {
        error = "the prefix must start with \"/\"";
        return false;
    }
    for (char c : normalized) {
        if (!isPrefixCharacter(c)) {
            error = "the prefix may hold only letters, digits and -._~/";
            return false;
        }
    }
    if (normalized.find("//") != std::string::npos) {
        error = "the prefix has an empty segment";
        return false;
    }
    return true;
}

bool routeTarget(std::string_view target, std::string_view prefix, Route& route, std::string& error) {
    route = Route{};
    const std::string_view path = pathOf(target);
    if (path.empty() || path.front() != '/') {
        error = "the request target is not a path";
        return false;
    }
    std::vector<std::string> segments;
    for (std::string_view raw : splitSegments(path)) {
        std::string decoded;
        if (!percentDecode(raw, decoded)) {
            error = "the request target has a malformed percent escape";
            return false;
        }
        segments.push_back(std::move(decoded));
    }
    if (path.size() < target.size() && target[path.size()] == '?') {
        const std::string_view rest = target.substr(path.size() + 1);
        route.query.assign(rest.substr(0, rest.find('#')));
    }
    if (path == "/") {
        route.kind = RouteKind::Page;
        return true;
    }
    // The prefix's own segments come first, compared after decoding.
    std::size_t next = 0;
    if (!prefix.empty()) {
        for (std::string_view expected : splitSegments(prefix)) {
            if (next >= segments.size() || segments[next] != expected) {
                return true; // NotFound
            }
            ++next;
        }
    }
    const std::size_t left = segments.size() - next;
    if (left == 1 && segments[next] == "leaderboard") {
        route.kind = RouteKind::Leaderboard;
    } else if (left == 1 && segments[next] == "replay") {
        route.kind = RouteKind::Replay;
    } else if (left == 2 && segments[next] == "level") {
        route.kind = RouteKind::Level;
        route.level = std::move(segments[next + 1]);
    } else if (left == 3 && segments[next] == "player") {
        route.kind = RouteKind::PlayerScore;
        route.level = std::move(segments[next + 1]);
        route.player = std::move(segments[next + 2]);
    }
    return true;
}

bool parseBoardQuery(std::string_view query, BoardQuery& board, std::string& error) {
    board = BoardQuery{};
    bool seen[4] = {false, false, false, false};
    static constexpr const char* kNames[4] = {"level", "offset", "limit", "page"};
    static constexpr std::int64_t kLowest[4] = {0, 0, 1, 1};
    const std::int64_t highest[4] = {0, kMaxBoardOffset, static_cast<std::int64_t>(kMaxBoardLimit),
                                     kMaxBoardOffset};
    std::int64_t numbers[4] = {0, 0, static_cast<std::int64_t>(kMaxBoardLimit), 1};
    std::vector<std::pair<std::string, std::string>> parameters;
    if (!readQuery(query, parameters, error)) {
        return false;
    }
    for (auto& [name, value] : parameters) {
        int which = 0;
        while (which < 4 && name != kNames[which]) {
            ++which;
        }
        if (which == 4) {
            continue; // not ours: ignored
        }
        if (seen[which]) {
            error = "the parameter \"" + name + "\" is given twice";
            return false;
        }
        seen[which] = true;
        if (which == 0) {
            board.level = std::move(value);
            if (board.level.empty()) {
                error = "the parameter \"level\" is empty";
                return false;
            }
            continue;
        }
        std::int64_t number = 0;
        bool digits = !value.empty() && value.size() <= 10;
        for (char c : value) {
            digits = digits && c >= '0' && c <= '9';
            number = digits ? number * 10 + (c - '0') : number;
        }
        if (!digits || number < kLowest[which] || number > highest[which]) {
            error = "the parameter \"" + name + "\" needs a number from " + std::to_string(kLowest[which]) +
                    " to " + std::to_string(highest[which]);
            return false;
        }
        numbers[which] = number;
    }
    if (!seen[0] && (seen[1] || seen[2] || seen[3])) {
        error = "\"offset\", \"limit\" and \"page\" need a \"level\"";
        return false;
    }
    board.offset = numbers[1];
    board.limit = static_cast<std::size_t>(numbers[2]);
    board.page = numbers[3];
    return true;
}

bool parseReplayQuery(std::string_view query, std::string& level, std::string& player, std::string& error) {
    level.clear();
    player.clear();
    std::vector<std::pair<std::string, std::string>> parameters;
    if (!readQuery(query, parameters, error)) {
        return false;
    }
    bool seen[2] = {false, false};
    for (auto& [name, value] : parameters) {
        const int which = name == "level" ? 0 : name == "player" ? 1 : -1;
        if (which < 0) {
            continue; // not ours: ignored
        }
        if (seen[which]) {
            error = "the parameter \"" + name + "\" is given twice";
            return false;
        }
        seen[which] = true;
        (which == 0 ? level : player) = std::move(value);
    }
    if (!seen[0] || !seen[1]) {
        error = "a replay needs \"level\" and \"player\"";
        return false;
    }
    return true;
}

std::string loggablePath(std::string_view target) {
    constexpr std::size_t kMaxLogged = 200;
    const std::string_view path = pathOf(target);
    std::string safe;
    for (std::size_t i = 0; i < path.size() && i < kMaxLogged; ++i) {
        const auto byte = static_cast<unsigned char>(path[i]);
        safe += byte < 0x20 || byte == 0x7F ? '?' : path[i];
    }
    if (path.size() > kMaxLogged) {
        safe += "...";
    }
    return safe;
}
