#include "leaderboard/leaderboard_client.hpp"

#include "base/json_text.hpp"
#include "base/log.hpp"
#include "base/percent_encoding.hpp"
#include "leaderboard/credential_policy.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "leaderboard/request_threads.hpp"

#include <arpa/inet.h>
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#ifndef VIBRELLE_LEADERBOARD_URL
#error "VIBRELLE_LEADERBOARD_URL must be defined by the build (see src/CMakeLists.txt)"
#endif

LeaderboardClientConfig gLeaderboardClient{VIBRELLE_LEADERBOARD_URL};

namespace {

// Debian's bundle of the system's trusted certificates.
constexpr const char* kSystemCaBundle = "/etc/ssl/certs/ca-certificates.crt";

// ---- URLs ----

// A decimal port in 1..65535; anything else (sign, letters, empty, too long) is refused.
bool parsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) {
        return false;
    }
    port = value;
    return true;
}

} // namespace

bool parseUrl(const std::string& url, ParsedUrl& parsed) {
    if (url.size() <= 2) {
        return false;
    }
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) {
        return false;
    }
    parsed.scheme = url.substr(0, schemeEnd);
    if (parsed.scheme == "http") {
        parsed.port = 80;
    } else if (parsed.scheme == "https") {
        parsed.port = 443;
    } else {
        return false;
    }
    const std::size_t authorityStart = schemeEnd + 3;
    const std::size_t pathStart = url.find('/', authorityStart);
    const std::string authority = url.substr(
        authorityStart, pathStart == std::string::npos ? std::string::npos : pathStart - authorityStart);
    parsed.path = pathStart == std::string::npos ? "/" : url.substr(pathStart);
    std::size_t colon = authority.find(':');
    if (!authority.empty() && authority[0] == '[') {
        // An IPv6 literal: its colons belong to the address, the port follows the bracket.
        const std::size_t close = authority.find(']');
        if (close == std::string::npos || (close + 1 < authority.size() && authority[close + 1] != ':')) {
            return false;
        }
        parsed.host = authority.substr(1, close - 1);
        // Only an address belongs there: a name or stray bytes would reach the resolver as a
        // host that no URL can spell.
        in6_addr address;
        if (inet_pton(AF_INET6, parsed.host.c_str(), &address) != 1) {
            return false;
        }
        colon = close + 1 < authority.size() ? close + 1 : std::string::npos;
    } else {
        parsed.host = authority.substr(0, colon);
    }
    if (colon != std::string::npos) {
        if (!parsePort(authority.substr(colon + 1), parsed.port)) {
            return false;
        }
        parsed.explicitPort = true;
    }
    return !parsed.host.empty();
}

namespace {

bool insecureHttpRequested() {
    const char* value = std::getenv("VIBRELLE_INSECURE_HTTP");
    return value != nullptr && std::string(value) == "1";
}

std::unique_ptr<httplib::ClientImpl> makeClient(const ParsedUrl& url, bool tls, const HttpLimits& limits) {
    if (!tls) {
        return std::make_unique<httplib::ClientImpl>(url.host, url.port);
    }
    auto client = std::make_unique<httplib::SSLClient>(url.host, url.port);
    client->enable_server_certificate_verification(true);
    // The library reads one CA file (a directory given with it is ignored), so an extra
    // certificate replaces the system bundle rather than adding to it. Without either, OpenSSL's
    // default locations are used.
    if (!limits.caCertificateFile.empty()) {
        client->set_ca_cert_path(limits.caCertificateFile);
    } else if (std::FILE* bundle = std::fopen(kSystemCaBundle, "rb")) {
        std::fclose(bundle);
        client->set_ca_cert_path(kSystemCaBundle);
    }
    return client;
}

// Ends a request at its overall deadline. cpp-httplib's time-outs apply to each connect, send and
// receive, so a peer that trickles a byte now and then would hold a request forever; stop()
// shuts the socket down under the client's own lock, which fails the transfer under way.
class Watchdog {
public:
    Watchdog(httplib::ClientImpl& client, double seconds) : client_(client) {
        thread_ = std::thread([this, seconds] { run(seconds); });
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    ~Watchdog() { finish(); }

    // Ends the watch; true when the deadline passed first (the request was then stopped).
    bool finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
        return expired_;
    }

private:
    void run(double seconds) {
        try {
            std::unique_lock<std::mutex> lock(mutex_);
            const auto limit = std::chrono::duration<double>(seconds < 0.0 ? 0.0 : seconds);
            if (wake_.wait_for(lock, limit, [this] { return done_; })) {
                return;
            }
            expired_ = true;
            // stop() does nothing while the request has not yet taken its socket (before the
            // connection exists), so it is repeated until the request has really ended.
            while (!done_) {
                lock.unlock();
                client_.stop();
                lock.lock();
                wake_.wait_for(lock, std::chrono::milliseconds(50), [this] { return done_; });
            }
        } catch (...) {
            // Nothing to report: the request's own time-outs still bound it.
        }
    }

