#include "server/leaderboard_server.hpp"

#include "base/log.hpp"
#include "server/api_handlers.hpp"
#include "server/client_address.hpp"
#include "server/connection_stream.hpp"
#include "server/request_target.hpp"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <exception>
#include <optional>
#include <vector>

using nlohmann::json;

namespace {

using Clock = std::chrono::steady_clock;

// Per-connection time-outs: a client that sends or reads nothing for this long is dropped.
constexpr time_t kSocketTimeoutSeconds = 5;
// A kept-alive connection is closed after this long without a request, or after this many: an
// idle connection holds a worker thread all the while.
constexpr time_t kKeepAliveSeconds = 2;
constexpr std::size_t kKeepAliveRequests = 100;
// Accepted connections waiting for a worker, per worker thread. Past that, the library closes a
// new connection at once, unanswered: nothing can answer it before a worker is free.
constexpr std::size_t kQueuedConnectionsPerThread = 16;
// The whole body of an upload must arrive within this, however slowly bytes trickle in.
constexpr double kBodyDeadlineSeconds = 10.0;

// What is known about the request this worker thread is handling: its client (found by the
// connection loop before any handler runs), what the pre-routing step decided, and whether the
// reply closes the connection. Reset by the connection loop before each request.
struct RequestState {
    ConnectionLimiter* limiter = nullptr;
    std::string* connectionPlace = nullptr; // the connection's place in `limiter`; "" once given back
    std::string clientKey;                  // the client's limitKey
    std::string inFlightKey;                // through a trusted proxy: the place this request holds
    bool overInFlightLimit = false;         // through a trusted proxy: the client has too many in flight
    std::optional<Clock::time_point> start;
    int refusal = 0; // a refusal given once the body has been read (see refuseRequest): the status
    std::string refusalText;
    bool closesConnection = false; // the reply said "Connection: close"
};
thread_local RequestState requestState;

const char* reasonOf(int status) {
    switch (status) {
    case 400:
        return "bad request";
    case 401:
        return "an upload needs the server's token";
    case 403:
        return "forbidden";
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
    case 415:
        return "an upload needs Content-Type: application/json";
    case 429:
        return "too many requests";
    case 503:
        return "too many connections from your address";
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

// One Content-Type header whose media type, parameters aside, is application/json.
bool isJsonUpload(const httplib::Request& req) {
    if (req.get_header_value_count("Content-Type") != 1) {
        return false;
    }
    std::string type = req.get_header_value("Content-Type");
    type.resize(std::min(type.size(), type.find(';')));
    const std::size_t begin = type.find_first_not_of(" \t");
    type = begin == std::string::npos ? "" : type.substr(begin, type.find_last_not_of(" \t") + 1 - begin);
    for (char& c : type) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return type == "application/json";
}

bool hasBodyLength(const httplib::Request& req) {
    return req.has_header("Content-Length") ||
           req.get_header_value("Transfer-Encoding").find("chunked") != std::string::npos;
}

// A refusal decided before the body has been read. A request without a body gets it at once. With
// a body, the refusal waits until the body has been read (the upload handler reads uploads, the
// library any other body of a known length, at most kMaxUploadBytes), so that the next request on
// a kept-alive connection starts where this one ends, and the reply is not lost to a connection
// reset while the client is still sending. A chunked body is refused at once (off the upload
// route the library would take it whole), and the connection closed.
httplib::Server::HandlerResponse refuseRequest(const httplib::Request& req, httplib::Response& res,
                                               int status, const std::string& text) {
    const bool chunked = req.has_header("Transfer-Encoding");
    if (!chunked && req.get_header_value_u64("Content-Length") > 0) {
        requestState.refusal = status;
        requestState.refusalText = text;
        return httplib::Server::HandlerResponse::Unhandled;
    }
    refuse(res, status, text); // the library closes the connection after it (as after any refusal)
    return httplib::Server::HandlerResponse::Handled;
}

// Everything but reading an upload's body: routing on the raw target, the rate limit, the GET
// answers, and the checks an upload must pass.
httplib::Server::HandlerResponse preRoute(ServerContext& context, const httplib::Request& req,
                                          httplib::Response& res) {
    using Handled = httplib::Server::HandlerResponse;
    requestState.start = Clock::now();
    // A body over the cap is refused as soon as its length is known, not after a wait for it. The
    // library then reads and drops at most kMaxUploadBytes of it (so that a client still sending
    // gets the reply rather than a reset) and the connection is closed.
    if (req.get_header_value_u64("Content-Length") > kMaxUploadBytes) {
        refuse(res, 413, "the body is larger than " + std::to_string(kMaxUploadBytes) + " bytes");
        return Handled::Handled;
    }
    Route route;
    std::string error;
    const bool routed = routeTarget(req.target, context.options.prefix, route, error);
    const bool upload = routed && req.method == "POST" && route.kind == RouteKind::Leaderboard;
    if (upload && !hasBodyLength(req)) {
        refuse(res, 411, "an upload needs a Content-Length");
        return Handled::Handled;
    }
    if (requestState.overInFlightLimit) {
        res.set_header("Retry-After", "1");
        return refuseRequest(req, res, 503, "too many requests in flight from your address");
    }
    const std::string& client = requestState.clientKey.empty() ? req.remote_addr : requestState.clientKey;
    if (!allowRequest(context.limiter, client, *requestState.start)) {
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
        // A browser adds Origin to a POST another site's page makes; the game never sends one.
        if (req.has_header("Origin")) {
            return refuseRequest(req, res, 403, "uploads from web pages are not accepted");
        }
        // Only a form's content types can be posted across sites without the browser asking first.
        if (!isJsonUpload(req)) {
            return refuseRequest(req, res, 415, "an upload needs Content-Type: application/json");
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
    } else if (route.kind == RouteKind::Replay) {
        answerReplay(context, route, res);
    } else if (route.kind == RouteKind::Level) {
        answerLevel(context, route, res);
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
    // The library closes the connection after any refusal, so the rest of a body cut short, still
    // on its way, is never taken for a request.
    if (tooLarge || res.status == 413) {
        refuse(res, 413, "the body is larger than " + std::to_string(kMaxUploadBytes) + " bytes");
    } else if (tooSlow) {
        refuse(res, 408, "the body did not arrive in time");
    } else if (!read) {
        refuse(res, 400, "the body could not be read");
    } else if (!keep) {
        refuse(res, refusal, requestState.refusalText);
    } else {
        answerUpload(context, req, body, res);
    }
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

// Logs a refusal of the rate or connection limit: at most one line a second per client, with the
// count of refusals since its last line.
void logRefusal(ServerContext& context, const std::string& client, const std::string& latest) {
    std::size_t count = 0;
    if (noteRefusal(context.refusals, client, Clock::now(), count)) {
        logMessage("Refused %zu request%s from %s since its last such line (the latest: %s)", count,
                   count == 1 ? "" : "s", client.c_str(), latest.c_str());
    }
}

// Gives back the places the request (and, when its reply ends the connection, the connection)
// holds: called as the reply goes out, so that a client that opens its next connection on reading
// it never finds its previous one still counted.
void givePlacesBack() {
    if (requestState.limiter == nullptr) {
        return;
    }
    if (!requestState.inFlightKey.empty()) {
        releaseConnection(*requestState.limiter, requestState.inFlightKey);
        requestState.inFlightKey.clear();
    }
    if (requestState.closesConnection && requestState.connectionPlace != nullptr &&
        !requestState.connectionPlace->empty()) {
        releaseConnection(*requestState.limiter, *requestState.connectionPlace);
        requestState.connectionPlace->clear();
    }
}

void logRequest(ServerContext& context, const httplib::Request& req, const httplib::Response& res) {
    requestState.closesConnection = res.get_header_value("Connection") == "close";
    givePlacesBack(); // the library logs just before it writes the reply
    const std::string method = req.method.empty() ? "-" : loggablePath(req.method);
    const std::string path = req.target.empty() ? "-" : loggablePath(req.target);
    if (res.status == 429 || res.status == 503) {
        logRefusal(context, requestState.clientKey.empty() ? req.remote_addr : requestState.clientKey,
                   method + " " + path + " " + std::to_string(res.status));
    } else if (requestState.start) {
        const double ms =
            std::chrono::duration<double, std::milli>(Clock::now() - *requestState.start).count();
        logMessage("%s %s %d %.2f ms", method.c_str(), path.c_str(), res.status, ms);
    } else {
        logMessage("%s %s %d - ms", method.c_str(), path.c_str(), res.status);
    }
}

// The address and port of a socket's peer (`peer` true) or its own end.
bool socketAddress(socket_t sock, bool peer, IpAddress& address, int& port) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if ((peer ? getpeername(sock, reinterpret_cast<sockaddr*>(&storage), &length)
              : getsockname(sock, reinterpret_cast<sockaddr*>(&storage), &length)) != 0) {
        return false;
    }
    if (storage.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(storage);
        address = IpAddress{};
        address.bytes[10] = address.bytes[11] = 0xff;
        std::memcpy(address.bytes.data() + 12, &v4.sin_addr, 4);
        port = ntohs(v4.sin_port);
        return true;
    }
    if (storage.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(storage);
        std::memcpy(address.bytes.data(), &v6.sin6_addr, 16);
        port = ntohs(v6.sin6_port);
        return true;
    }
    return false;
}

// Finds the request's client before any handler runs: the peer, or behind a trusted proxy the
// client X-Forwarded-For names, whose request then takes one of that client's places for as
// long as it is in flight.
void identifyClient(ServerContext& context, const IpAddress& peer, bool viaProxy, httplib::Request& req) {
    IpAddress client = peer;
    if (viaProxy) {
        // Several X-Forwarded-For headers are one list, in order.
        std::string forwarded;
        for (std::size_t i = 0, count = req.get_header_value_count("X-Forwarded-For"); i < count; ++i) {
            forwarded += (i == 0 ? "" : ",") + req.get_header_value("X-Forwarded-For", "", i);
        }
        client = forwardedClient(peer, forwarded, context.options.trustedProxies);
    }
    requestState.clientKey = limitKey(client);
    req.remote_addr = formatAddress(client);
    if (viaProxy) {
        if (acquireConnection(context.connections, requestState.clientKey)) {
            requestState.inFlightKey = requestState.clientKey;
        } else {
            requestState.overInFlightLimit = true;
        }
    }
}

// Answers a connection over its address's limit with a 503 and closes it, without waiting for
// the request: the worker is free again at once.
void refuseConnection(ServerContext& context, socket_t sock, const std::string& client) {
    const std::string body =
        json{{"success", false}, {"error", "too many connections from your address; try again later"}}.dump();
    const std::string reply = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
                              "Cache-Control: no-store\r\nRetry-After: 1\r\nConnection: close\r\n"
                              "Content-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body;
    // Into an empty send buffer: never blocks, and a failure only means the client left.
    (void)send(sock, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    shutdown(sock, SHUT_WR);
    // What of the request has arrived is read, so that closing does not reset the connection
    // (which could discard the reply before the client reads it); what comes later, may.
    char scratch[4096];
    while (recv(sock, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
    }
    logRefusal(context, client, "a connection, 503");
}

} // namespace

bool LeaderboardHttpServer::process_and_close_socket(socket_t sock) {
    ServerContext& shared = *context;
    IpAddress peer;
    IpAddress local;
    int peerPort = 0;
    int localPort = 0;
    bool served = false;
    if (socketAddress(sock, true, peer, peerPort) && socketAddress(sock, false, local, localPort)) {
        // A trusted proxy carries many clients: its requests are counted per client instead.
        const bool viaProxy = anyBlockContains(shared.options.trustedProxies, peer);
        std::string place = viaProxy ? "" : limitKey(peer);
        if (!place.empty() && !acquireConnection(shared.connections, place)) {
            refuseConnection(shared, sock, place);
        } else {
            ConnectionStream stream(
                sock, std::chrono::seconds(read_timeout_sec_) + std::chrono::microseconds(read_timeout_usec_),
                std::chrono::seconds(write_timeout_sec_) + std::chrono::microseconds(write_timeout_usec_),
                formatAddress(peer), peerPort, formatAddress(local), localPort);
            for (std::size_t left = keep_alive_max_count_;
                 left > 0 && stream.waitForRequest(std::chrono::seconds(keep_alive_timeout_sec_), svr_sock_);
                 --left) {
                requestState = RequestState{};
                requestState.limiter = &shared.connections;
                requestState.connectionPlace = &place;
                bool closed = false;
                served = process_request(
                    stream, formatAddress(peer), peerPort, formatAddress(local), localPort, left == 1, closed,
                    [&](httplib::Request& req) { identifyClient(shared, peer, viaProxy, req); });
                closed = closed || requestState.closesConnection;
                requestState.closesConnection = false; // still open here; whatever is held goes below
                givePlacesBack();
                requestState = RequestState{};
                if (!served || closed) {
                    break;
                }
            }
            if (!place.empty()) {
                releaseConnection(shared.connections, place);
            }
        }
    }
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return served;
}

void configureServer(LeaderboardHttpServer& http, ServerContext& context) {
    http.context = &context;
    context.limiter.rate = context.options.rateLimit;
    context.connections.limit = context.options.maxConnectionsPerAddress;
    const auto threads = static_cast<std::size_t>(context.options.threads);
    http.new_task_queue = [threads] {
        return new httplib::ThreadPool(threads, threads, kQueuedConnectionsPerThread * threads);
    };
    // A reply goes out as headers, then body: without this, Nagle's algorithm holds the body back
    // until the client's delayed acknowledgement, some 40 ms per request.
    http.set_tcp_nodelay(true);
    http.set_read_timeout(kSocketTimeoutSeconds, 0);
    http.set_write_timeout(kSocketTimeoutSeconds, 0);
    http.set_keep_alive_timeout(kKeepAliveSeconds);
    http.set_keep_alive_max_count(kKeepAliveRequests);
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
    http.set_logger([&context](const httplib::Request& req, const httplib::Response& res) {
        logRequest(context, req, res);
    });
}
