// The server against hostile clients on loopback: huge header lines and lengths, idle
// connections from one address, a full queue, cross-site posts, and clients behind a trusted
// proxy. Kept small here; bench_hostile runs the full-size attacks.
#include "hostile_support.hpp"
#include "server_test_support.hpp"

#include <gtest/gtest.h>

#include <memory>

using namespace servertest;
using namespace std::chrono_literals;

namespace {

class Hostile : public testing::Test {
protected:
    // A server on a fresh SQLite file, the rate limit off unless `options` set it.
    void start(std::vector<std::string> options = {}) {
        options.insert(options.begin(), {"--database", folder.file("leaderboard.db"), "--rate-limit", "0"});
        server = std::make_unique<ServerProcess>(options);
    }
    // `head` (the request line and headers, without the blank line) and `body` from `source`
    // on a connection of its own; all that came back before the server closed or 10 s passed.
    std::string exchange(const std::string& head, const std::string& body = "",
                         const char* source = "127.0.0.1") {
        RawConnection connection(server->port(), source);
        const auto deadline = SteadyClock::now() + 10s;
        connection.send(head + "\r\n\r\n" + body, deadline);
        return connection.receive(deadline);
    }
    // A GET of the leaderboard from `source`, forwarded for `forwardedFor` when not empty.
    int get(const char* source, const std::string& forwardedFor = "") {
        return statusOf(exchange("GET /api/leaderboard HTTP/1.1\r\nHost: x\r\nConnection: close" +
                                     (forwardedFor.empty() ? "" : "\r\nX-Forwarded-For: " + forwardedFor),
                                 "", source));
    }
    // The lines of the server's output that contain `piece`.
    int linesWith(const std::string& piece) {
        int count = 0;
        const std::string text = server->output();
        for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
            ++count;
        }
        return count;
    }

    TempDir folder;
    std::unique_ptr<ServerProcess> server;
};

const std::string kUploadHead = "POST /api/leaderboard HTTP/1.1\r\nHost: x\r\nContent-Type: application/json";

} // namespace

TEST_F(Hostile, HugeLinesAndLengthsEndSoonWithoutGrowingTheServer) {
    start();
    const pid_t pid = childRunning(VIBRELLE_SERVER_BINARY);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(get("127.0.0.1"), 200);
    const long before = residentKb(pid);
    const std::string huge(8 << 20, 'a');
    const std::string tera = "\r\nContent-Length: 1000000000000";
    struct Case {
        const char* what;
        std::string head;
        int status; // 0: the reply may be lost to the reset of a connection still sending
    };
    // Ends within 10 s: answered at once (the server may go on reading a little to drop the
    // body), or closed.
    const Case cases[] = {
        {"header line", "GET /api/leaderboard HTTP/1.1\r\nHost: x\r\nX-Filler: " + huge, 0},
        {"request line", "GET /api/" + huge + " HTTP/1.1\r\nHost: x", 0},
        {"upload length", kUploadHead + tera, 413},
        {"length of a GET", "GET /api/leaderboard HTTP/1.1\r\nHost: x" + tera, 413},
        {"length off the routes", "POST /nowhere HTTP/1.1\r\nHost: x" + tera, 413},
    };
    for (const Case& c : cases) {
        RawConnection connection(server->port());
        const auto start = SteadyClock::now();
        connection.send(c.head + "\r\n\r\n{", start + 10s);
        const std::string reply = connection.receive(start + 10s, "}");
        EXPECT_TRUE(connection.closedByServer() || reply.find('}') != std::string::npos) << c.what;
        if (c.status != 0) {
            EXPECT_EQ(statusOf(reply), c.status) << c.what << ": " << reply;
        } else if (!reply.empty()) {
            EXPECT_GE(statusOf(reply), 400) << c.what << ": " << reply;
        }
    }
    // The peak, so that a buffer taken and given back between two readings still counts.
    EXPECT_LT(residentKb(pid, "VmHWM:") - before, 8 << 10) << "kB";
    EXPECT_EQ(get("127.0.0.1"), 200);
}

