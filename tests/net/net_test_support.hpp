#pragma once
// Helpers of the network tests: a cpp-httplib server on a loopback port, a port that refuses
// connections, a temporary folder, captured log lines, and a gate that holds a server handler.
#include "temp_dir.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline bool contains(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
}

inline void writeTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::string readTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Decodes %XX escapes; `ok` turns false on a malformed escape.
inline std::string percentDecode(const std::string& text, bool& ok) {
    auto hexValue = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            ok = false;
            return decoded;
        }
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            ok = false;
            return decoded;
        }
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return decoded;
}

// Standard output and standard error of the process while it exists (or until finish()).
// Nothing that reports a test failure may run while a capture is open: its message would be
// captured with the rest.
class LogCapture {
public:
    LogCapture() {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    ~LogCapture() { finish(); }
    void finish() {
        if (!finished_) {
            out_ = testing::internal::GetCapturedStdout();
            err_ = testing::internal::GetCapturedStderr();
            finished_ = true;
        }
    }
    const std::string& out() {
        finish();
        return out_;
    }
    const std::string& err() {
        finish();
        return err_;
    }

private:
    bool finished_ = false;
    std::string out_;
    std::string err_;
};

// What a test server was asked.
struct SeenRequest {
    std::string method;
    std::string target; // as sent, before any decoding
    std::string body;
    std::vector<std::string> contentTypes;
};

// A cpp-httplib server (plain or TLS) on 127.0.0.1 and a free port, listening on its own thread.
class TestServer {
public:
    TestServer() : server_(std::make_unique<httplib::Server>()) { configure(); }
    TestServer(const std::string& certificateFile, const std::string& keyFile)
        : server_(std::make_unique<httplib::SSLServer>(certificateFile.c_str(), keyFile.c_str())) {
        configure();
    }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;
    ~TestServer() { stop(); }

    httplib::Server& http() { return *server_; }

    // Registers handlers before start(); `reply` fills the response and sees the recorded request.
    void get(const std::string& pattern, httplib::Server::Handler reply) {
        server_->Get(pattern, [this, reply](const httplib::Request& req, httplib::Response& res) {
            record(req);
            reply(req, res);
        });
    }
    void post(const std::string& pattern, httplib::Server::Handler reply) {
        server_->Post(pattern, [this, reply](const httplib::Request& req, httplib::Response& res) {
            record(req);
            reply(req, res);
        });
    }

    void start() {
        if (!server_->is_valid()) {
            throw std::runtime_error("test server is not valid");
        }
        port_ = server_->bind_to_any_port("127.0.0.1");
        if (port_ <= 0) {
            throw std::runtime_error("test server could not bind a loopback port");
        }
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        // stop() only works once the accept loop runs, so wait for it (bounded poll).
        const auto start = Clock::now();
        while (!server_->is_running()) {
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

    int port() const { return port_; }
    std::string url(const std::string& path, const std::string& scheme = "http") const {
        return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
    }

    std::vector<SeenRequest> seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    void configure() {
        server_->set_keep_alive_timeout(1);
        server_->set_read_timeout(5);
        server_->set_write_timeout(5);
    }
    void record(const httplib::Request& req) {
        SeenRequest request{req.method, req.target, req.body, {}};
        for (std::size_t i = 0; i < req.get_header_value_count("Content-Type"); ++i) {
            request.contentTypes.push_back(req.get_header_value("Content-Type", i));
        }
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(std::move(request));
    }

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
    ClosedPort() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("could not reserve a loopback port");
        }
        port_ = ntohs(address.sin_port);
    }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    ~ClosedPort() { close(fd_); }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Holds server handlers until the test releases them; a handler never waits longer than
// `kHoldLimit`, so a failing test cannot hang the server's shut-down.
class Hold {
public:
    static constexpr std::chrono::seconds kHoldLimit{20};

    // Called by a handler: note the arrival, then wait for release (or `pause`, whichever comes
    // first). True when released.
    bool arriveAndWait(std::chrono::milliseconds pause = kHoldLimit) {
        std::unique_lock<std::mutex> lock(mutex_);
        ++arrivals_;
        changed_.notify_all();
        return changed_.wait_for(lock, pause, [this] { return released_; });
    }
    bool waitForArrival(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return arrivals_ > 0; });
    }
    void release() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int arrivals_ = 0;
    bool released_ = false;
};

// Sets (or with nullptr unsets) an environment variable and puts the old value back. Only while
// no other thread of the test runs.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            hadOld_ = true;
            old_ = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        if (hadOld_) {
            setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }

private:
    std::string name_;
    bool hadOld_ = false;
    std::string old_;
};

} // namespace nettest
