#pragma once
// Routing of the leaderboard server on the raw request target, as the client sent it. The HTTP
// library decodes the whole path before it matches routes, so a "/" inside a percent-encoded name
// would split the name; here the target is split at its literal "/" first and each segment is
// decoded on its own. Pure functions, any thread.
#include <cstddef>
#include <cstdint>
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
    Replay,      // <prefix>/replay
    Level,       // <prefix>/level/<hash>
    NotFound,
};

struct Route {
    RouteKind kind = RouteKind::NotFound;
    std::string level;  // PlayerScore: the decoded level name; Level: the decoded hash (neither checked)
    std::string player; // PlayerScore: the decoded player name (not yet checked)
    std::string query;  // the raw text between "?" and any "#" (not yet decoded)
};

// The most entries one request for a level's ranking gets, and the default.
constexpr std::size_t kMaxBoardLimit = 100;
// The highest offset (and so page) a request may name; a larger one is refused, not clamped.
constexpr std::int64_t kMaxBoardOffset = 1000000000;

// What the query of GET <prefix>/leaderboard or GET / asks for.
struct BoardQuery {
    std::string level;                  // "level", percent-decoded; "" for the whole board
    std::int64_t offset = 0;            // "offset": 0..kMaxBoardOffset
    std::size_t limit = kMaxBoardLimit; // "limit": 1..kMaxBoardLimit
    std::int64_t page = 1;              // "page" (the web page's level view): 1..kMaxBoardOffset
};

// Reads a raw query ("level=Neon%20Drive&offset=100"): parameters separated by "&", each name and
// value decoded as a form's ("+" is a space, "%2B" a plus); empty parameters are ignored, and so are
// unknown names. Numbers are decimal digits only. False, with the reason, for a malformed escape,
// a number out of range or not a number, a known parameter given twice, an empty "level", or
// "offset", "limit" or "page" without "level".
bool parseBoardQuery(std::string_view query, BoardQuery& board, std::string& error);

// Reads the query of GET <prefix>/replay ("level=Neon&player=Ann"), decoded as parseBoardQuery
// does; unknown names are ignored. False, with the reason, for a malformed escape, a parameter
// given twice, or "level" or "player" missing. The names are not checked here.
bool parseReplayQuery(std::string_view query, std::string& level, std::string& player, std::string& error);

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