TEST_F(Hostile, IdleConnectionsFromOneAddressLeaveWorkersForOthers) {
    start(); // 32 workers, 16 connections per address
    std::vector<std::unique_ptr<RawConnection>> idle;
    const std::string keptAlive = "GET /api/leaderboard HTTP/1.1\r\nHost: x\r\n\r\n";
    for (int i = 0; i < 40; ++i) {
        idle.push_back(std::make_unique<RawConnection>(server->port()));
        idle.back()->send(keptAlive, SteadyClock::now() + 10s);
    }
    const auto start = SteadyClock::now();
    EXPECT_EQ(get("127.0.0.2"), 200);
    EXPECT_LT(SteadyClock::now() - start, 1s);

    RawConnection more(server->port());
    more.send(keptAlive, SteadyClock::now() + 10s);
    const std::string reply = more.receive(SteadyClock::now() + 10s);
    EXPECT_EQ(statusOf(reply), 503) << reply;
    EXPECT_NE(reply.find("Connection: close\r\n"), std::string::npos) << reply;
    EXPECT_NE(reply.find(R"("success":false)"), std::string::npos) << reply;
    // 25 refusals, logged at most once a second.
    const int lines = linesWith("from 127.0.0.1 since its last such line");
    EXPECT_GE(lines, 1) << server->output();
    EXPECT_LT(lines, 5) << server->output();
}

TEST_F(Hostile, ConnectionsPastTheQueueAreClosedAtOnce) {
    start({"--threads", "1", "--max-connections-per-address", "0"});
    // The first to be accepted holds the only worker for 2 s, 16 may wait for it, and the rest
    // are closed at once (the kernel does not always hand them over in the order they came).
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < 24; ++i) {
        idle.push_back(std::make_unique<RawConnection>(server->port()));
    }
    const auto deadline = SteadyClock::now() + 1s;
    int closed = 0;
    for (auto it = idle.rbegin(); it != idle.rend() && closed < 7; ++it) { // the last most likely closed
        EXPECT_EQ((*it)->receive(deadline), "");
        closed += (*it)->closedByServer();
    }
    EXPECT_GE(closed, 7);
}

TEST_F(Hostile, UploadsMustBeJsonAndNotFromWebPages) {
    start();
    const auto document = [](const char* player) {
        return R"({"levels":[{"name":"Neon","scores":[{"player":")" + std::string(player) +
               R"(","score":5}]}]})";
    };
    const std::string smuggled = "GET /api/player/Neon/x HTTP/1.1\r\nHost: x\r\n\r\n";
    struct Case {
        const char* what;
        std::string headers, body;
        int status;
    };
    const auto sized = [](const std::string& body) {
        return "\r\nContent-Length: " + std::to_string(body.size());
    };
    const auto chunked = [](const std::string& body) {
        std::ostringstream hex;
        hex << std::hex << body.size();
        return hex.str() + "\r\n" + body + "\r\n0\r\n\r\n";
    };
    const Case cases[] = {
        {"no type", sized(document("a")), document("a"), 415},
        {"text", "\r\nContent-Type: text/plain" + sized(smuggled), smuggled, 415},
        {"form", "\r\nContent-Type: application/x-www-form-urlencoded" + sized(document("b")), document("b"),
         415},
        {"lookalike", "\r\nContent-Type: application/jsonp" + sized(document("c")), document("c"), 415},
        {"two types", "\r\nContent-Type: application/json\r\nContent-Type: text/plain" + sized(document("d")),
         document("d"), 415},
        {"chunked text", "\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked", chunked(document("e")),
         415},
        {"origin", "\r\nContent-Type: application/json\r\nOrigin: https://example.com" + sized(document("f")),
         document("f"), 403},
        {"chunked origin", "\r\nContent-Type: application/json\r\nOrigin: null\r\nTransfer-Encoding: chunked",
         chunked(document("g")), 403},
        {"json with parameters",
         "\r\nConnection: close\r\nContent-Type: Application/JSON ; charset=utf-8" + sized(document("ok")),
         document("ok"), 200},
    };
    for (const Case& c : cases) {
        const std::string reply = exchange("POST /api/leaderboard HTTP/1.1\r\nHost: x" + c.headers, c.body);
        EXPECT_EQ(statusOf(reply), c.status) << c.what << ": " << reply;
        EXPECT_EQ(reply.find("HTTP/1.1", 1), std::string::npos) << c.what << ": a second reply: " << reply;
    }
    const Reply board = request(server->port(), "GET", "/api/leaderboard");
    EXPECT_EQ(board.body, R"({"levels":[{"name":"Neon","scores":[{"player":"ok","score":5}]}]})");
}

