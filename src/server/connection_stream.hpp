#pragma once
// An httplib::Stream over one accepted TCP socket, for the server's own connection loop
// (LeaderboardHttpServer). Unlike the library's, one stream lasts the whole connection: what it
// read ahead of one request (a pipelined request) is still there for the next. Every read and
// write waits at most its time-out. Used by one worker thread; does not own the socket.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

class ConnectionStream final : public httplib::Stream {
public:
    // `readTimeout` and `writeTimeout` bound each wait for the socket; the addresses are what
    // get_remote_ip_and_port and get_local_ip_and_port report.
    ConnectionStream(socket_t sock, std::chrono::microseconds readTimeout,
                     std::chrono::microseconds writeTimeout, std::string remoteAddress, int remotePort,
                     std::string localAddress, int localPort);

    // Waits up to `idle` for the next request's first byte; false on time-out, on the peer
    // closing, or once `listening` is no longer a socket (the server stops), checked every 50 ms.
    bool waitForRequest(std::chrono::seconds idle, const std::atomic<socket_t>& listening);

    bool is_readable() const override;
    bool wait_readable() const override;
    bool wait_writable() const override;
    bool is_peer_alive() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override;
    time_t duration() const override; // milliseconds since the stream was made
    void set_read_timeout(time_t sec, time_t usec = 0) override;

private:
    socket_t socket_;
    std::chrono::microseconds readTimeout_;
    std::chrono::microseconds writeTimeout_;
    std::string remoteAddress_;
    int remotePort_;
    std::string localAddress_;
    int localPort_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::vector<char> buffer_ = std::vector<char>(4096);
    std::size_t bufferStart_ = 0;
    std::size_t bufferEnd_ = 0;
};
