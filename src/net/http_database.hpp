#pragma once
// The online leaderboard client. Three operations, each on a thread of its own so that the game
// never waits for the network; each answers through a callback on that thread, exactly once, and
// falls back to the local leaderboard file whenever the server cannot be used:
//   GET  <base>/leaderboard                 -> the leaderboard document
//   GET  <base>/player/<level>/<player>     -> {"score": n}   (names percent-encoded)
//   POST <base>/leaderboard  (document)     -> {"success": true|false}
//
// Threads: the request threads are tracked. httpDatabaseShutdown waits for them a short while,
// then closes the gate through which every callback runs, so that a request still under way can
// never call back into a game that has shut down. No exception leaves a request thread.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Where the server is, set once at start-up: VIBRELLE_LEADERBOARD_URL when set, else the build's
// default (a CMake cache variable, http://127.0.0.1:8420/api unless configured otherwise).
// Uploads carry `Authorization: Bearer <token>` when VIBRELLE_LEADERBOARD_TOKEN is set and not
// empty, for a server started with --upload-token.
extern std::string serverBaseUrl;

// Limits of one request.
struct HttpLimits {
    int timeoutSeconds = 10;                    // connect, read and write time-outs, each
    double deadlineSeconds = 15.0;              // the whole request, however slowly bytes trickle in
    std::size_t maxBodyBytes = 4 * 1024 * 1024; // a longer reply is refused
    std::string caCertificateFile;              // https: trusted instead of the system's CAs (tests), or ""
};

// Sets serverBaseUrl (as above) and logs "HTTP Database initialized (pointing to %s)".
void httpDatabaseInit();

// Waits up to `waitSeconds` for the request threads to end, then closes the callback gate: from
// then on no callback runs, and a thread still under way ends on its own without touching
// anything outside itself. Main thread, at shut-down, before the game state goes away.
void httpDatabaseShutdown(double waitSeconds = 1.0);

// Waits up to `waitSeconds` for every request thread started so far to end; true when none is
// left running. Leaves the gate open (tests use it to wait for an upload).
bool httpDatabaseWait(double waitSeconds);

// Opens the gate again and forgets finished threads (for tests that start several clients).
void httpDatabaseReset();

// One request. `method` is "GET" or "POST" (POST sends `body` as application/json). True with
// the reply body for a 2xx status; false, with its line on stderr, otherwise:
//   "Invalid URL format: %s"                (also for a port outside 1..65535)
//   "Failed to create HTTP client for %s"
//   "Unsupported HTTP method: %s"
//   "HTTP request failed: %s"               (transport error, time-out, deadline, reply too long)
//   "HTTP request failed with status: %d"
//   "HTTP request exception: %s"
// https URLs go over TLS with the server's certificate verified against the system's
// certificates, or, when `limits.caCertificateFile` is given, against that file instead (the
// library takes a single CA file). Only with VIBRELLE_INSECURE_HTTP=1 is an https URL sent over
// plain HTTP instead, logging "Converting HTTPS to HTTP for local development: %s" (port 80
// unless one is given).
bool httpRequest(const std::string& url, const std::string& method, const std::string& body,
                 std::string& responseBody, const HttpLimits& limits = HttpLimits{});

// A request URL taken apart: the scheme ("http" or "https"), the host, the port (the scheme's
// default, 80 or 443, unless one is written) and the path from the first '/' after the host on
// ("/" when there is none).
struct ParsedUrl {
    std::string scheme;
    std::string host;
    int port = 0;
    bool explicitPort = false;
    std::string path;
};

// Takes `url` apart as httpRequest does. False for what it refuses as "Invalid URL format": no
// "://", another scheme, an empty host, or a port that is not a decimal number in 1..65535.
bool parseUrl(const std::string& url, ParsedUrl& parsed);

// RFC 3986 percent-encoding of every byte outside the unreserved set (A-Z a-z 0-9 - . _ ~).
std::string percentEncode(const std::string& text);

// Where the operations keep and read the local file, and their limits; tests point these at a
// temporary folder and a small deadline.
struct HttpDatabaseConfig {
    std::string leaderboardPath = "levels/leaderboard.json";
    HttpLimits limits;
};
extern HttpDatabaseConfig httpDatabaseConfig;

// Fetches the whole leaderboard. From the server: a reply that is an object with a "levels"
// array, nested at most kMaxJsonDepth deep, is logged ("Loaded leaderboard from HTTP server (%d
// levels)"), merged into the local file (the best entry of each level and player kept) and handed
// over merged. Otherwise "Falling back to local leaderboard file", and the local file ("Loaded
// leaderboard from local file"), or a null document when there is none ("No local leaderboard
// found, returning empty").
void fetchLeaderboardAsync(std::function<void(const nlohmann::json&)> callback);

// Fetches one player's best score on one level: the server's numeric "score", else the local
// file's entry ("Falling back to local file for player score: %s on %s", then "Found local player
// score: %s on %s = %d"), else 0. Empty names are not asked for: the callback gets 0 at once,
// without a request (still from a thread of its own, like every answer).
void fetchPlayerScoreAsync(const std::string& levelName, const std::string& playerName,
                           std::function<void(std::int32_t)> callback);

// Uploads a leaderboard document (compact JSON). Logs "Successfully uploaded leaderboard to HTTP
// server", then "Server confirmed leaderboard upload" when the reply's "success" is true, else
// "Server rejected leaderboard upload" on stderr; a failed request writes "Failed to upload
// leaderboard to HTTP server, data saved locally only" on stderr.
void uploadLeaderboardAsync(const nlohmann::json& document);
