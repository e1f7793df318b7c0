#pragma once
// Helpers of the leaderboard server's tests and benchmark: child processes with their output
// kept in a file, the server program on a port of its own, a PostgreSQL cluster in a temporary
// folder, and plain HTTP requests that send the target exactly as given.
#include "temp_dir.hpp"

#include <httplib.h>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace servertest {

// A program started with standard output and error going to an unlinked temporary file, so that
// it never blocks on a full pipe and what it printed can be read at any time.
class ChildProcess {
public:
    // `argv`, then `more` arguments.
    explicit ChildProcess(std::vector<std::string> argv, const std::vector<std::string>& more = {}) {
        argv.insert(argv.end(), more.begin(), more.end());
        std::string name = (std::filesystem::temp_directory_path() / "vibrelle-child-XXXXXX").string();
        fd_ = mkostemp(name.data(), O_CLOEXEC);
        if (fd_ < 0) {
            throw std::runtime_error("cannot make an output file");
        }
        unlink(name.c_str());
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fd_, 1);
        posix_spawn_file_actions_adddup2(&actions, fd_, 2);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        const int failed = posix_spawnp(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0) {
            close(fd_);
            throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(failed));
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        signal(SIGKILL);
        wait(std::chrono::seconds(30));
        close(fd_);
    }

    // Waits until a whole line containing `piece` has been printed; the rest of that line after
    // `piece`, or "" when the program ended or `limit` passed first.
    std::string waitFor(const std::string& piece, std::chrono::seconds limit) {
        for (const auto end = std::chrono::steady_clock::now() + limit;
             !reaped(WNOHANG) && std::chrono::steady_clock::now() < end;) {
            const std::string text = everything();
            const std::size_t at = text.find(piece);
            if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
                return text.substr(at + piece.size(), text.find('\n', at) - at - piece.size());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return "";
    }

    void signal(int number) {
        if (pid_ > 0) {
            kill(pid_, number);
        }
    }

    // Waits for the program to end (killing it after `limit`); its exit status, or 128 + the
    // signal that ended it.
    int wait(std::chrono::seconds limit) {
        for (const auto end = std::chrono::steady_clock::now() + limit; !reaped(WNOHANG);) {
            if (std::chrono::steady_clock::now() > end) {
                signal(SIGKILL);
                reaped(0);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return status_;
    }

    // What the program printed (the start and the end of it when long), for messages.
    std::string output() const {
        const std::string text = everything();
        const std::size_t keep = 4000;
        return text.size() <= 2 * keep ? text
                                       : text.substr(0, keep) + "\n...\n" + text.substr(text.size() - keep);
    }

private:
    std::string everything() const {
        std::string text;
        char buffer[65536];
        for (ssize_t length = 0;
             (length = pread(fd_, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;) {
            text.append(buffer, static_cast<std::size_t>(length));
        }
        return text;
    }
    // True when the program has ended (waitpid with `flags`); its status is then kept.
    bool reaped(int flags) {
        int raw = 0;
        if (pid_ <= 0) {
            return true;
        }
        if (waitpid(pid_, &raw, flags) != pid_) {
            return false;
        }
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        pid_ = -1;
        return true;
    }

    int fd_ = -1;
    pid_t pid_ = -1;
    int status_ = -1;
};

// Runs a program to its end (at most two minutes); its exit status, with its output in `output`.
inline int runCommand(const std::vector<std::string>& argv, std::string& output) {
    ChildProcess child(argv);
    const int status = child.wait(std::chrono::seconds(120));
    output = child.output();
    return status;
}

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
