#pragma once
// Helpers of the leaderboard server's tests and benchmark: child processes with their output
// drained on a thread, the server program on a port of its own, a PostgreSQL cluster in a
// temporary folder, and plain HTTP requests that send the target exactly as given.
#include "temp_dir.hpp"

#include <httplib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace servertest {

// A program started with standard output and error on one pipe, read by a thread of its own so
// that the child never blocks on a full pipe. The last lines are kept for failure messages.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
        // Close-on-exec, so that neither end leaks into this or any other child (and its
        // daemons): the output ends when the program and what it started have closed it.
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        std::vector<std::string> environment(env);
        for (char** entry = environ; *entry != nullptr; ++entry) {
            environment.emplace_back(*entry); // earlier entries win: getenv takes the first
        }
        std::vector<char*> envp;
        for (std::string& entry : environment) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        const int failed = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (failed != 0) {
            close(fds[0]);
            throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(failed));
        }
        reader_ = std::thread([this, fd = fds[0]] { drain(fd); });
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
        }
        wait(std::chrono::seconds(30));
    }

    // Waits until a line containing `piece` has been printed; the line, or "" when the output
    // ended or `limit` passed first.
    std::string waitForLine(const std::string& piece, std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        std::string found;
        changed_.wait_for(lock, limit, [&] {
            for (const std::string& line : firstLines_) {
                if (line.find(piece) != std::string::npos) {
                    found = line;
                    return true;
                }
            }
            return ended_;
        });
        return found;
    }

    void signal(int number) {
        if (pid_ > 0) {
            kill(pid_, number);
        }
    }

    // Waits for the program to end (killing it after `limit`); its exit status, or 128 + the
    // signal that ended it.
    int wait(std::chrono::seconds limit) {
        if (pid_ <= 0) {
            return status_;
        }
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!changed_.wait_for(lock, limit, [this] { return ended_; })) {
                kill(pid_, SIGKILL);
            }
        }
        int raw = 0;
        waitpid(pid_, &raw, 0);
        pid_ = -1;
        if (reader_.joinable()) {
            reader_.join();
        }
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return status_;
    }

    // The first and the last lines printed, for messages.
    std::string output() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string text;
        for (const std::string& line : firstLines_) {
            text += line + "\n";
        }
        text += "...\n";
        for (const std::string& line : lastLines_) {
            text += line + "\n";
        }
        return text;
    }

private:
    static constexpr std::size_t kKeptLines = 40;

    void drain(int fd) {
        std::string pending;
        char buffer[4096];
        ssize_t length = 0;
        while ((length = read(fd, buffer, sizeof buffer)) > 0 || (length < 0 && errno == EINTR)) {
            pending.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
            std::size_t end = 0;
            while ((end = pending.find('\n')) != std::string::npos) {
                keep(pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
        if (!pending.empty()) {
            keep(pending);
        }
        close(fd);
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }
    void keep(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (firstLines_.size() < kKeptLines) {
            firstLines_.push_back(line);
        } else {
            lastLines_.push_back(line);
            if (lastLines_.size() > kKeptLines) {
                lastLines_.erase(lastLines_.begin());
            }
        }
        changed_.notify_all();
    }

    pid_t pid_ = -1;
    int status_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ended_ = false;
    std::vector<std::string> firstLines_;
    std::vector<std::string> lastLines_;
};

// Runs a program to its end (at most `limit`); its exit status, with its output in `output`.
inline int runCommand(const std::vector<std::string>& argv, std::string& output,
                      std::chrono::seconds limit = std::chrono::seconds(120),
                      const std::vector<std::string>& env = {}) {
    ChildProcess child(argv, env);
    const int status = child.wait(limit);
    output = child.output();
    return status;
}

// vibrelle-leaderboard-server on 127.0.0.1 and a port it picks itself (--port 0).
class ServerProcess {
public:
    explicit ServerProcess(const std::vector<std::string>& options) {
        std::vector<std::string> argv = {VIBRELLE_SERVER_BINARY, "--port", "0"};
        argv.insert(argv.end(), options.begin(), options.end());
        child_ = std::make_unique<ChildProcess>(argv);
        const std::string line =
            child_->waitForLine("listening on http://127.0.0.1:", std::chrono::seconds(30));
        const std::size_t at = line.find("127.0.0.1:");
        if (at == std::string::npos) {
            throw std::runtime_error("the server did not start:\n" + child_->output());
        }
        port_ = std::atoi(line.c_str() + at + 10);
    }
    int port() const { return port_; }
    ChildProcess& process() { return *child_; }
    // SIGTERM, and the exit status.
    int stop() {
        child_->signal(SIGTERM);
        return child_->wait(std::chrono::seconds(30));
    }

private:
    std::unique_ptr<ChildProcess> child_;
    int port_ = 0;
};

// A free loopback port at the time of asking (the socket is closed again).
inline int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("no free loopback port");
    }
    close(fd);
    return ntohs(address.sin_port);
}

