#include "server/api_handlers.hpp"

#include "app/log.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "leaderboard/leaderboard_names.hpp"
#include "server/web_page.hpp"

#include <vector>

using nlohmann::json;

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
    if (!checkLeaderboardName(route.player, reason)) {
        refuse(res, 400, "the player name " + reason);
        return;
    }
    std::int32_t score = 0;
    std::string error;
    if (!context.store->playerScore(route.level, route.player, score, error)) {
        logError(stderr, "Cannot read a score: %s", error.c_str());
        refuse(res, 500, "the database failed");
        return;
    }
    replyJson(res, 200, {{"score", score}});
}

void answerLeaderboard(ServerContext& context, const Route& route, httplib::Response& res) {
    const bool page = route.kind == RouteKind::Page;
    std::vector<StoredEntry> entries;
    std::string error;
    if (!context.store->loadEntries(entries, error)) {
        logError(stderr, "Cannot read the scores: %s", error.c_str());
        refuse(res, 500, "the database failed");
        return;
    }
    if (!page) {
        replyJson(res, 200, documentOfEntries(entries));
        return;
    }
    res.status = 200;
    res.set_header("Cache-Control", "no-store");
    // The page needs nothing but itself and its inline style.
    res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
    res.set_content(renderLeaderboardPage(entries), "text/html; charset=utf-8");
}

void answerUpload(ServerContext& context, const httplib::Request&, const std::string& body,
                  httplib::Response& res) {
    Upload upload;
    int status = 400;
    std::string error;
    if (!readUpload(body, context.options.maxEntries, upload, status, error)) {
        refuse(res, status, error);
        return;
    }
    if (!context.store->mergeEntries(upload.entries, error)) {
        logError(stderr, "Cannot store an upload: %s", error.c_str());
        refuse(res, 500, "the database failed");
        return;
    }
    replyJson(res, 200,
              {{"success", true}, {"skipped", upload.skipped}, {"accepted", upload.entries.size()}});
}
