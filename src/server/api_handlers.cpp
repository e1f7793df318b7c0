#include "server/api_handlers.hpp"

#include "base/log.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "leaderboard/leaderboard_names.hpp"
#include "replay/replay_upload.hpp"
#include "server/player_keys.hpp"
#include "server/replay_intake.hpp"
#include "server/web_page.hpp"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

using nlohmann::json;

namespace {

constexpr const char* kPlayerKeyHeader = "X-Vibrelle-Player-Key";
constexpr const char* kOwnedError = "the name is owned by another player";
// Entries per level on the web page's board.
constexpr std::size_t kPageTopEntries = 10;

} // namespace

void replyJson(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(serializeLeaderboard(body, -1), "application/json");
}

void refuse(httplib::Response& res, int status, const std::string& error) {
    replyJson(res, status, {{"success", false}, {"error", error}});
}

void answerPlayerScore(ServerContext& context, const Route& route, httplib::Response& res) {
    std::string reason;
    if (!checkLeaderboardName(route.level, reason)) {
        refuse(res, 400, "the level name " + reason);
        return;
    }
    // Only the old rules: a name stored before the player-name rules grew stays readable.
    if (!checkLeaderboardName(route.player, reason)) {
        refuse(res, 400, "the player name " + reason);
        return;
    }
    std::int32_t score = 0;
    std::string error;
    if (!context.store->playerScore(route.level, foldPlayerName(route.player), score, error)) {
        logError(stderr, "Cannot read a score: %s", error.c_str());
        refuse(res, 500, "the database failed");
        return;
    }
    replyJson(res, 200, {{"score", score}});
}

namespace {

// `name` as a piece of a file name: ASCII letters, digits, "-", "_" and "." kept (a "." not
// first), every run of other bytes one "_", at most `limit` bytes.
std::string fileNamePiece(const std::string& name, std::size_t limit) {
    std::string piece;
    for (const char c : name) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '_' || (c == '.' && !piece.empty());
        if (piece.size() >= limit) {
            break;
        }
        if (kept) {
            piece += c;
        } else if (piece.empty() || piece.back() != '_') {
            piece += '_';
        }
    }
    return piece;
}

} // namespace

std::string replayFileName(const std::string& level, const std::string& player) {
    return fileNamePiece(level, 60) + "-" + fileNamePiece(player, 40) + ".vbr";
}

void answerLevel(const ServerContext& context, const Route& route, httplib::Response& res) {
    const std::string& hash = route.level;
    const bool wellFormed = hash.size() == 64 && std::all_of(hash.begin(), hash.end(), [](char c) {
                                return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                            });
    if (!wellFormed) {
        refuse(res, 400, "a level hash is 64 lowercase hexadecimal digits");
        return;
    }
    for (const CheckedLevel& level : context.levels.levels) {
        if (level.hash == hash) {
            replyJson(res, 200, {{"name", level.name}, {"hash", hash}});
            return;
        }
    }
    refuse(res, 404, "the server does not have this level");
}

void answerReplay(ServerContext& context, const Route& route, httplib::Response& res) {
    std::string level, player, error, reason;
    if (!parseReplayQuery(route.query, level, player, error)) {
        refuse(res, 400, error);
        return;
    }
    if (!checkLeaderboardName(level, reason)) {
        refuse(res, 400, "the level name " + reason);
        return;
    }
    // Only the old rules, as for a player's score: an entry stored before the player-name rules.
    if (!checkLeaderboardName(player, reason)) {
        refuse(res, 400, "the player name " + reason);
        return;
    }
    bool found = false;
    StoredEntry stored;
    if (!context.store->loadReplay(level, foldPlayerName(player), found, stored, error)) {
        logError(stderr, "Cannot read a replay: %s", error.c_str());
        refuse(res, 500, "the database failed");
        return;
    }
    if (!found || !stored.verified || stored.replay.empty()) {
        refuse(res, 404, "no verified replay for that entry");
        return;
    }
    // The stream was inflated within this bound when it was taken in; a stored one that no longer
    // inflates is damage, not the client's fault.
    std::string bytes;
    if (!inflateBounded(stored.replay, kMaxInflatedReplayBytes, bytes, error)) {
        logError(stderr, "Cannot inflate the stored replay of %s on %s: %s", stored.player.c_str(),
                 level.c_str(), error.c_str());
        refuse(res, 500, "the stored replay cannot be read");
        return;
    }
    res.status = 200;
    res.set_header("Cache-Control", "no-store");
    res.set_header("Content-Disposition",
                   "attachment; filename=\"" + replayFileName(level, stored.player) + "\"");
    res.set_content(std::move(bytes), "application/octet-stream");
}

namespace {

void replyPage(httplib::Response& res, int status, const std::string& html) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    // The page needs nothing but itself and its inline style.
    res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
    res.set_content(html, "text/html; charset=utf-8");
}

