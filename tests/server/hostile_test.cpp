// The server against hostile clients on loopback: huge header lines and lengths, pipelined
// requests, idle connections from one address, a full queue, cross-site posts, and clients behind
// a trusted proxy. Kept small here; bench_hostile runs the full-size attacks.
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
    // The reply to `head` (request line and headers) and `body`, sent from `source` on a
    // connection of its own, up to `until` or the server closing it (at most 10 s).
    std::string exchange(const std::string& head, const std::string& body = "",
                         const char* source = "127.0.0.1", const std::string& until = "") {
        RawConnection connection(server->port(), source);
        const auto deadline = SteadyClock::now() + 10s;
        connection.send(head + "\r\n\r\n" + body, deadline);
        return connection.receive(deadline, until);
    }
    // The status of a GET from `source`, forwarded for `forwardedFor` when not empty.
    int get(const char* source, const std::string& forwardedFor = "") {
        const std::string forwarded = forwardedFor.empty() ? "" : "\r\nX-Forwarded-For: " + forwardedFor;
        return statusOf(
            exchange("GET /api/leaderboard HTTP/1.1\r\nConnection: close" + forwarded, "", source));
    }
    bool logged(const std::string& piece) { return server->output().find(piece) != std::string::npos; }

    TempDir folder;
    std::unique_ptr<ServerProcess> server;
};

const std::string kUpload = "POST /api/leaderboard HTTP/1.1\r\nContent-Type: application/json";

} // namespace

TEST_F(Hostile, HugeLinesAndLengthsEndSoonWithoutGrowingTheServer) {
    start();
    const pid_t pid = server->pid();
    ASSERT_EQ(get("127.0.0.1"), 200);
    const long before = residentKb(pid);
    const std::string huge(8 << 20, 'a');
    const std::string tera = "\r\nContent-Length: 1000000000000";
    // (request, status: 0 when the reply may be lost to the reset of a connection still sending)
    const std::pair<std::string, int> cases[] = {
        {"GET /api/leaderboard HTTP/1.1\r\nX-Filler: " + huge, 0},
        {"GET /api/" + huge + " HTTP/1.1", 0},
        {kUpload + tera, 413},
        {"GET /api/leaderboard HTTP/1.1" + tera, 413},
        {"POST /nowhere HTTP/1.1" + tera, 413},
    };
    for (const auto& [head, status] : cases) {
        const auto start = SteadyClock::now();
        const std::string reply = exchange(head, "{", "127.0.0.1", "}");
        EXPECT_LT(SteadyClock::now() - start, 10s) << head.substr(0, 40);
        EXPECT_EQ(statusOf(reply), status != 0 || reply.empty() ? status : 400) << head.substr(0, 40);
    }
    // The peak, so that a buffer taken and given back between two readings still counts.
    EXPECT_LT(residentKb(pid, "VmHWM:") - before, 8 << 10) << "kB";
}

TEST_F(Hostile, PipelinedRequestsAreAllAnswered) {
    start();
    // The second request arrives with the first, in the bytes read ahead of it.
    const std::string replies =
        exchange("GET /api/leaderboard HTTP/1.1\r\n\r\nGET /api/player/a/b HTTP/1.1\r\nConnection: close");
    EXPECT_NE(replies.find(R"({"score":0})"), std::string::npos) << replies;
}

TEST_F(Hostile, IdleConnectionsFromOneAddressLeaveWorkersForOthers) {
    start(); // 32 workers, 16 connections per address
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < 40; ++i) {
        idle.push_back(std::make_unique<RawConnection>(server->port()));
        idle.back()->send("GET /api/leaderboard HTTP/1.1\r\n\r\n", SteadyClock::now() + 10s);
    }
    const auto start = SteadyClock::now();
    EXPECT_EQ(get("127.0.0.2"), 200);
    EXPECT_LT(SteadyClock::now() - start, 1s);
    // One more from the crowded address is refused at once; the refusals are logged in a line or few.
    const std::string reply = exchange("GET /api/leaderboard HTTP/1.1");
    EXPECT_EQ(statusOf(reply), 503) << reply;
    EXPECT_NE(reply.find("Connection: close\r\n"), std::string::npos) << reply;
    EXPECT_NE(reply.find(R"("success":false)"), std::string::npos) << reply;
    EXPECT_TRUE(logged("from 127.0.0.1 since its last such line")) << server->output();
}

TEST_F(Hostile, ConnectionsPastTheQueueAreClosedAtOnce) {
    start({"--threads", "1", "--max-connections-per-address", "0"});
    // The first accepted holds the only worker for 2 s, 16 may wait, and the rest are closed at
    // once (the kernel does not always hand connections over in the order they came).
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < 24; ++i) {
        idle.push_back(std::make_unique<RawConnection>(server->port()));
    }
    const auto deadline = SteadyClock::now() + 1s;
    int closed = 0;
    for (auto it = idle.rbegin(); it != idle.rend() && closed < 7; ++it) { // the last most likely closed
        EXPECT_EQ((*it)->receive(deadline), "");
        closed += (*it)->closed;
    }
    EXPECT_GE(closed, 7);
}