    httplib::ClientImpl& client_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    bool expired_ = false;
    std::thread thread_;
};

bool isSuccessStatus(int status) { return status >= 200 && status <= 299; }

// Once per process and URL: a player who set a token learns why the server refuses their uploads.
void warnCredentialsWithheld(const std::string& url) {
    static std::mutex mutex;
    static std::set<std::string>* warned = new std::set<std::string>(); // outlives abandoned threads
    std::lock_guard<std::mutex> lock(mutex);
    if (warned->insert(url).second) {
        logError(stderr, "Not sending the leaderboard credentials over plain HTTP to %s", url.c_str());
    }
}

std::int32_t fetchPlayerScore(const std::string& url, const std::string& path, const std::string& level,
                              const std::string& player, const HttpLimits& limits) {
    std::string body;
    if (httpRequest(url, "GET", "", body, limits)) {
        const nlohmann::json reply = nlohmann::json::parse(body, nullptr, false);
        // is_number() leaves booleans out, which the file format would otherwise read as 0 or 1.
        if (reply.is_object() && reply.contains("score") && reply["score"].is_number()) {
            if (const std::optional<std::int32_t> score = storedScore(reply["score"])) {
                logMessage("Loaded player score from server: %s on %s = %d", player.c_str(), level.c_str(),
                           static_cast<int>(*score));
                return *score;
            }
        }
    }
    logMessage("Falling back to local file for player score: %s on %s", player.c_str(), level.c_str());
    nlohmann::json local;
    std::string error;
    if (readLeaderboardFile(path, local, error) != LeaderboardRead::Ok) {
        return 0;
    }
    const std::int32_t score = findPlayerScore(local, level, player);
    logMessage("Found local player score: %s on %s = %d", player.c_str(), level.c_str(),
               static_cast<int>(score));
    return score;
}

} // namespace

void httpDatabaseInit() {
    const char* fromEnvironment = std::getenv("VIBRELLE_LEADERBOARD_URL");
    gLeaderboardClient.serverBaseUrl =
        fromEnvironment != nullptr && fromEnvironment[0] != '\0' ? fromEnvironment : VIBRELLE_LEADERBOARD_URL;
    logMessage("HTTP Database initialized (pointing to %s)", gLeaderboardClient.serverBaseUrl.c_str());
}

bool httpRequest(const std::string& url, const std::string& method, const std::string& body,
                 std::string& responseBody, const HttpLimits& limits) {
    HttpCredentials credentials;
    // A server started with an upload token takes uploads only with it.
    const char* token = std::getenv("VIBRELLE_LEADERBOARD_TOKEN");
    if (method == "POST" && token != nullptr && token[0] != '\0') {
        credentials.headers.emplace_back("Authorization", std::string("Bearer ") + token);
    }
    HttpReply reply;
    const bool ok = httpExchange(url, method, body, credentials, reply, limits);
    responseBody = ok ? std::move(reply.body) : std::string();
    return ok;
}

