// The leaderboard server under load: 16 client threads post 10 000 random uploads on loopback,
// to SQLite behind one server process, then to PostgreSQL behind two processes sharing one
// database (a cluster of its own, PostgreSQL's default durability settings). Prints uploads per
// second and the p50/p99 latency of an upload, and checks the stored bests against what was sent;
// then the same with owned names (each thread claims three names with "new" first and uploads
// under them with their keys). Then the board at 1 000 000 entries over 1 000 levels, filled
// through the store: the answer times of GET /api/leaderboard, one ?level= page, the web page and
// one level's ranking page.
// Usage: bench_server [--uploads N] [--threads N] [--only sqlite|postgres] [--board-entries N]
#include "load_support.hpp"
#include "quantile.hpp"
#include "server/leaderboard_store.hpp"
#include "server_test_support.hpp"

#include "leaderboard/leaderboard_names.hpp"

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

// Each thread's claimed names and their keys, made before the timed load.
using Claims = std::vector<std::vector<std::pair<std::string, std::string>>>;

Claims claimNames(int port, int threads, const char* tag) {
    Claims claims(static_cast<std::size_t>(threads));
    for (int t = 0; t < threads; ++t) {
        for (int n = 0; n < 3; ++n) {
            const std::string name = std::string(tag) + " t" + std::to_string(t) + " n" + std::to_string(n);
            const json document = {
                {"levels", {{{"name", "Tutorial"}, {"scores", {{{"player", name}, {"score", 0}}}}}}}};
            const Reply reply = request(port, "POST", "/api/leaderboard", document.dump(),
                                        {{"X-Vibrelle-Player-Key", "new"}});
            const json answer = json::parse(reply.body, nullptr, false);
            if (reply.status == 200 && answer.contains("playerKey")) {
                claims[static_cast<std::size_t>(t)].emplace_back(name,
                                                                 answer["playerKey"].get<std::string>());
            }
        }
    }
    return claims;
}

// How the uploads of a run are made: random documents of up to 9 players (as the tests load), or
// documents of one player each (the thread's own names), sent without a key to names nobody owns,
// or with the key to names the thread claimed.
enum class Uploads { Random, OnePlayer, OnePlayerOwned };

void measure(const char* name, const std::string& database, int processes, int uploads, int threads,
             Uploads mode) {
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
    Claims claims(static_cast<std::size_t>(threads));
    if (mode == Uploads::OnePlayerOwned) {
        claims = claimNames(plan.ports.front(), threads, name);
    } else if (mode == Uploads::OnePlayer) {
        for (int t = 0; t < threads; ++t) {
            for (int n = 0; n < 3; ++n) {
                claims[static_cast<std::size_t>(t)].emplace_back(
                    "free t" + std::to_string(t) + " n" + std::to_string(n), "");
            }
        }
    }
    if (mode != Uploads::Random) {
        // One of the thread's names on every entry of an upload, with that name's key if it has one.
        plan.makeUpload = [&claims](int thread, std::mt19937& rng, httplib::Headers& headers) {
            json document = randomUpload(rng);
            const auto& mine = claims[static_cast<std::size_t>(thread)];
            if (mine.empty()) {
                return document;
            }
            const auto& [player, key] =
                mine[std::uniform_int_distribution<std::size_t>(0, mine.size() - 1)(rng)];
            for (json& level : document["levels"]) {
                json& scores = level["scores"];
                scores.erase(scores.begin() + 1, scores.end());
                scores[0]["player"] = player;
            }
            if (!key.empty()) {
                headers.emplace("X-Vibrelle-Player-Key", key);
            }
            return document;
        };
    }
    const auto start = std::chrono::steady_clock::now();
    const LoadResult load = runLoad(plan);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool match = bestsMatch(plan.ports.front(), load);
    std::printf("%-36s %6zu/%d acknowledged  %8.0f uploads/s  p50 %6.2f ms  p99 %6.2f ms  bests %s\n", name,
                load.latencyMs.size(), uploads, static_cast<double>(load.latencyMs.size()) / seconds,
                quantile(load.latencyMs, 0.50), quantile(load.latencyMs, 0.99), match ? "match" : "DIFFER");
    std::fflush(stdout);
    for (auto& server : servers) {
        server->stop();
    }
}

