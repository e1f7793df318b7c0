#include "server/leaderboard_server.hpp"

#include "app/log.hpp"
#include "server/api_handlers.hpp"
#include "server/request_target.hpp"

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
            return refuseRequest(req, res, 401,
                                 "an upload needs the server's token (Authorization: Bearer ...)");
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
        answerLeaderboard(context, route, res);
    }
    return Handled::Handled;
}

// Reads an upload's body (at most kMaxUploadBytes, within kBodyDeadlineSeconds), then merges it or
// gives the refusal the pre-routing step decided on.
void handleUpload(ServerContext& context, const httplib::Request& req, httplib::Response& res,
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
        answerUpload(context, req, body, res);
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

} // namespace

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
