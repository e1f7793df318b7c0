#pragma once
// The fixture of the server's API and data tests, run on both databases: the server on a fresh
// database, GET requests sent byte for byte, a player's stored score, and uploads of one level.
#include "base/percent_encoding.hpp"
#include "hostile_support.hpp"
#include "server_test_support.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <memory>

namespace servertest {

enum class Backend { Sqlite, Postgres };

class ServerCase : public testing::TestWithParam<Backend> {
protected:
    // An empty database: a SQLite file in the test's folder, or one in the shared cluster.
    std::string newDatabase() {
        static std::atomic<int> databases{0};
        const std::string name = "board" + std::to_string(++databases);
        return GetParam() == Backend::Sqlite ? folder.file(name + ".db")
                                             : sharedCluster().createDatabase(name);
    }
    // Starts the server on `database` (a new one when empty); the rate limit is off unless
    // `options` set it.
    void start(std::vector<std::string> options = {}, const std::string& database = "") {
        options.insert(options.begin(),
                       {"--database", database.empty() ? newDatabase() : database, "--rate-limit", "0"});
        server = std::make_unique<ServerProcess>(options);
    }
    // GET `target` with its bytes sent as they are: the HTTP library's client would decode and
    // re-encode a query (turning an encoded "&" into a separator).
    Reply get(const std::string& target) {
        RawConnection connection(server->port());
        const auto deadline = SteadyClock::now() + std::chrono::seconds(10);
        connection.send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
                        deadline);
        const std::string text = connection.receive(deadline);
        const std::size_t body = text.find("\r\n\r\n");
        return statusOf(text) == 0 || body == std::string::npos
                   ? Reply{}
                   : Reply{statusOf(text), text.substr(body + 4)};
    }
    // The stored score of `player` on `level` (names percent-encoded here); -1 for no number.
    int scoreOf(const std::string& level, const std::string& player) {
        const nlohmann::json reply = nlohmann::json::parse(
            get("/api/player/" + percentEncode(level) + "/" + percentEncode(player)).body, nullptr, false);
        const nlohmann::json score = reply.is_object() ? reply.value("score", nlohmann::json()) : nullptr;
        return score.is_number_integer() ? score.get<int>() : -1;
    }

    // vibrelle-leaderboard-server admin `words`; the exit status, with the output in `output`.
    int admin(std::vector<std::string> words, const std::string& database, std::string& output) {
        words.insert(words.begin(), {VIBRELLE_SERVER_BINARY, "admin"});
        words.insert(words.end(), {"--database", database});
        return runCommand(words, output);
    }

    TempDir folder;
    std::unique_ptr<ServerProcess> server;
};

// (A vector: a braced list of one json entry would be taken for the entry itself, not an array.)
inline nlohmann::json upload(const std::string& level, const std::vector<nlohmann::json>& entries) {
    return {{"levels", {{{"name", level}, {"scores", nlohmann::json(entries)}}}}};
}

inline nlohmann::json entry(const std::string& player, int score) {
    return {{"player", player}, {"score", score}};
}

} // namespace servertest
