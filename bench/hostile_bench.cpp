// The leaderboard server under hostile clients at full size, on loopback: a 64 MB header line, a
// Content-Length of 10^12, and 200 idle kept-alive connections from 127.0.0.1 while 127.0.0.2
// asks for the board (with the per-address connection limit, then without it). Prints how long
// each took to end and the server's resident memory (VmRSS now, VmHWM peak) before and after.
// Usage: bench_hostile [--connections N]
#include "hostile_support.hpp"
#include "server_test_support.hpp"

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

using namespace servertest;
using namespace std::chrono_literals;

namespace {

double msSince(SteadyClock::time_point start) {
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

void printMemory(pid_t pid, long beforeKb) {
    std::printf("  server RSS %ld kB -> %ld kB, peak %ld kB\n", beforeKb, residentKb(pid),
                residentKb(pid, "VmHWM:"));
}

// Sends `head` and then `body`, and reports when the server answered or closed.
void attack(pid_t pid, int port, const char* what, const std::string& head, const std::string& body) {
    const long before = residentKb(pid);
    RawConnection connection(port);
    const auto start = SteadyClock::now();
    const std::size_t sent = connection.send(head + body, start + 60s);
    const std::string reply = connection.receive(start + 60s, "}");
    std::printf("%s: %zu of %zu bytes taken, status %d after %.0f ms\n", what, sent,
                head.size() + body.size(), statusOf(reply), msSince(start));
    printMemory(pid, before);
}

// `count` connections from 127.0.0.1 each send one GET and go idle; then 127.0.0.2 asks.
void idleCrowd(int count, const std::vector<std::string>& options) {
    TempDir folder;
    std::vector<std::string> all = {"--database", folder.file("leaderboard.db"), "--rate-limit", "0"};
    all.insert(all.end(), options.begin(), options.end());
    ServerProcess server(all);
    const pid_t pid = server.pid();
    const std::string get = "GET /api/leaderboard HTTP/1.1\r\nHost: x\r\n\r\n";
    RawConnection warmUp(server.port());
    warmUp.send("GET /api/leaderboard HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
                SteadyClock::now() + 10s);
    warmUp.receive(SteadyClock::now() + 10s);
    const long before = residentKb(pid);
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < count; ++i) {
        idle.push_back(std::make_unique<RawConnection>(server.port()));
        idle.back()->send(get, SteadyClock::now() + 10s);
    }
    const auto start = SteadyClock::now();
    RawConnection other(server.port(), "127.0.0.2");
    other.send("GET /api/leaderboard HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", start + 60s);
    const int status = statusOf(other.receive(start + 60s));
    const double took = msSince(start);
    int refused = 0;
    for (const auto& connection : idle) {
        refused += statusOf(connection->receive(SteadyClock::now() + 10ms, "}")) == 503;
    }
    std::printf("%d idle kept-alive connections from 127.0.0.1 %s: 127.0.0.2 answered %d after %.0f ms; "
                "%d of them refused 503 at once\n",
                count, options.empty() ? "(limit 16 per address)" : "(no limit per address)", status, took,
                refused);
    printMemory(pid, before);
}

} // namespace

int main(int argc, char** argv) {
    int connections = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--connections") == 0) {
            connections = std::atoi(argv[i + 1]);
        }
    }
    try {
        TempDir folder;
        ServerProcess server({"--database", folder.file("leaderboard.db"), "--rate-limit", "0"});
        const pid_t pid = server.pid();
        if (pid <= 0 || request(server.port(), "GET", "/api/leaderboard").status != 200) {
            std::fprintf(stderr, "bench_hostile: the server did not answer\n");
            return 1;
        }
        std::printf("Server RSS after one request: %ld kB\n", residentKb(pid));
        attack(pid, server.port(), "64 MB header line",
               "GET /api/leaderboard HTTP/1.1\r\nHost: x\r\nX-Filler: " + std::string(64 << 20, 'a'),
               "\r\n\r\n");
        attack(pid, server.port(), "Content-Length 10^12 upload",
               "POST /api/leaderboard HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
               "Content-Length: 1000000000000\r\n\r\n",
               std::string(4 << 20, '['));
        idleCrowd(connections, {});
        idleCrowd(connections, {"--max-connections-per-address", "0"});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_hostile: %s\n", e.what());
        return 1;
    }
    return 0;
}