// A PostgreSQL cluster of its own in a temporary folder, on a free port, stopped and removed at
// the end. Debian's binaries; run as the "postgres" user when this process is root. `durable`
// false turns fsync off (tests); true keeps PostgreSQL's defaults (the benchmark).
class PostgresCluster {
public:
    static constexpr const char* kBin = "/usr/lib/postgresql/15/bin";

    explicit PostgresCluster(bool durable) {
        const std::string initdb = std::string(kBin) + "/initdb";
        if (access(initdb.c_str(), X_OK) != 0) {
            throw std::runtime_error(initdb +
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
        std::string output;
        if (run({initdb, "-D", data(), "-A", "trust", "-U", "vibrelle", "-E", "UTF8", "--locale=C", "-N"},
                output) != 0) {
            throw std::runtime_error("initdb failed:\n" + output);
        }
        const std::string settings =
            durable ? "" : " -c fsync=off -c synchronous_commit=off -c full_page_writes=off";
        for (int attempt = 0; attempt < 3 && port_ == 0; ++attempt) {
            const int port = freePort();
            const std::string options = "-p " + std::to_string(port) + " -k " + dir_.path().string() +
                                        " -c listen_addresses=127.0.0.1 -c max_connections=60" + settings;
            if (run({std::string(kBin) + "/pg_ctl", "-D", data(), "-l", dir_.file("server.log"), "-o",
                     options, "-w", "start"},
                    output) == 0) {
                port_ = port;
            }
        }
        if (port_ == 0) {
            throw std::runtime_error("pg_ctl could not start PostgreSQL:\n" + output);
        }
    }
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;
    ~PostgresCluster() {
        std::string ignored;
        if (port_ != 0) {
            run({std::string(kBin) + "/pg_ctl", "-D", data(), "-m", "immediate", "-w", "stop"}, ignored);
        }
    }

    // Creates an empty database; its URL.
    std::string createDatabase(const std::string& name) {
        std::string output;
        if (run({std::string(kBin) + "/psql", "-h", "127.0.0.1", "-p", std::to_string(port_), "-U",
                 "vibrelle", "-d", "postgres", "-v", "ON_ERROR_STOP=1", "-c", "CREATE DATABASE " + name},
                output) != 0) {
            throw std::runtime_error("cannot create database " + name + ":\n" + output);
        }
        return "postgresql://vibrelle@127.0.0.1:" + std::to_string(port_) + "/" + name;
    }

private:
    std::string data() const { return dir_.file("data"); }
    int run(std::vector<std::string> argv, std::string& output) {
        argv.insert(argv.begin(), asUser_.begin(), asUser_.end());
        return runCommand(argv, output);
    }

    TempDir dir_;
    std::vector<std::string> asUser_;
    int port_ = 0;
};

// One HTTP exchange with the target sent exactly as given (no encoding by the client).
struct Reply {
    int status = 0; // 0: no reply
    std::string body;
    httplib::Headers headers;
};

inline Reply request(int port, const std::string& method, const std::string& target,
                     const std::string& body = "", const httplib::Headers& headers = {}) {
    httplib::Client client("127.0.0.1", port);
    client.set_url_encode(false);
    client.set_connection_timeout(10);
    client.set_read_timeout(10);
    client.set_write_timeout(10);
    httplib::Request req;
    req.method = method;
    req.path = target;
    req.headers = headers;
    req.body = body;
    if (method == "POST" && !req.has_header("Content-Type")) {
        req.set_header("Content-Type", "application/json");
    }
    httplib::Response res;
    httplib::Error error = httplib::Error::Success;
    Reply reply;
    if (client.send(req, res, error)) {
        reply.status = res.status;
        reply.body = res.body;
        reply.headers = res.headers;
    }
    return reply;
}

} // namespace servertest
