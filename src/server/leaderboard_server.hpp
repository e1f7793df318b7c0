#pragma once
// The leaderboard server's HTTP side: options, routes, limits and the request log, on
// cpp-httplib's server. The program itself is main.cpp.
//
//   GET  /                            the web page: each level's top 10
//   GET  /?level=L&page=K             the web page: one level's ranking, 50 a page
//   GET  <prefix>/leaderboard         each level's top 100 and its total
//   GET  <prefix>/leaderboard?level=L&offset=K&limit=N   a page of one level
//   GET  <prefix>/player/<level>/<player>                {"score": n}, 0 when there is none
//   POST <prefix>/leaderboard (a document)               merged; the reply and owned names
//                                                        (X-Vibrelle-Player-Key): api_handlers.hpp
//
// Refusals carry a JSON body {"success": false, "error": "..."}: 400 (bad target, query, name, JSON
// or document), 401 (upload without the token), 403 (an upload with an Origin header, a web page
// posting from another site; or one whose every entry was refused for an owned name), 404, 405,
// 408 (an upload body slower than 10 s), 411 (upload without a length), 413 (body or entry count
// too large), 415 (an upload that is not application/json), 429 (rate limit), 500 (the database
// failed), 503 (too many connections or requests in flight from one client address). A refused
// request's body is still read (up to the size limit) when its length is known, so that the reply
// is not lost to a reset while the client is still sending.
//
// Clients are told apart by address (client_address.hpp): the peer's, or behind a trusted proxy
// the one X-Forwarded-For names. Each client address may have a number of connections open
// (ConnectionLimiter; through a proxy, requests in flight) and a rate of requests (RateLimiter).
//
// Threads: the HTTP library's worker pool runs the connections and handlers; the context is
// shared read-only except for the limiters, the refusal log and the store, which lock themselves.
#include "replay/replay_verify.hpp"
#include "server/connection_limit.hpp"
#include "server/leaderboard_store.hpp"
#include "server/rate_limiter.hpp"
#include "server/server_levels.hpp"
#include "server/server_options.hpp"

#include <httplib.h>

#include <cstddef>
#include <string>

// What the handlers share. Lives as long as the HTTP server that uses it.
struct ServerContext {
    ServerOptions options;
    LeaderboardStore* store = nullptr; // not owned
    RateLimiter limiter;
    ConnectionLimiter connections;
    RefusalLog refusals;            // of the rate and connection limits
    ServerLevels levels;            // read at start (--levels), for checking uploaded rounds; fixed after
    VerifyPool* verifier = nullptr; // runs uploaded rounds again; not owned, outlives the HTTP server
};

// cpp-httplib's server with a connection loop of our own, run on the worker thread that takes
// each accepted connection: the connection is counted against its client address and refused at
// once (503, closed) over the limit; the client behind a trusted proxy is found before any
// handler runs; a read-ahead pipelined request is kept for the next; and a connection whose
// reply said "Connection: close" is closed rather than left holding its worker.
class LeaderboardHttpServer : public httplib::Server {
public:
    ServerContext* context = nullptr; // set by configureServer; not owned

private:
    bool process_and_close_socket(socket_t sock) override;
};

// Installs the routes, limits (body size, time-outs, keep-alive, worker threads and their queue,
// connections per address), the JSON error bodies and the request log ("<method> <path> <status>
// <ms> ms" on stdout, one line per request; refusals of the rate and connection limits at most
// one line a second per address) on `http`. Call before binding.
void configureServer(LeaderboardHttpServer& http, ServerContext& context);
