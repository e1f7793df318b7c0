#include "server/leaderboard_server.hpp"

#include "app/log.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "leaderboard/leaderboard_names.hpp"
#include "server/request_target.hpp"
#include "server/web_page.hpp"

#include <sys/socket.h>

#include <chrono>
#include <exception>
#include <optional>
#include <vector>

using nlohmann::json;

namespace {

using Clock = std::chrono::steady_clock;

// Per-connection time-outs: a client that sends or reads nothing for this long is dropped.
constexpr time_t kSocketTimeoutSeconds = 5;
// The whole body of an upload must arrive within this, however slowly bytes trickle in.
constexpr double kBodyDeadlineSeconds = 10.0;

// What the pre-routing step found out about the request this worker thread is handling; the
// upload handler and the log line, which run later on the same thread, read it.
struct RequestState {
    std::optional<Clock::time_point> start;
    int refusal = 0; // a refusal given once the body has been read (see refuseRequest): the status
    std::string refusalText;
};
thread_local RequestState requestState;

const char* reasonOf(int status) {
    switch (status) {
    case 400:
        return "bad request";
    case 401:
        return "an upload needs the server's token";
    case 404:
        return "not found";
    case 405:
        return "method not allowed";
    case 408:
        return "the request took too long";
    case 411:
        return "an upload needs a Content-Length";
    case 413:
        return "the request is too large";
    case 414:
        return "the request target is too long";
    case 429:
        return "too many requests";
    default:
        return status >= 500 ? "server error" : "refused";
    }
}

void replyJson(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(serializeLeaderboard(body, -1), "application/json");
}

void refuse(httplib::Response& res, int status, const std::string& error) {
    replyJson(res, status, {{"success", false}, {"error", error}});
}

bool tokenMatches(const std::string& expected, const std::string& authorization) {
    const std::string given =
        authorization.rfind("Bearer ", 0) == 0 ? authorization.substr(7) : std::string();
    // Compared in full whatever the first difference, so the time taken does not tell it.
    unsigned char difference = given.size() == expected.size() ? 0 : 1;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        difference |= static_cast<unsigned char>(expected[i] ^ (i < given.size() ? given[i] : 0));
    }
    return difference == 0;
}

