#pragma once
// Hostile clients for the server's tests and benchmark: raw TCP connections from a chosen
// loopback address (Linux routes all of 127.0.0.0/8 to loopback), bytes sent and read against a
// deadline, and the resident memory of a process.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

namespace servertest {

using SteadyClock = std::chrono::steady_clock;

// A connection to 127.0.0.1:`port` from `source`; closed when destroyed.
class RawConnection {
public:
    RawConnection(int port, const char* source = "127.0.0.1") : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, source, &address.sin_addr);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;
    ~RawConnection() { close(fd_); }

    // Sends `data` until all is sent, the server closes or stops reading, or `deadline`; the
    // bytes sent.
    std::size_t send(const std::string& data, SteadyClock::time_point deadline) {
        std::size_t sent = 0;
        for (ssize_t n = 0; sent < data.size() && wait(POLLOUT, deadline);
             sent += static_cast<std::size_t>(n)) {
            n = ::send(fd_, data.data() + sent, std::min<std::size_t>(data.size() - sent, 1 << 16),
                       MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n <= 0) {
                break;
            }
        }
        return sent;
    }

    // What arrives until the server closes (or resets) the connection, `until` has arrived
    // (when not empty) or `deadline` passes; `closed` tells whether the server closed it.
    std::string receive(SteadyClock::time_point deadline, const std::string& until = "") {
        std::string text;
        char buffer[65536];
        while ((until.empty() || text.find(until) == std::string::npos) && wait(POLLIN, deadline)) {
            const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0) {
                closed = true;
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    bool closed = false;

private:
    // Past the deadline, still true for what is ready already.
    bool wait(short events, SteadyClock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        pollfd entry{fd_, events, 0};
        return poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count()))) > 0;
    }

    int fd_;
};

// The status of the reply at the start of `text` ("HTTP/1.1 503 ..."), 0 for none.
inline int statusOf(const std::string& text) {
    return text.rfind("HTTP/1.", 0) == 0 && text.size() > 12 ? std::atoi(text.c_str() + 9) : 0;
}

// The resident memory of process `pid` in kB: now ("VmRSS:") or at its peak ("VmHWM:"); -1 when
// it cannot be read.
inline long residentKb(pid_t pid, const std::string& field = "VmRSS:") {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + field.size());
        }
    }
    return -1;
}

} // namespace servertest