// Reads what a board request asks for; false once it has answered a bad one.
bool readBoardQuery(const Route& route, bool page, BoardQuery& query, httplib::Response& res) {
    std::string error;
    std::string reason;
    if (!parseBoardQuery(route.query, query, error)) {
        // error as it is
    } else if (!query.level.empty() && !checkLeaderboardName(query.level, reason)) {
        error = "the level name " + reason;
    } else {
        return true;
    }
    if (page) {
        replyPage(res, 400, renderRefusalPage(error));
    } else {
        refuse(res, 400, error);
    }
    return false;
}

} // namespace

void answerLeaderboard(ServerContext& context, const Route& route, httplib::Response& res) {
    const bool page = route.kind == RouteKind::Page;
    BoardQuery query;
    if (!readBoardQuery(route, page, query, res)) {
        return;
    }
    std::vector<LevelPage> levels(1);
    std::string error;
    bool read = false;
    if (query.level.empty()) {
        read = context.store->loadBoard(page ? kPageTopEntries : kMaxBoardLimit, levels, error);
    } else if (page) {
        read = context.store->loadLevelPage(query.level,
                                            (query.page - 1) * static_cast<std::int64_t>(kRankingPageSize),
                                            kRankingPageSize, levels[0], error);
    } else {
        read = context.store->loadLevelPage(query.level, query.offset, query.limit, levels[0], error);
    }
    if (!read) {
        logError(stderr, "Cannot read the scores: %s", error.c_str());
        refuse(res, 500, "the database failed");
        return;
    }
    if (!page) {
        replyJson(res, 200, documentOfPages(std::move(levels), !query.level.empty()));
    } else {
        replyPage(res, 200,
                  query.level.empty() ? renderLeaderboardPage(levels, context.options.prefix)
                                      : renderRankingPage(levels[0], query.page, context.options.prefix));
    }
}

void answerUpload(ServerContext& context, const httplib::Request& req, const std::string& body,
                  httplib::Response& res) {
    std::optional<std::string_view> headerValue;
    const std::string rawHeader = req.get_header_value(kPlayerKeyHeader);
    if (req.get_header_value_count(kPlayerKeyHeader) > 1) {
        refuse(res, 400, std::string(kPlayerKeyHeader) + " is given more than once");
        return;
    }
    if (req.has_header(kPlayerKeyHeader)) {
        headerValue = rawHeader;
    }
    const PlayerKeyHeader header = parsePlayerKeyHeader(headerValue);
    if (header.kind == PlayerKeyKind::Invalid) {
        refuse(res, 400,
               std::string(kPlayerKeyHeader) +
                   " must be \"new\" or a player key (22 characters of base64url)");
        return;
    }
    Upload upload;
    int status = 400;
    std::string error;
    if (!readUpload(body, context.options.maxEntries, upload, status, error)) {
        refuse(res, status, error);
        return;
    }
    // Before the claim: a claim needs an entry the server takes.
    const std::size_t verified =
        takeInReplays(upload, context.levels, *context.verifier, context.options.verifiedOnly,
                      VerifyClock::now() + kVerifyBudget);
    MergeRequest request;
    std::string newKey;
    if (header.kind == PlayerKeyKind::New) {
        if (upload.entries.empty()) {
            replyJson(res, 400,
                      {{"success", false},
                       {"error", "a claim needs at least one valid score entry"},
                       {"errors", upload.errors}});
            return;
        }
        for (const StoredEntry& stored : upload.entries) {
            if (stored.playerKey != upload.entries.front().playerKey) {
                refuse(res, 400, "a claim's score entries must all be of one player");
                return;
            }
        }
        if (!makePlayerKey(newKey)) {
            logError(stderr, "Cannot make a player key: the random generator failed");
            refuse(res, 500, "the server cannot make a key");
            return;
        }
        request.claimName = upload.entries.front().playerKey;
        request.keyHash = hashPlayerKey(newKey);
    } else if (header.kind == PlayerKeyKind::Key) {
        request.keyHash = hashPlayerKey(header.key);
    }
    request.entries = std::move(upload.entries);
    MergeResult merged;
    if (!context.store->mergeUpload(request, merged, error)) {
        logError(stderr, "Cannot store an upload: %s", error.c_str());
        refuse(res, 500, "the database failed");
        return;
    }
    json errors = json::array();
    for (json& skipped : upload.errors) {
        errors.push_back(std::move(skipped));
    }
    std::size_t owned = 0;
    for (std::size_t i = 0; i < request.entries.size(); ++i) {
        if (merged.refused[i]) {
            ++owned;
            errors.push_back({{"level", request.entries[i].level},
                              {"player", request.entries[i].player},
                              {"error", kOwnedError}});
        }
    }
    if (owned > 0 && merged.accepted == 0) {
        replyJson(res, 403, {{"success", false}, {"error", kOwnedError}, {"errors", std::move(errors)}});
        return;
    }
    json reply = {{"success", true},
                  {"accepted", merged.accepted},
                  {"skipped", upload.skipped + owned},
                  {"droppedKeys", upload.droppedKeys},
                  {"verified", verified},
                  {"errors", std::move(errors)}};
    if (merged.claimed) {
        reply["playerKey"] = newKey;
        reply["player"] = request.entries.front().player;
    }
    replyJson(res, 200, reply);
}
