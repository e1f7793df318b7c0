#pragma once
// The online leaderboard client. Its operations each run on a thread of their own so that the game
// never waits for the network; each answers through a callback on that thread, exactly once, and
// falls back to what the game keeps locally whenever the server cannot be used:
//   GET  <base>/leaderboard?level=<level>&limit=100  -> that level's top entries (one per level)
//   GET  <base>/player/<level>/<player>              -> {"score": n}   (names percent-encoded)
//   POST <base>/leaderboard  (document)              -> {"success": true|false, ...}
// The server is not trusted: its board goes to a cache file of its own (leaderboard_cache.hpp),
// never into the player's own results, and credentials go only where nobody on the way can read
// them (credential_policy.hpp).
//
// Threads: the request threads are tracked. httpDatabaseShutdown waits for them a short while,
// then closes the gate through which every callback runs, so that a request still under way can
// never call back into a game that has shut down. No exception leaves a request thread.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Limits of one request.
struct HttpLimits {
    int timeoutSeconds = 10;                    // connect, read and write time-outs, each
    double deadlineSeconds = 15.0;              // the whole request, however slowly bytes trickle in
    std::size_t maxBodyBytes = 4 * 1024 * 1024; // a longer reply is refused
    std::string caCertificateFile;              // https: trusted instead of the system's CAs (tests), or ""
};

// Sets gLeaderboardClient.serverBaseUrl (see LeaderboardClientConfig) and logs
// "HTTP Database initialized (pointing to %s)".
void httpDatabaseInit();

// Waits up to `waitSeconds` for the request threads to end, then closes the callback gate: from
// then on no callback runs, and a thread still under way ends on its own without touching
// anything outside itself. Main thread, at shut-down, before the game state goes away.
void httpDatabaseShutdown(double waitSeconds = 1.0);

// Waits up to `waitSeconds` for every request thread started so far to end; true when none is
// left running. Leaves the gate open (tests use it to wait for an upload).
bool httpDatabaseWait(double waitSeconds);

// What proves who the game is, sent only where credentialRoute allows it (else the request goes
// without them, logging "Not sending the leaderboard credentials over plain HTTP to %s" once per
// process and URL): header names and values.
struct HttpCredentials {
    std::vector<std::pair<std::string, std::string>> headers;
};

// A request's outcome: the status (0 when no reply came), the body (of a 2xx or 4xx reply), and
// whether the credentials went with it.
struct HttpReply {
    int status = 0;
    std::string body;
    bool credentialsSent = false;
};

// One request with credentials, as httpRequest below (same limits, messages and TLS rules). A
// plain-HTTP request to a host name that carries credentials is pinned to the address the check
// accepted. True for a 2xx status; `reply` is filled as far as the request got.
bool httpExchange(const std::string& url, const std::string& method, const std::string& body,
                  const HttpCredentials& credentials, HttpReply& reply,
                  const HttpLimits& limits = HttpLimits{});

// One request. `method` is "GET" or "POST" (POST sends `body` as application/json, with the
// upload token as credentials). True with the reply body for a 2xx status; false, with its line
// on stderr, otherwise:
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

// A request URL taken apart: the scheme ("http" or "https"), the host (an IPv6 literal written in
// brackets comes without them), the port (the scheme's default, 80 or 443, unless one is written)
// and the path from the first '/' after the host on ("/" when there is none).
struct ParsedUrl {
    std::string scheme;
    std::string host;
    int port = 0;
    bool explicitPort = false;
    std::string path;
};

// Takes `url` apart as httpRequest does. False for what it refuses as "Invalid URL format": no
// "://", another scheme, an empty host, an unclosed '[', or a port that is not a decimal number in
// 1..65535.
bool parseUrl(const std::string& url, ParsedUrl& parsed);

// The client's configuration: where the server is, where the operations keep and read the local
// file and the cache, and their limits. One for the process, owned by this module like its request
// threads and callback gate; set at start-up (tests point it at a loopback server, a temporary
// folder and a small deadline). Main thread; each operation copies what it needs when it starts.
struct LeaderboardClientConfig {
    // Where the server is, set by httpDatabaseInit: VIBRELLE_LEADERBOARD_URL when set, else the
    // build's default (a CMake cache variable, http://127.0.0.1:8420/api unless configured
    // otherwise). Uploads carry `Authorization: Bearer <token>` when VIBRELLE_LEADERBOARD_TOKEN is
    // set and not empty, for a server started with --upload-token, where credentialRoute allows it.
    std::string serverBaseUrl;
    // The player's own results (leaderboard_document.hpp): set at start-up to leaderboard.json in
    // the player's data folder; an empty path keeps none.
    std::string leaderboardPath;
    // An empty path keeps no cache (the game sets it at start-up to leaderboard_cache.json in the
    // player's data folder).
    std::string cachePath;
    HttpLimits limits;
};
extern LeaderboardClientConfig gLeaderboardClient;