TEST_F(Hostile, ClientsBehindATrustedProxyAreRateLimitedOneByOne) {
    start({"--trusted-proxy", "127.0.0.1", "--rate-limit", "1"});
    const auto refusals = [&](const char* source, const std::vector<std::string>& forwarded) {
        int refused = 0;
        for (const std::string& hops : forwarded) {
            refused += get(source, hops) == 429;
        }
        return refused;
    };
    // One token a second each: the first of a client's requests in a row passes, later ones not all.
    EXPECT_GE(refusals("127.0.0.1", {"203.0.113.5", "203.0.113.5", "203.0.113.5"}), 1);
    EXPECT_EQ(get("127.0.0.1", "203.0.113.6"), 200);
    EXPECT_EQ(get("127.0.0.1", "203.0.113.7, 127.0.0.1"), 200); // past the proxy itself
    // The client is the hop the proxy appended, not what the client wrote before it.
    EXPECT_GE(refusals("127.0.0.1", {"198.51.100.1, 203.0.113.5", "198.51.100.2, 203.0.113.5"}), 1);
    // An untrusted peer's header is not believed.
    EXPECT_GE(refusals("127.0.0.2", {"198.51.100.3", "198.51.100.4", "198.51.100.5"}), 1);
    EXPECT_GE(linesWith("from 203.0.113.5 since its last such line"), 1) << server->output();
    EXPECT_GE(linesWith("from 127.0.0.2 since its last such line"), 1) << server->output();
}

TEST_F(Hostile, RequestsInFlightThroughATrustedProxyCountPerClient) {
    start({"--trusted-proxy", "127.0.0.0/30", "--max-connections-per-address", "2"});
    // Two uploads of one IPv6 /64 whose bodies have not come: both in flight once told to go on.
    const std::string body = R"({"levels":[]})";
    std::vector<std::unique_ptr<RawConnection>> held;
    for (const char* client : {"2001:db8::1", "[2001:db8::2]:4711"}) {
        held.push_back(std::make_unique<RawConnection>(server->port()));
        held.back()->send(kUploadHead + "\r\nExpect: 100-continue\r\nX-Forwarded-For: " + client +
                              "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n",
                          SteadyClock::now() + 10s);
        ASSERT_EQ(statusOf(held.back()->receive(SteadyClock::now() + 10s, "\r\n\r\n")), 100);
    }
    EXPECT_EQ(get("127.0.0.2", "2001:db8::3"), 503);
    EXPECT_EQ(get("127.0.0.2", "2001:db8:0:1::1"), 200);
    EXPECT_EQ(get("127.0.0.5", "2001:db8::3"), 200); // not a proxy: the peer is the client
    for (const auto& connection : held) {
        connection->send(body, SteadyClock::now() + 10s);
        EXPECT_EQ(statusOf(connection->receive(SteadyClock::now() + 10s, "}")), 200);
    }
    EXPECT_EQ(get("127.0.0.2", "2001:db8::3"), 200);
    EXPECT_EQ(linesWith("Refused 1 request from 2001:db8::/64"), 1) << server->output();
}
