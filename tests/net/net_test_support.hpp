#pragma once
// Helpers of the network tests: a cpp-httplib server on a loopback port that records what it was
// asked, a port that refuses connections, captured log lines, and a gate that holds a handler.
#include "capture.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace nettest {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline bool contains(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
}

// A handler that answers `status` with `body`.
inline httplib::Server::Handler answer(int status, const std::string& body,
                                       const std::string& type = "application/json") {
    return [status, body, type](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_content(body, type);
    };
}

// What a test server was asked; the target as sent, before any decoding.
struct SeenRequest {
    std::string method, target, body;
    std::vector<std::string> contentTypes;
};

// A cpp-httplib server (plain or TLS) on 127.0.0.1 and a free port, listening on its own thread.
class TestServer {
public:
    TestServer() : server_(std::make_unique<httplib::Server>()) {}
    TestServer(const std::string& certificateFile, const std::string& keyFile)
        : server_(std::make_unique<httplib::SSLServer>(certificateFile.c_str(), keyFile.c_str())) {}
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;
    ~TestServer() { stop(); }

    // Before start(): a GET or POST handler, each request recorded before `reply` runs.
    void on(const std::string& method, const std::string& pattern, httplib::Server::Handler reply) {
        auto recorded = [this, reply](const httplib::Request& req, httplib::Response& res) {
            SeenRequest seen{req.method, req.target, req.body, {}};
            for (std::size_t i = 0; i < req.get_header_value_count("Content-Type"); ++i) {
                seen.contentTypes.push_back(req.get_header_value("Content-Type", "", i));
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back(std::move(seen));
            }
            reply(req, res);
        };
        method == "POST" ? server_->Post(pattern, recorded) : server_->Get(pattern, recorded);
    }

    void start() {
        server_->set_keep_alive_timeout(1); // stop() waits for idle keep-alive connections
        port_ = server_->bind_to_any_port("127.0.0.1");
        if (!server_->is_valid() || port_ <= 0) {
            throw std::runtime_error("test server could not bind a loopback port");
        }
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        // stop() only works once the accept loop runs.
        for (const auto start = Clock::now(); !server_->is_running();) {
            if (secondsSince(start) > 10.0) {
                throw std::runtime_error("test server did not start");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    void stop() {
        if (thread_.joinable()) {
            server_->stop();
            thread_.join();
        }
    }

    std::string url(const std::string& path, const std::string& scheme = "http") const {
        return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<SeenRequest> seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    std::vector<SeenRequest> seen_;
};

// A loopback port bound but not listening: connections to it are refused, and no other program
// can take it while this exists.
class ClosedPort {
public:
    ClosedPort() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("could not reserve a loopback port");
        }
        base_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    ~ClosedPort() { close(fd_); }
    std::string url(const std::string& path) const { return base_ + path; }

private:
    int fd_;
    std::string base_;
};

// Holds a server handler until `released` (true) or `pause` has passed (false); never longer
// than 20 s, so that a failing test cannot hang the server's shut-down.
inline bool holdUntil(const std::atomic<bool>& released,
                      std::chrono::milliseconds pause = std::chrono::seconds(20)) {
    for (const auto end = Clock::now() + pause; !released && Clock::now() < end;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return released;
}

} // namespace nettest
