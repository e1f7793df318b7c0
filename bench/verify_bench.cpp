// What running uploaded rounds again costs the leaderboard server. With rounds played by a
// simulated person on the shipped levels (Neon Drive, and Hyperlane, the densest):
//   1. one re-run of a 60 s, 5 min and 30 min round: median and p99 over repeated runs, and the
//      replay's size as stored (its zlib stream) and as uploaded (base64);
//   2. a real server with --levels: 16 client threads uploading one 60 s round each time, with
//      every upload verified: uploads per second and their p50/p99 latency;
//   3. the same server while 16 clients upload 30 min rounds without pause: the answer times of
//      GET /api/leaderboard asked every 20 ms (p50, p99, max), and how many uploads came out
//      verified and how many unverified (not run again within the budget).
// Usage: bench_verify [--quick]   (--quick: fewer runs and shorter loads, for a smoke check)
// Run from the checkout's assets/ folder.
#include "quantile.hpp"
#include "replay/replay_upload.hpp"
#include "replay/replay_verify.hpp"
#include "replay/simulated_round.hpp"
#include "server_test_support.hpp"
#include "temp_dir.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

using namespace servertest;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point begin) {
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

CheckedLevel readLevel(const char* folder, const char* name) {
    CheckedLevel level;
    std::string error;
    if (!readCheckedLevel(folder, name, level, error)) {
        std::fprintf(stderr, "Cannot read %s: %s\n", folder, error.c_str());
        std::exit(1);
    }
    return level;
}

// The upload of `player`'s entry for `replay`, as the game sends it.
std::string uploadOf(const std::string& player, const Replay& replay) {
    std::string bytes, text, error;
    encodeReplay(replay, bytes, error);
    packReplay(bytes, text, error);
    const ReplayResult& r = replay.result;
    const json entry = {
        {"player", player},
        {"score", r.score},
        {"highestLayer", std::to_string(r.highestLayer) + "/" + std::to_string(r.totalLayers)},
        {"highestCombo", r.highestCombo},
        {"replay", text}};
    return json{{"levels", {{{"name", replay.levelName}, {"scores", json::array({entry})}}}}}.dump();
}

void measureReruns(const CheckedLevel& level, double seconds, int runs) {
    const Replay replay = simulatedRound(level, seconds);
    std::string bytes, compressed, text, error;
    encodeReplay(replay, bytes, error);
    deflateBytes(bytes, compressed, error);
    packReplay(bytes, text, error);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto begin = Clock::now();
        const VerifyOutcome outcome = verifyReplay(replay, level, Clock::now() + std::chrono::minutes(10));
        times.push_back(msSince(begin));
        if (outcome.verdict != VerifyVerdict::Verified) {
            std::fprintf(stderr, "The simulated round did not verify\n");
            std::exit(1);
        }
    }
    std::printf(
        "  %-14s %5.0f s  %6zu events  stored %8zu bytes  uploaded %8zu bytes  re-run median %8.2f ms  "
        "p99 %8.2f ms  (%d runs)\n",
        level.name.c_str(), seconds, replay.events.size(), compressed.size(), text.size(),
        quantile(times, 0.5), quantile(times, 0.99), runs);
    std::fflush(stdout);
}

// The heaviest replay a client can send: a 30 min round with presses and releases of every key
// packed in until the file nears the 8 MiB an upload may inflate to; timed to its verdict (it
// differs, of course).
void measureFlood(const CheckedLevel& level) {
    Replay replay = simulatedRound(level, 1800.0);
    std::vector<RoundEvent> events;
    const std::size_t total = 270000; // just under the 8 MiB a replay may inflate to
    for (std::size_t i = 0; i < total; ++i) {
        const std::int64_t at =
            static_cast<std::int64_t>(i) * replay.songEndUs / static_cast<std::int64_t>(total);
        events.push_back({at, i % 2 == 0 ? InputKind::Press : InputKind::Release, InputDevice::Key, 0,
                          static_cast<std::uint32_t>('a' + (i / 2) % 26)});
    }
    replay.events = events;
    std::string bytes, compressed, error;
    encodeReplay(replay, bytes, error);
    deflateBytes(bytes, compressed, error);
    const auto begin = Clock::now();
    const VerifyOutcome outcome = verifyReplay(replay, level, Clock::now() + std::chrono::minutes(10));
    std::printf(
        "  %-14s flood: %zu key events in %.0f s, file %zu bytes, stored %zu bytes: re-run %.1f ms (%s)\n",
        level.name.c_str(), replay.events.size(), static_cast<double>(replay.songEndUs) / 1e6, bytes.size(),
        compressed.size(), msSince(begin),
        outcome.verdict == VerifyVerdict::Differs ? "refused" : "not refused");
    std::fflush(stdout);
}