// Fetches the board of each level in `levelNames`, one request per level, in order. Each reply is
// parsed with parseJsonText and read with readServerBoardLevel (a reply that is not JSON, nests
// too deep, is longer than the limit or breaks the rules skips its level, with its reason on
// stderr: "Ignoring the leaderboard server's reply for %s: %s"); a request that gets no reply at
// all ends the fetch there (the server is down). When at least one level came: logs "Loaded
// leaderboard from HTTP server (%d levels, %d invalid entries dropped)" and replaces those levels
// in the cache (updateLeaderboardCache). Otherwise "Falling back to local leaderboard file". Either
// way the callback gets mergeForDisplay(the local file, the cache as updated) and the log says
// "Loaded leaderboard from local file" when no level came but the local file or the cache held
// something, or "No local leaderboard found, returning empty" with a null document when neither
// did. The local file is only read.
void fetchLeaderboardAsync(const std::vector<std::string>& levelNames,
                           std::function<void(const nlohmann::json&)> callback);

// As above for the levels the local file names (for callers without a level list).
void fetchLeaderboardAsync(std::function<void(const nlohmann::json&)> callback);

// Fetches one player's best score on one level: the server's numeric "score", else the local
// file's entry ("Falling back to local file for player score: %s on %s", then "Found local player
// score: %s on %s = %d"), else 0. Empty names are not asked for: the callback gets 0 at once,
// without a request (still from a thread of its own, like every answer). The cache is not asked:
// the player's best is their own result, and a server that did not answer has no better one.
void fetchPlayerScoreAsync(const std::string& levelName, const std::string& playerName,
                           std::function<void(std::int32_t)> callback);

// Uploads a leaderboard document (compact JSON) holding `player`'s own entries. With a non-empty
// `player`, the request carries `X-Vibrelle-Player-Key`: `heldKey`, or a key received for this
// server and player earlier in this process, or "new" to claim the name. Uploads run one at a
// time, so that a second upload waits for the first one's claim. Logs "Successfully uploaded
// leaderboard to HTTP server", then "Server confirmed leaderboard upload" when the reply's
// "success" is true, else "Server rejected leaderboard upload" on stderr; a failed request writes
// "Failed to upload leaderboard to HTTP server, data saved locally only" on stderr. A key in the
// reply to "new" ("playerKey", 22 base64url characters) is logged ("Received a player key for
// '%s' from the leaderboard server") and kept for takeReceivedPlayerKeys. A 403 refusing the name
// logs "Leaderboard name '%s' is owned by another player on this server; choose another name in
// Settings" on stderr and sets leaderboardOwnershipNotice to the same text; a confirmed upload
// clears it.
void uploadLeaderboardAsync(const nlohmann::json& document, const std::string& player = std::string(),
                            const std::string& heldKey = std::string());

// Uploads one score entry of `player`'s, `entry` (an object with "player", "score" and the
// details) of the level `level`, with the replay of the round that made it: `replayBytes`, a replay
// file's bytes ("" for none: the entry goes without), packed on the upload's own thread (zlib, then
// base64: packReplay) into the entry's "replay" member. Otherwise as uploadLeaderboardAsync: the
// same key handling, one upload at a time, the same messages. A replay that cannot be packed is
// left off, logging "Uploading the round without its replay: %s" on stderr. With a `requiredHash`
// (a level a player made), the thread first asks GET <base>/level/<hash> and uploads only when the
// server has that level; otherwise the result stays local, logging "Keeping the result on %s on
// this computer: the leaderboard server does not have this level".
void uploadRoundAsync(const std::string& level, const nlohmann::json& entry, std::string replayBytes,
                      const std::string& player, const std::string& heldKey = std::string(),
                      const std::string& requiredHash = std::string());

// A key the server handed out, waiting for the main thread to store it: for `name` on the server
// at `baseUrl` (gLeaderboardClient.serverBaseUrl when the upload started).
struct ReceivedPlayerKey {
    std::string baseUrl;
    std::string name;
    std::string key;
};

// The keys received since the last call, oldest first, and forgets them. Any thread (the main
// thread takes them at each frame).
std::vector<ReceivedPlayerKey> takeReceivedPlayerKeys();

// The ownership message of the last refused upload, "" when there is none. Any thread.
std::string leaderboardOwnershipNotice();

// True when `text` can be a player key: exactly 22 characters of base64url (A-Z a-z 0-9 - _).
bool isPlayerKeyText(const std::string& text);
