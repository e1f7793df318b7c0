#pragma once
// Routing of the leaderboard server on the raw request target, as the client sent it. The HTTP
// library decodes the whole path before it matches routes, so a "/" inside a percent-encoded name
// would split the name; here the target is split at its literal "/" first and each segment is
// decoded on its own. Pure functions, any thread.
#include <string>
#include <string_view>

// Decodes %XX escapes (hex digits of either case) into bytes; every other byte, "+" included, is
// kept as it is. False when a "%" is not followed by two hex digits (`decoded` is then partial).
bool percentDecode(std::string_view text, std::string& decoded);

// Checks and normalises a route prefix such as "/api": "" or "/" mean the root; otherwise it must
// start with "/", hold only letters, digits and "-._~/", and have no empty segment. A trailing "/"
// is dropped. False with the reason when the prefix cannot be used.
bool normalizePrefix(std::string_view prefix, std::string& normalized, std::string& error);

enum class RouteKind {
    Page,        // "/": the web page
    Leaderboard, // <prefix>/leaderboard
    PlayerScore, // <prefix>/player/<level>/<player>
    NotFound,
};

struct Route {
    RouteKind kind = RouteKind::NotFound;
    std::string level;  // PlayerScore: the decoded level name (not yet checked)
    std::string player; // PlayerScore: the decoded player name (not yet checked)
};

// Routes a raw request target (origin form: a path, then optionally "?query"; a "#fragment" is
// ignored) under `prefix` (normalised, see normalizePrefix). The path is split at "/", each
// segment percent-decoded, and the segments matched exactly: an empty segment ("//", a trailing
// "/") matches no fixed segment, and where a name stands it is an empty name (which the name
// checks refuse). False, with the reason in `error`, when the target is not a path or has a
// malformed escape; an unknown path is a successful RouteKind::NotFound.
bool routeTarget(std::string_view target, std::string_view prefix, Route& route, std::string& error);

// The path of a raw target (no query or fragment) made safe for a log line: at most 200 bytes,
// bytes below 0x20 and 0x7F shown as "?".
std::string loggablePath(std::string_view target);
