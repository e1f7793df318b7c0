// The leaderboard server under load: 16 client threads post 10 000 random uploads on loopback,
// to SQLite behind one server process, then to PostgreSQL behind two processes sharing one
// database (a cluster of its own, PostgreSQL's default durability settings). Prints uploads per
// second and the p50/p99 latency of an upload, and checks the stored bests against what was sent.
// Usage: bench_server [--uploads N] [--threads N] [--only sqlite|postgres]
#include "load_support.hpp"
#include "server_test_support.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <memory>

using namespace servertest;
using nlohmann::json;

namespace {

// The q-quantile (0..1) of `values`, nearest rank; 0 for none.
double quantile(std::vector<double> values, double q) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

// True when the server's document holds exactly the best score of every (level, player) sent.
bool bestsMatch(int port, const LoadResult& load) {
    const json stored = json::parse(request(port, "GET", "/api/leaderboard").body, nullptr, false);
    const json expected = bestOf(load, false);
    std::size_t count = 0;
    for (const json& level : expected["levels"]) {
        for (const json& entry : level["scores"]) {
            ++count;
            if (findPlayerScore(stored, level["name"], entry["player"]) != entry["score"].get<int>()) {
                return false;
            }
        }
    }
    std::size_t storedCount = 0;
    for (const json& level : stored["levels"]) {
        storedCount += level["scores"].size();
    }
    return storedCount == count;
}

void measure(const char* name, const std::string& database, int processes, int uploads, int threads) {
    std::vector<std::unique_ptr<ServerProcess>> servers;
    LoadPlan plan;
    plan.uploads = uploads;
    plan.threads = threads;
    for (int i = 0; i < processes; ++i) {
        // The request log goes to the drained pipe, as it would to a journal.
        servers.push_back(std::make_unique<ServerProcess>(
            std::vector<std::string>{"--database", database, "--rate-limit", "0"}));
        plan.ports.push_back(servers.back()->port());
    }
    const auto start = std::chrono::steady_clock::now();
    const LoadResult load = runLoad(plan);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool match = bestsMatch(plan.ports.front(), load);
    std::printf("%-28s %6zu/%d acknowledged  %8.0f uploads/s  p50 %6.2f ms  p99 %6.2f ms  bests %s\n", name,
                load.latencyMs.size(), uploads, static_cast<double>(load.latencyMs.size()) / seconds,
                quantile(load.latencyMs, 0.50), quantile(load.latencyMs, 0.99), match ? "match" : "DIFFER");
    std::fflush(stdout);
    for (auto& server : servers) {
        server->stop();
    }
}

} // namespace

int main(int argc, char** argv) {
    int uploads = 10000;
    int threads = 16;
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--uploads") == 0) {
            uploads = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--threads") == 0) {
            threads = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--only") == 0) {
            only = argv[i + 1];
        }
    }
    try {
        std::printf("%d uploads from %d threads on loopback\n", uploads, threads);
        if (only.empty() || only == "sqlite") {
            TempDir folder;
            measure("SQLite, 1 process", folder.file("leaderboard.db"), 1, uploads, threads);
        }
        if (only.empty() || only == "postgres") {
            PostgresCluster cluster(true);
            measure("PostgreSQL, 2 processes", cluster.createDatabase("bench"), 2, uploads, threads);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_server: %s\n", e.what());
        return 1;
    }
    return 0;
}