TEST_F(Hostile, UploadsMustBeJsonAndNotFromWebPages) {
    start();
    const std::string body = R"({"levels":[{"name":"Neon","scores":[{"player":"ann","score":5}]}]})";
    const std::string sized = "\r\nContent-Length: " + std::to_string(body.size());
    const std::string chunked = "\r\nTransfer-Encoding: chunked";
    const std::string chunks = "44\r\n" + body + "\r\n0\r\n\r\n";
    // (headers after the request line, body, status)
    const std::tuple<std::string, std::string, int> cases[] = {
        {sized, body, 415},
        {"\r\nContent-Type: text/plain" + sized, body, 415},
        {"\r\nContent-Type: application/jsonp" + sized, body, 415},
        {"\r\nContent-Type: application/json\r\nContent-Type: text/plain" + sized, body, 415},
        {"\r\nContent-Type: text/plain" + chunked, chunks, 415},
        {"\r\nContent-Type: application/json\r\nOrigin: https://example.com" + sized, body, 403},
        {"\r\nContent-Type: application/json\r\nOrigin: null" + chunked, chunks, 403},
    };
    for (const auto& [headers, content, status] : cases) {
        const std::string reply = exchange("POST /api/leaderboard HTTP/1.1" + headers, content);
        EXPECT_EQ(statusOf(reply), status) << headers << "\n" << reply;
    }
    EXPECT_EQ(request(server->port(), "GET", "/api/leaderboard").body, R"({"levels":[]})");
    EXPECT_EQ(statusOf(exchange("POST /api/leaderboard HTTP/1.1\r\nConnection: close\r\n"
                                "Content-Type: Application/JSON ; charset=utf-8" +
                                    sized,
                                body)),
              200);
}

TEST_F(Hostile, ClientsBehindATrustedProxyAreRateLimitedOneByOne) {
    start({"--trusted-proxy", "127.0.0.0/30", "--rate-limit", "1"});
    const auto refusals = [&](const char* source, std::vector<std::string> forwarded) {
        int refused = 0;
        for (const std::string& hops : forwarded) {
            refused += get(source, hops) == 429;
        }
        return refused;
    };
    // One request a second each: of a few in a row, not all pass.
    EXPECT_GE(refusals("127.0.0.1", {"203.0.113.5", "203.0.113.5", "203.0.113.5"}), 1);
    EXPECT_EQ(get("127.0.0.1", "203.0.113.6"), 200);
    EXPECT_EQ(get("127.0.0.2", "203.0.113.7, 127.0.0.1"), 200); // past the proxies
    // The client is the hop the proxy appended, not one it may have written before it; and an
    // untrusted peer's header is not believed.
    EXPECT_GE(refusals("127.0.0.1", {"198.51.100.1, 203.0.113.5", "198.51.100.2, 203.0.113.5"}), 1);
    EXPECT_GE(refusals("127.0.0.5", {"198.51.100.3", "198.51.100.4", "198.51.100.5"}), 1);
    EXPECT_TRUE(logged("from 203.0.113.5 since its last such line")) << server->output();
}

TEST_F(Hostile, RequestsInFlightThroughATrustedProxyCountPerClient) {
    start({"--trusted-proxy", "127.0.0.1", "--max-connections-per-address", "2"});
    // Two uploads from one IPv6 /64 whose bodies have not come: in flight once told to go on.
    std::vector<std::unique_ptr<RawConnection>> held;
    for (const char* client : {"2001:db8::1", "[2001:db8::2]:4711"}) {
        held.push_back(std::make_unique<RawConnection>(server->port()));
        held.back()->send(kUpload + "\r\nExpect: 100-continue\r\nContent-Length: 13\r\nX-Forwarded-For: " +
                              client + "\r\n\r\n",
                          SteadyClock::now() + 10s);
        ASSERT_EQ(statusOf(held.back()->receive(SteadyClock::now() + 10s, "\r\n\r\n")), 100);
    }
    EXPECT_EQ(get("127.0.0.1", "2001:db8::3"), 503);
    EXPECT_EQ(get("127.0.0.1", "2001:db8:0:1::1"), 200);
    EXPECT_EQ(get("127.0.0.2", "2001:db8::3"), 200); // not a proxy: the peer is the client
    for (const auto& connection : held) {
        connection->send(R"({"levels":[]})", SteadyClock::now() + 10s);
        EXPECT_EQ(statusOf(connection->receive(SteadyClock::now() + 10s, "}")), 200);
    }
    EXPECT_EQ(get("127.0.0.1", "2001:db8::3"), 200);
    EXPECT_TRUE(logged("Refused 1 request from 2001:db8::/64")) << server->output();
}