bool httpExchange(const std::string& url, const std::string& method, const std::string& body,
                  const HttpCredentials& credentials, HttpReply& reply, const HttpLimits& limits) {
    reply = HttpReply{};
    try {
        ParsedUrl parsed;
        if (!parseUrl(url, parsed)) {
            logError(stderr, "Invalid URL format: %s", url.c_str());
            return false;
        }
        bool tls = parsed.scheme == "https";
        if (tls && insecureHttpRequested()) {
            logMessage("Converting HTTPS to HTTP for local development: %s", url.c_str());
            tls = false;
            if (!parsed.explicitPort) {
                parsed.port = 80;
            }
        }

        CredentialRoute route;
        if (!credentials.headers.empty()) {
            route = credentialRoute(parsed.host, tls);
            if (!route.allowed) {
                warnCredentialsWithheld(url);
            }
        }

        std::unique_ptr<httplib::ClientImpl> client = makeClient(parsed, tls, limits);
        if (!client || !client->is_valid()) {
            logError(stderr, "Failed to create HTTP client for %s", url.c_str());
            return false;
        }
        if (route.allowed && !route.pinnedAddress.empty()) {
            client->set_hostname_addr_map({{parsed.host, route.pinnedAddress}});
        }
        const time_t timeout = limits.timeoutSeconds < 0 ? 0 : static_cast<time_t>(limits.timeoutSeconds);
        client->set_connection_timeout(timeout);
        client->set_read_timeout(timeout);
        client->set_write_timeout(timeout);

        httplib::Request request;
        request.path = parsed.path;
        if (method == "GET") {
            request.method = "GET";
        } else if (method == "POST") {
            request.method = "POST";
            // One Content-Type header: the library adds its own only when none is set.
            request.set_header("Content-Type", "application/json");
            request.body = body;
        } else {
            logError(stderr, "Unsupported HTTP method: %s", method.c_str());
            return false;
        }
        if (route.allowed) {
            for (const auto& [name, value] : credentials.headers) {
                request.set_header(name, value);
            }
            reply.credentialsSent = true;
        }

        std::string received;
        bool tooLong = false;
        request.content_receiver = [&](const char* data, std::size_t length, std::uint64_t, std::uint64_t) {
            // received.size() never exceeds the cap, so the subtraction cannot wrap.
            if (length > limits.maxBodyBytes - received.size()) {
                tooLong = true;
                return false;
            }
            received.append(data, length);
            return true;
        };

        httplib::Result result{nullptr, httplib::Error::Unknown};
        bool expired = false;
        {
            Watchdog watchdog(*client, limits.deadlineSeconds);
            result = client->send(request);
            expired = watchdog.finish();
        }

        if (tooLong) {
            logError(stderr, "HTTP request failed: %s",
                     ("reply longer than " + std::to_string(limits.maxBodyBytes) + " bytes").c_str());
            return false;
        }
        if (expired) {
            // A stopped transfer may look complete (a reply that ends with the connection), so
            // whatever arrived is discarded.
            char text[96];
            std::snprintf(text, sizeof text, "no complete reply within the deadline of %g s",
                          limits.deadlineSeconds);
            logError(stderr, "HTTP request failed: %s", text);
            return false;
        }
        if (!result) {
            logError(stderr, "HTTP request failed: %s", httplib::to_string(result.error()).c_str());
            return false;
        }
        reply.status = result->status;
        if (!isSuccessStatus(result->status)) {
            logError(stderr, "HTTP request failed with status: %d", result->status);
            // A refusal's body says why (an upload's 403 names the owned name).
            if (result->status >= 400 && result->status <= 499) {
                reply.body = std::move(received);
            }
            return false;
        }
        reply.body = std::move(received);
        return true;
    } catch (const std::exception& e) {
        logError(stderr, "HTTP request exception: %s", e.what());
    } catch (...) {
        logError(stderr, "HTTP request exception: %s", "unknown exception");
    }
    return false;
}

void fetchPlayerScoreAsync(const std::string& levelName, const std::string& playerName,
                           std::function<void(std::int32_t)> callback) {
    std::string url = gLeaderboardClient.serverBaseUrl + "/player/" + percentEncode(levelName) + "/" +
                      percentEncode(playerName);
    std::string path = gLeaderboardClient.leaderboardPath;
    HttpLimits limits = gLeaderboardClient.limits;
    startRequestThread([url = std::move(url), path = std::move(path), limits = std::move(limits),
                        level = levelName, player = playerName,
                        callback = std::move(callback)](CallbackGate& gate) {
        // Empty names are never asked for; the answer still comes from this thread, like any other.
        const std::int32_t score =
            level.empty() || player.empty() ? 0 : fetchPlayerScore(url, path, level, player, limits);
        deliver(gate, [&] {
            if (callback) {
                callback(score);
            }
        });
    });
}
