#pragma once
// What the leaderboard server answers once a request has passed the HTTP layer's checks (routing,
// limits, the token): the GET answers and the merge of an upload's body. The HTTP layer
// (leaderboard_server.cpp) decides whether a request gets here; these decide what it gets.
//
// Threads: the HTTP library's worker threads, many at once; the store locks itself.
#include "server/leaderboard_server.hpp"
#include "server/request_target.hpp"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <string>

// Sets `res` to `status` with `body` as compact JSON, not to be cached.
void replyJson(httplib::Response& res, int status, const nlohmann::json& body);

// A refusal: `status` with {"success": false, "error": error}.
void refuse(httplib::Response& res, int status, const std::string& error);

// GET <prefix>/player/<level>/<player>: {"score": n} of the player found by folded name, 0 when
// there is none; 400 for a bad name, 500 when the database fails.
void answerPlayerScore(ServerContext& context, const Route& route, httplib::Response& res);

// GET <prefix>/replay?level=L&player=P: the replay file of the player's entry (found by folded
// name) as the game writes it, the stored zlib stream inflated, as an attachment named by
// replayFileName, not to be cached; only for a verified entry (suspect ones too) with a replay.
// 404 {"success": false, "error": "no verified replay for that entry"} otherwise; 400 for a bad
// query or name; 500 when the database fails or the stored stream does not inflate.
void answerReplay(ServerContext& context, const Route& route, httplib::Response& res);

// GET <prefix>/level/<hash>: whether the server checks rounds on the level whose hash is <hash>
// (64 lowercase hexadecimal digits): 200 {"name": <its name>, "hash": <hash>} when it has it, 404
// {"success": false, "error": "the server does not have this level"} when not, 400 for a hash of
// another form. The game asks before uploading a result on a level a player made. Any handler
// thread; reads only the levels fixed at start.
void answerLevel(const ServerContext& context, const Route& route, httplib::Response& res);

// The file name a downloaded replay gets: "<level>-<player>.vbr", each name cut to ASCII letters,
// digits and "-_." (a run of anything else one "_", no leading "."), at most 60 and 40 bytes.
std::string replayFileName(const std::string& level, const std::string& player);

// GET <prefix>/leaderboard (the document) or GET / (the web page), by `route.kind`, for the query
// in `route.query` (see parseBoardQuery): without a level, each level's best 100 (the page: 10)
// with its total; with one, that level's entries from "offset" ("page") on. 400 for a bad query.
void answerLeaderboard(ServerContext& context, const Route& route, httplib::Response& res);

// POST <prefix>/leaderboard with its whole `body` read, and its X-Vibrelle-Player-Key header
// ("new", a key, or none): takes in the entries' replays (takeInReplays: an entry whose replay
// fails is skipped; with --verified-only so is every unverified entry), makes the claim, merges
// the entries the key may write with their replays, and answers {"success": true, "accepted": m,
// "skipped": n, "droppedKeys": k, "verified": v, "errors": [...]}, with "playerKey" and "player"
// after a claim; 403 when entries were refused for their owned names and none taken; other
// refusals 400 (a claim with no entry left carries the "errors" too), 413, 500.
void answerUpload(ServerContext& context, const httplib::Request& req, const std::string& body,
                  httplib::Response& res);
