#include "server/connection_stream.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// poll() for `events` for up to `timeout`; true when they came.
bool waitFor(socket_t socket, short events, std::chrono::microseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd entry{socket, events, 0};
        const int ready = poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0;
    }
}

} // namespace

ConnectionStream::ConnectionStream(socket_t sock, std::chrono::microseconds readTimeout,
                                   std::chrono::microseconds writeTimeout, std::string remoteAddress,
                                   int remotePort, std::string localAddress, int localPort)
    : socket_(sock), readTimeout_(readTimeout), writeTimeout_(writeTimeout),
      remoteAddress_(std::move(remoteAddress)), remotePort_(remotePort),
      localAddress_(std::move(localAddress)), localPort_(localPort) {}

bool ConnectionStream::waitForRequest(std::chrono::seconds idle, const std::atomic<socket_t>& listening) {
    if (is_readable()) {
        return true;
    }
    const auto end = std::chrono::steady_clock::now() + idle;
    while (listening != INVALID_SOCKET) {
        if (waitFor(socket_, POLLIN, std::chrono::milliseconds(50))) {
            return true; // data, or the peer's close, which the next read reports
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
    }
    return false;
}

bool ConnectionStream::is_readable() const { return bufferStart_ < bufferEnd_; }

bool ConnectionStream::wait_readable() const {
    return is_readable() || waitFor(socket_, POLLIN, readTimeout_);
}

bool ConnectionStream::wait_writable() const { return waitFor(socket_, POLLOUT, writeTimeout_); }

bool ConnectionStream::is_peer_alive() const {
    pollfd entry{socket_, POLLIN, 0};
    if (poll(&entry, 1, 0) <= 0) {
        return true; // nothing to read: no close either
    }
    char byte = 0;
    return recv(socket_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

ssize_t ConnectionStream::read(char* ptr, size_t size) {
    if (!is_readable()) {
        if (!wait_readable()) {
            error_ = httplib::Error::Timeout;
            return -1;
        }
        // Large reads (bodies) go straight to the caller; small ones (the library reads request
        // lines a byte at a time) through the buffer.
        const bool direct = size >= buffer_.size();
        ssize_t length = 0;
        do {
            length = recv(socket_, direct ? ptr : buffer_.data(), direct ? size : buffer_.size(), 0);
        } while (length < 0 && errno == EINTR);
        if (length <= 0) {
            error_ = length == 0 ? httplib::Error::ConnectionClosed : httplib::Error::Read;
            return length;
        }
        if (direct) {
            return length;
        }
        bufferStart_ = 0;
        bufferEnd_ = static_cast<std::size_t>(length);
    }
    const std::size_t taken = std::min(size, bufferEnd_ - bufferStart_);
    std::memcpy(ptr, buffer_.data() + bufferStart_, taken);
    bufferStart_ += taken;
    return static_cast<ssize_t>(taken);
}

ssize_t ConnectionStream::write(const char* ptr, size_t size) {
    if (!wait_writable()) {
        return -1;
    }
    ssize_t length = 0;
    do {
        length = send(socket_, ptr, size, MSG_NOSIGNAL);
    } while (length < 0 && errno == EINTR);
    return length;
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
    ip = remoteAddress_;
    port = remotePort_;
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
    ip = localAddress_;
    port = localPort_;
}

socket_t ConnectionStream::socket() const { return socket_; }

time_t ConnectionStream::duration() const {
    return static_cast<time_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
            .count());
}

void ConnectionStream::set_read_timeout(time_t sec, time_t usec) {
    readTimeout_ = std::chrono::seconds(sec) + std::chrono::microseconds(usec);
}
