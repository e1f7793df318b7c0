#pragma once
// Hostile clients for the server's tests and benchmark: raw TCP connections from a chosen
// loopback address (Linux routes all of 127.0.0.0/8 to loopback), bytes sent and read against a
// deadline, and the resident memory of the server process.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;
    ~RawConnection() { close(fd_); }

    bool connected() const { return connected_; }

    // Sends `data` until all is sent, the server closes or stops reading, or `deadline`; the
    // bytes sent.
    std::size_t send(const std::string& data, SteadyClock::time_point deadline) {
        std::size_t sent = 0;
        while (sent < data.size() && wait(POLLOUT, deadline)) {
            const ssize_t n =
                ::send(fd_, data.data() + sent, std::min<std::size_t>(data.size() - sent, 1 << 16),
                       MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
        return sent;
    }

    // What arrives until the server closes (or resets) the connection, `until` has arrived
    // (when not empty) or `deadline` passes.
    std::string receive(SteadyClock::time_point deadline, const std::string& until = "") {
        std::string text;
        char buffer[65536];
        while ((until.empty() || text.find(until) == std::string::npos) && wait(POLLIN, deadline)) {
            const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0) {
                closedByServer_ = true;
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    // Whether the last receive ended with the server closing the connection.
    bool closedByServer() const { return closedByServer_; }

private:
    // Past the deadline, still true for what is ready already.
    bool wait(short events, SteadyClock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
        pollfd entry{fd_, events, 0};
        return poll(&entry, 1, static_cast<int>(std::max<long long>(0, left))) > 0;
    }

    int fd_;
    bool connected_ = false;
    bool closedByServer_ = false;
};

// The status of the first reply in `text` ("HTTP/1.1 503 ..."), 0 for none.
inline int statusOf(const std::string& text) {
    return text.rfind("HTTP/1.", 0) == 0 && text.size() > 12 ? std::atoi(text.c_str() + 9) : 0;
}

// The process id of this process's child running `program`, -1 when there is none.
inline pid_t childRunning(const std::string& program) {
    DIR* proc = opendir("/proc");
    pid_t found = -1;
    for (dirent* entry = proc ? readdir(proc) : nullptr; entry && found < 0; entry = readdir(proc)) {
        const std::string name = entry->d_name;
        std::ifstream stat("/proc/" + name + "/stat");
        std::string line;
        if (name.find_first_not_of("0123456789") != std::string::npos || !std::getline(stat, line)) {
            continue;
        }
        // "pid (command) state ppid ...": the command may hold spaces and parentheses.
        std::istringstream rest(line.substr(line.rfind(')') + 1));
        std::string state;
        pid_t parent = 0;
        char exe[PATH_MAX] = {};
        if (rest >> state >> parent && parent == getpid() &&
            readlink(("/proc/" + name + "/exe").c_str(), exe, sizeof exe - 1) > 0 &&
            std::filesystem::canonical(program) == exe) {
            found = std::atoi(name.c_str());
        }
    }
    if (proc) {
        closedir(proc);
    }
    return found;
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
