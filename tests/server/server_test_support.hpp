#pragma once
// Helpers of the leaderboard server's tests and benchmark: the server program on a port of its
// own, a PostgreSQL cluster in a temporary folder, and plain HTTP requests that send the target
// exactly as given.
#include "child_process.hpp"
#include "temp_dir.hpp"

#include <httplib.h>

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace servertest {

// vibrelle-leaderboard-server on 127.0.0.1 and a port it picks itself (--port 0).
class ServerProcess : public ChildProcess {
public:
    explicit ServerProcess(const std::vector<std::string>& options)
        : ChildProcess({VIBRELLE_SERVER_BINARY, "--port", "0"}, options),
          port_(std::atoi(waitFor("listening on http://127.0.0.1:", std::chrono::seconds(30)).c_str())) {
        if (port_ <= 0) {
            throw std::runtime_error("the server did not start:\n" + output());
        }
    }
    int port() const { return port_; }
    // SIGTERM, and the exit status.
    int stop() {
        signal(SIGTERM);
        return wait(std::chrono::seconds(30));
    }

private:
    int port_;
};

// A PostgreSQL cluster of its own in a temporary folder, reached only through a Unix socket in
// that folder (so no port is shared with anything), stopped and removed at the end. Debian's
// binaries; run as the "postgres" user when this process is root. `durable` false turns fsync
// off (tests); true keeps PostgreSQL's defaults (the benchmark).
class PostgresCluster {
public:
    explicit PostgresCluster(bool durable) {
        if (access(bin("initdb").c_str(), X_OK) != 0) {
            throw std::runtime_error(bin("initdb") +
                                     " not found: PostgreSQL 15 is missing (scripts/setup installs it)");
        }
        if (geteuid() == 0) {
            const passwd* user = getpwnam("postgres");
            if (user == nullptr || chown(dir_.path().c_str(), user->pw_uid, user->pw_gid) != 0) {
                throw std::runtime_error("running as root needs the postgres user to own " +
                                         dir_.path().string());
            }
            asUser_ = {"runuser", "-u", "postgres", "--"};
        }
        const std::string settings =
            " -c listen_addresses= -c max_connections=60" +
            std::string(durable ? "" : " -c fsync=off -c synchronous_commit=off -c full_page_writes=off");
        std::string output;
        if (run({bin("initdb"), "-D", data(), "-A", "trust", "-U", "vibrelle", "-E", "UTF8", "--locale=C",
                 "-N"},
                output) != 0 ||
            run({bin("pg_ctl"), "-D", data(), "-l", dir_.file("server.log"), "-o",
                 "-k " + dir_.path().string() + settings, "-w", "start"},
                output) != 0) {
            throw std::runtime_error("cannot start PostgreSQL:\n" + output);
        }
    }
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;
    ~PostgresCluster() {
        std::string ignored;
        run({bin("pg_ctl"), "-D", data(), "-m", "immediate", "-w", "stop"}, ignored);
    }

    // Creates an empty database; its URL.
    std::string createDatabase(const std::string& name) {
        std::string output;
        if (run({bin("psql"), "-h", dir_.path().string(), "-U", "vibrelle", "-d", "postgres", "-v",
                 "ON_ERROR_STOP=1", "-c", "CREATE DATABASE " + name},
                output) != 0) {
            throw std::runtime_error("cannot create database " + name + ":\n" + output);
        }
        return "postgresql://vibrelle@/" + name + "?host=" + dir_.path().string();
    }

private:
    static std::string bin(const std::string& program) { return "/usr/lib/postgresql/15/bin/" + program; }
    std::string data() const { return dir_.file("data"); }
    int run(std::vector<std::string> argv, std::string& output) {
        argv.insert(argv.begin(), asUser_.begin(), asUser_.end());
        return runCommand(argv, output);
    }

    TempDir dir_;
    std::vector<std::string> asUser_;
};

// One cluster for every PostgreSQL case of this process, each case in a database of its own.
inline PostgresCluster& sharedCluster() {
    static PostgresCluster cluster(false);
    return cluster;
}

// One HTTP exchange with the target sent exactly as given (no encoding by the client).
struct Reply {
    int status = 0; // 0: no reply
    std::string body;
};

inline Reply request(int port, const std::string& method, const std::string& target,
                     const std::string& body = "", const httplib::Headers& headers = {}) {
    httplib::Client client("127.0.0.1", port);
    client.set_url_encode(false);
    client.set_read_timeout(10);
    httplib::Request req;
    req.method = method;
    req.path = target;
    req.headers = headers;
    req.body = body;
    if (method == "POST" && !req.has_header("Content-Type")) {
        req.set_header("Content-Type", "application/json");
    }
    const httplib::Result result = client.send(req);
    return result ? Reply{result->status, result->body} : Reply{};
}

} // namespace servertest