bool hasBodyLength(const httplib::Request& req) {
    return req.has_header("Content-Length") ||
           req.get_header_value("Transfer-Encoding").find("chunked") != std::string::npos;
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

void answerLeaderboard(ServerContext& context, httplib::Response& res, bool page) {
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

// A refusal decided before the body has been read. A request without a body gets it at once. With
// a body, the refusal waits until the body has been read (the upload handler reads uploads, the
// library any other body of a known length, at most kMaxUploadBytes), so that the next request on
// a kept-alive connection starts where this one ends, and the reply is not lost to a connection
// reset while the client is still sending. A chunked body off the upload route is never read
// (the library would take it whole, unbounded): it is refused at once and the client told to
// close the connection.
httplib::Server::HandlerResponse refuseRequest(const httplib::Request& req, httplib::Response& res,
                                               int status, const std::string& text) {
    const bool chunked = req.has_header("Transfer-Encoding");
    if (!chunked && req.get_header_value_u64("Content-Length") > 0) {
        requestState.refusal = status;
        requestState.refusalText = text;
        return httplib::Server::HandlerResponse::Unhandled;
    }
    refuse(res, status, text);
    if (chunked) {
        res.set_header("Connection", "close");
    }
    return httplib::Server::HandlerResponse::Handled;
}

// Everything but reading an upload's body: routing on the raw target, the rate limit, the GET
// answers, and the checks an upload must pass.
httplib::Server::HandlerResponse preRoute(ServerContext& context, const httplib::Request& req,
                                          httplib::Response& res) {
    using Handled = httplib::Server::HandlerResponse;
    requestState = RequestState{};
    requestState.start = Clock::now();
    Route route;
    std::string error;
    const bool routed = routeTarget(req.target, context.options.prefix, route, error);
    const bool upload = routed && req.method == "POST" && route.kind == RouteKind::Leaderboard;
    if (upload && !hasBodyLength(req)) {
        refuse(res, 411, "an upload needs a Content-Length");
        return Handled::Handled;
    }
    if (!allowRequest(context.limiter, req.remote_addr, *requestState.start)) {
        res.set_header("Retry-After", "1");
        return refuseRequest(req, res, 429, "too many requests; try again in a second");
    }
    if (!routed) {
        return refuseRequest(req, res, 400, error);
    }
    if (upload) {
        if (!context.options.uploadToken.empty() &&
            !tokenMatches(context.options.uploadToken, req.get_header_value("Authorization"))) {
            res.set_header("WWW-Authenticate", "Bearer");
            return refuseRequest(req, res, 401, "an upload needs the server's token (Authorization: Bearer ...)");
        }
        return Handled::Unhandled; // on to the upload handler, which reads the body
    }
    if (route.kind == RouteKind::NotFound) {
        return refuseRequest(req, res, 404, "no such endpoint");
    }
    if (req.method != "GET" && req.method != "HEAD") {
        const char* allowed = route.kind == RouteKind::Leaderboard ? "GET, HEAD, POST" : "GET, HEAD";
        res.set_header("Allow", allowed);
        return refuseRequest(req, res, 405, std::string("use ") + allowed);
    }
    if (req.has_header("Transfer-Encoding") || req.get_header_value_u64("Content-Length") > 0) {
        return refuseRequest(req, res, 400, "a GET request takes no body");
    }
    if (route.kind == RouteKind::PlayerScore) {
        answerPlayerScore(context, route, res);
    } else {
        answerLeaderboard(context, res, route.kind == RouteKind::Page);
    }
    return Handled::Handled;
}

// Reads an upload's body (at most kMaxUploadBytes, within kBodyDeadlineSeconds), then merges it or
// gives the refusal the pre-routing step decided on.
void handleUpload(ServerContext& context, const httplib::Request&, httplib::Response& res,
                  const httplib::ContentReader& reader) {
    const Clock::time_point start = requestState.start.value_or(Clock::now());
    // A refused upload's body is read and dropped; the refusal is given here, not by the error
    // handler, so that a failure to read the body reports itself.
    const int refusal = requestState.refusal;
    requestState.refusal = 0;
    const bool keep = refusal == 0;
    std::string body;
    std::size_t received = 0;
    bool tooLarge = false;
    bool tooSlow = false;
    const bool read = reader([&](const char* data, std::size_t length) {
        if (length > kMaxUploadBytes - received) {
            tooLarge = true;
            return false;
        }
        if (std::chrono::duration<double>(Clock::now() - start).count() > kBodyDeadlineSeconds) {
            tooSlow = true;
            return false;
        }
        received += length;
        if (keep) {
            body.append(data, length);
        }
        return true;
    });
    if (tooLarge || res.status == 413) {
        refuse(res, 413, "the body is larger than " + std::to_string(kMaxUploadBytes) + " bytes");
    } else if (tooSlow) {
        refuse(res, 408, "the body did not arrive in time");
    } else if (!read) {
        refuse(res, 400, "the body could not be read");
    } else if (!keep) {
        refuse(res, refusal, requestState.refusalText);
        return;
    } else {
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
        return;
    }
    res.set_header("Connection", "close"); // the rest of the body is still on its way
}

// The upload route as a regular expression matching only itself: the prefix holds letters,
// digits and "-._~/" (see normalizePrefix), of which only "." is special.
std::string uploadPathPattern(const std::string& prefix) {
    std::string pattern;
    for (char c : prefix + "/leaderboard") {
        if (c == '.') {
            pattern += '\\';
        }
        pattern += c;
    }
    return pattern;
}

void logRequest(const httplib::Request& req, const httplib::Response& res) {
    const std::string method = req.method.empty() ? "-" : loggablePath(req.method);
    const std::string path = req.target.empty() ? "-" : loggablePath(req.target);
    if (requestState.start) {
        const double ms =
            std::chrono::duration<double, std::milli>(Clock::now() - *requestState.start).count();
        logMessage("%s %s %d %.2f ms", method.c_str(), path.c_str(), res.status, ms);
    } else {
        logMessage("%s %s %d - ms", method.c_str(), path.c_str(), res.status);
    }
    requestState = RequestState{};
}

// Strict decimal: digits only, within [low, high].
bool parseNumber(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty() || text.size() > 12) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return value >= low && value <= high;
}

} // namespace

std::string serverUsage() {
    return "Usage: vibrelle-leaderboard-server [OPTIONS]\n"
           "Serves a Vibrelle leaderboard over HTTP: GET / (web page), GET <prefix>/leaderboard,\n"
           "GET <prefix>/player/<level>/<player>, POST <prefix>/leaderboard.\n"
           "\n"
           "  --port N            port to listen on (default 8420; 0 picks a free one)\n"
           "  --bind ADDR         address to listen on (default 127.0.0.1; 0.0.0.0 for every interface)\n"
           "  --database DB       SQLite file (default leaderboard.db) or postgresql://user@host:port/db\n"
           "  --prefix P          path prefix of the API (default /api)\n"
           "  --upload-token T    uploads need the header \"Authorization: Bearer T\"\n"
           "  --rate-limit N      requests per second per client address (default 20; 0: off)\n"
           "  --max-entries N     score entries per upload (default 1000)\n"
           "  --threads N         HTTP worker threads (default 32)\n"
           "  --help              print this and exit\n";
}