// Fills `database` with `entries` entries over 1 000 levels through the store, one transaction
// per level.
bool fillBoard(const std::string& database, int entries) {
    std::string error;
    const std::unique_ptr<LeaderboardStore> store = openLeaderboardStore(database, error);
    if (!store) {
        std::fprintf(stderr, "bench_server: %s\n", error.c_str());
        return false;
    }
    constexpr int kLevels = 1000;
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> score(0, 1000000);
    for (int level = 0; level < kLevels; ++level) {
        MergeRequest request;
        for (int i = 0; i < entries / kLevels; ++i) {
            StoredEntry stored;
            stored.level = "Level " + std::to_string(level);
            stored.player = "Player " + std::to_string(i);
            stored.playerKey = foldPlayerName(stored.player);
            stored.score = score(rng);
            stored.entry = {{"player", stored.player},
                            {"score", stored.score},
                            {"time", 100},
                            {"highestLayer", "4/8"},
                            {"highestCombo", 50}};
            request.entries.push_back(std::move(stored));
        }
        MergeResult result;
        if (!store->mergeUpload(request, result, error)) {
            std::fprintf(stderr, "bench_server: %s\n", error.c_str());
            return false;
        }
    }
    return true;
}

// The median time of `runs` GETs of `target`, in ms, and the size of its answer.
void timeGet(const char* name, int port, const std::string& target, int runs) {
    std::vector<double> times;
    std::size_t bytes = 0;
    int status = 0;
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(60);
    client.set_payload_max_length(std::size_t{256} << 20); // the whole board outgrows the 4 MiB default
    for (int i = 0; i < runs; ++i) {
        const auto begin = std::chrono::steady_clock::now();
        const httplib::Result reply = client.Get(target);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count());
        bytes = reply ? reply->body.size() : 0;
        status = reply ? reply->status : 0;
    }
    std::printf("  %-44s status %d  %9zu bytes  median %8.2f ms  max %8.2f ms\n", name, status, bytes,
                quantile(times, 0.5), quantile(times, 1.0));
    std::fflush(stdout);
}

void measureBoard(const char* name, const std::string& database, int entries) {
    const auto start = std::chrono::steady_clock::now();
    if (!fillBoard(database, entries)) {
        return;
    }
    std::printf("%s: %d entries over 1000 levels filled in %.1f s\n", name, entries,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    ServerProcess server({"--database", database, "--rate-limit", "0"});
    timeGet("GET /api/leaderboard (top 100 of each)", server.port(), "/api/leaderboard", 5);
    timeGet("GET /api/leaderboard?level=Level%20500 (offset 0)", server.port(),
            "/api/leaderboard?level=Level%20500", 50);
    timeGet("GET /api/leaderboard?level=...&offset=900", server.port(),
            "/api/leaderboard?level=Level%20500&offset=900&limit=100", 50);
    timeGet("GET / (top 10 of each)", server.port(), "/", 5);
    timeGet("GET /?level=Level%20500&page=10", server.port(), "/?level=Level%20500&page=10", 50);
    server.stop();
}

} // namespace

int main(int argc, char** argv) {
    int uploads = 10000;
    int threads = 16;
    std::string only;
    int boardEntries = 1000000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--uploads") == 0) {
            uploads = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--threads") == 0) {
            threads = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--board-entries") == 0) {
            boardEntries = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--only") == 0) {
            only = argv[i + 1];
        }
    }
    try {
        std::printf("%d uploads from %d threads on loopback\n", uploads, threads);
        if (only.empty() || only == "sqlite") {
            TempDir folder;
            measure("SQLite, random uploads", folder.file("leaderboard.db"), 1, uploads, threads,
                    Uploads::Random);
            measure("SQLite, one player, no key", folder.file("free.db"), 1, uploads, threads,
                    Uploads::OnePlayer);
            measure("SQLite, one player, owned, key", folder.file("owned.db"), 1, uploads, threads,
                    Uploads::OnePlayerOwned);
            measureBoard("SQLite", folder.file("board.db"), boardEntries);
        }
        if (only.empty() || only == "postgres") {
            PostgresCluster cluster(true);
            measure("PostgreSQL x2, random uploads", cluster.createDatabase("bench"), 2, uploads, threads,
                    Uploads::Random);
            measure("PostgreSQL x2, one player, no key", cluster.createDatabase("free"), 2, uploads, threads,
                    Uploads::OnePlayer);
            measure("PostgreSQL x2, one player, owned, key", cluster.createDatabase("owned"), 2, uploads,
                    threads, Uploads::OnePlayerOwned);
            measureBoard("PostgreSQL", cluster.createDatabase("board"), boardEntries);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_server: %s\n", e.what());
        return 1;
    }
    return 0;
}