void measureUploads(int port, const Replay& replay, int threads, int perThread) {
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(threads));
    std::atomic<int> verified{0};
    const auto begin = Clock::now();
    std::vector<std::thread> clients;
    for (int t = 0; t < threads; ++t) {
        clients.emplace_back([&, t] {
            // As the load benchmark's clients: kept alive, and without Nagle's delay on the body.
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            client.set_read_timeout(30);
            for (int i = 0; i < perThread; ++i) {
                const std::string body = uploadOf("p" + std::to_string(t) + "_" + std::to_string(i), replay);
                const auto sent = Clock::now();
                const httplib::Result reply = client.Post("/api/leaderboard", body, "application/json");
                latencies[static_cast<std::size_t>(t)].push_back(msSince(sent));
                const json answer = json::parse(reply ? reply->body : std::string(), nullptr, false);
                verified += answer.is_object() ? answer.value("verified", 0) : 0;
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    const double seconds = msSince(begin) / 1000.0;
    std::vector<double> all;
    for (const auto& each : latencies) {
        all.insert(all.end(), each.begin(), each.end());
    }
    std::printf("  %d uploads of a %.0f s round from %d threads: %.1f uploads/s, p50 %.1f ms, p99 %.1f ms, "
                "%d verified\n",
                threads * perThread, static_cast<double>(replay.songEndUs) / 1e6, threads,
                static_cast<double>(all.size()) / seconds, quantile(all, 0.5), quantile(all, 0.99),
                verified.load());
    std::fflush(stdout);
}

void measureGetsUnderLongUploads(int port, const Replay& replay, int threads, double seconds) {
    std::atomic<bool> stop{false};
    std::atomic<int> verified{0}, unverified{0}, failed{0};
    std::vector<std::thread> clients;
    const std::string body = uploadOf("long", replay);
    for (int t = 0; t < threads; ++t) {
        clients.emplace_back([&, t] {
            for (int i = 0; !stop; ++i) {
                std::string mine = body;
                const std::string name = "\"long" + std::to_string(t) + "_" + std::to_string(i) + "\"";
                mine.replace(mine.find("\"long\""), 6, name);
                const json answer =
                    json::parse(request(port, "POST", "/api/leaderboard", mine).body, nullptr, false);
                if (!answer.is_object() || answer.value("accepted", 0) != 1) {
                    ++failed;
                } else {
                    ++(answer.value("verified", 0) == 1 ? verified : unverified);
                }
            }
        });
    }
    std::vector<double> times;
    const auto begin = Clock::now();
    while (msSince(begin) < seconds * 1000.0) {
        const auto sent = Clock::now();
        const Reply reply = request(port, "GET", "/api/leaderboard");
        times.push_back(reply.status == 200 ? msSince(sent) : 1e9);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop = true;
    for (std::thread& client : clients) {
        client.join();
    }
    std::printf("  GET /api/leaderboard while %d clients upload %.0f s rounds for %.0f s: %zu answers, "
                "p50 %.1f ms, p99 %.1f ms, max %.1f ms; uploads %d verified, %d unverified, %d failed\n",
                threads, static_cast<double>(replay.songEndUs) / 1e6, seconds, times.size(),
                quantile(times, 0.5), quantile(times, 0.99), quantile(times, 1.0), verified.load(),
                unverified.load(), failed.load());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const CheckedLevel neon = readLevel("levels/neon_drive", "Neon Drive");
    const CheckedLevel hyper = readLevel("levels/hyperlane", "Hyperlane");
    std::printf("Re-running one round (one thread):\n");
    for (const CheckedLevel* level : {&neon, &hyper}) {
        measureReruns(*level, 60.0, quick ? 3 : 50);
        measureReruns(*level, 300.0, quick ? 2 : 20);
        measureReruns(*level, 1800.0, quick ? 1 : 5);
    }
    measureFlood(hyper);
    TempDir dir;
    ServerProcess server({"--database", dir.file("board.db"), "--rate-limit", "0",
                          "--max-connections-per-address", "0", "--levels", "levels"});
    std::printf("Uploads with their replays, every one run again (verify threads: the server's default):\n");
    measureUploads(server.port(), simulatedRound(hyper, 60.0), 16, quick ? 4 : 40);
    measureGetsUnderLongUploads(server.port(), simulatedRound(hyper, 1800.0), 16, quick ? 10.0 : 60.0);
    return 0;
}
