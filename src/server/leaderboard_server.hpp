#pragma once
// The leaderboard server's HTTP side: options, routes, limits and the request log, on
// cpp-httplib's server. The program itself is main.cpp.
//
//   GET  /                                      the web page (each level's top 10)
//   GET  <prefix>/leaderboard                   the leaderboard document
//   GET  <prefix>/player/<level>/<player>       {"score": n}, 0 when there is none
//   POST <prefix>/leaderboard   (a document)    merged; {"success": true, "skipped": n, "accepted": m}
//
// Refusals carry a JSON body {"success": false, "error": "..."}: 400 (bad target, name, JSON or
// document), 401 (upload without the token), 404, 405, 408 (an upload body slower than 10 s),
// 411 (upload without a length), 413 (body or entry count too large), 429 (rate limit), 500 (the
// database failed). A refused request's body is still read (up to the size limit) when its length
// is known, so that a kept-alive connection stays in step.
//
// Threads: the HTTP library's worker pool runs the handlers; the context is shared read-only
// except for the rate limiter and the store, which lock themselves.
#include "server/leaderboard_store.hpp"
#include "server/rate_limiter.hpp"
#include "server/server_options.hpp"

#include <httplib.h>

#include <cstddef>
#include <string>

// What the handlers share. Lives as long as the HTTP server that uses it.
struct ServerContext {
    ServerOptions options;
    LeaderboardStore* store = nullptr; // not owned
    RateLimiter limiter;
};

// cpp-httplib's server with a longer queue of connections waiting to be accepted. The library
// listens with a backlog of 5, so a burst of clients connecting at once (each game request is a
// connection of its own) overflows it and some of them are reset.
class LeaderboardHttpServer : public httplib::Server {
public:
    // Call after binding: raises the listening socket's backlog to the system's maximum. False
    // when the socket is not listening.
    bool widenListenBacklog();
};

// Installs the routes, limits (body size, time-outs, worker threads), the JSON error bodies and
// the request log ("<method> <path> <status> <ms> ms" on stdout, one line per request) on `http`.
// Call before binding.
void configureServer(httplib::Server& http, ServerContext& context);