bool parseServerOptions(int argc, const char* const* argv, ServerOptions& options, std::string& error) {
    options = ServerOptions{};
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::optional<std::string> value;
        if (const std::size_t equals = name.find('=');
            name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        const bool known = name == "--port" || name == "--bind" || name == "--database" ||
                           name == "--prefix" || name == "--upload-token" || name == "--rate-limit" ||
                           name == "--max-entries" || name == "--threads";
        if (!known) {
            error = "unknown option " + name;
            return false;
        }
        if (!value) {
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        long long number = 0;
        if (name == "--port") {
            if (!parseNumber(*value, 0, 65535, number)) {
                error = "--port needs a number from 0 to 65535";
                return false;
            }
            options.port = static_cast<int>(number);
        } else if (name == "--rate-limit") {
            if (!parseNumber(*value, 0, 1000000, number)) {
                error = "--rate-limit needs a number from 0 to 1000000";
                return false;
            }
            options.rateLimit = static_cast<int>(number);
        } else if (name == "--max-entries") {
            if (!parseNumber(*value, 1, 1000000, number)) {
                error = "--max-entries needs a number from 1 to 1000000";
                return false;
            }
            options.maxEntries = static_cast<std::size_t>(number);
        } else if (name == "--threads") {
            if (!parseNumber(*value, 1, 1024, number)) {
                error = "--threads needs a number from 1 to 1024";
                return false;
            }
            options.threads = static_cast<int>(number);
        } else if (name == "--prefix") {
            std::string reason;
            if (!normalizePrefix(*value, options.prefix, reason)) {
                error = "--prefix: " + reason;
                return false;
            }
        } else if (value->empty()) {
            error = name + " needs a value";
            return false;
        } else if (name == "--bind") {
            options.bind = *value;
        } else if (name == "--database") {
            options.database = *value;
        } else {
            for (char c : *value) {
                if (c <= ' ' || c > '~') {
                    error = "--upload-token may hold only visible ASCII characters";
                    return false;
                }
            }
            options.uploadToken = *value;
        }
    }
    return true;
}

bool LeaderboardHttpServer::widenListenBacklog() {
    // Listening again on a listening socket only changes its backlog.
    return ::listen(svr_sock_, SOMAXCONN) == 0;
}

void configureServer(httplib::Server& http, ServerContext& context) {
    context.limiter.rate = context.options.rateLimit;
    const auto threads = static_cast<std::size_t>(context.options.threads);
    http.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // A reply goes out as headers, then body: without this, Nagle's algorithm holds the body back
    // until the client's delayed acknowledgement, some 40 ms per request.
    http.set_tcp_nodelay(true);
    http.set_read_timeout(kSocketTimeoutSeconds, 0);
    http.set_write_timeout(kSocketTimeoutSeconds, 0);
    http.set_keep_alive_timeout(kSocketTimeoutSeconds);
    http.set_keep_alive_max_count(1000);
    http.set_payload_max_length(kMaxUploadBytes);
    http.set_pre_routing_handler([&context](const httplib::Request& req, httplib::Response& res) {
        return preRoute(context, req, res);
    });
    // Uploads that pre-routing passed on; their decoded path is exactly this. The pattern is a
    // literal on purpose: the standard library's regex recurses once per character on patterns
    // such as ".*", and a long path would overflow the stack.
    http.Post(uploadPathPattern(context.options.prefix),
              [&context](const httplib::Request& req, httplib::Response& res,
                         const httplib::ContentReader& reader) { handleUpload(context, req, res, reader); });
    // Refusals made by the library itself (a malformed request, a target too long) get the same
    // JSON shape as ours; a body already set is left alone.
    http.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
            // A refusal that waited for the body (see refuseRequest) replaces the library's own
            // answer to the unrouted request, unless the body itself was too large.
            if (requestState.refusal != 0 && res.status != 413) {
                refuse(res, requestState.refusal, requestState.refusalText);
                return httplib::Server::HandlerResponse::Handled;
            }
            if (!res.body.empty()) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            refuse(res, res.status, reasonOf(res.status));
            return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr thrown) {
            std::string what = "unknown exception";
            try {
                if (thrown) {
                    std::rethrow_exception(thrown);
                }
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            logError(stderr, "Request failed: %s", what.c_str());
            refuse(res, 500, "server error");
        });
    http.set_logger(logRequest);
}
