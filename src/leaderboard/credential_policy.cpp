#include "leaderboard/credential_policy.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

bool isPrivateIpv4(const std::uint8_t (&b)[4]) {
    return b[0] == 127 || b[0] == 10 || (b[0] == 172 && (b[1] & 0xF0) == 16) ||
           (b[0] == 192 && b[1] == 168) || (b[0] == 169 && b[1] == 254);
}

bool isPrivateIpv6(const std::uint8_t (&b)[16]) {
    static const std::uint8_t loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const std::uint8_t mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(b, loopback, 16) == 0) {
        return true;
    }
    if (std::memcmp(b, mappedPrefix, 12) == 0) {
        const std::uint8_t v4[4] = {b[12], b[13], b[14], b[15]};
        return isPrivateIpv4(v4);
    }
    return (b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && (b[1] & 0xC0) == 0x80);
}

} // namespace

bool isPrivateNetworkAddress(const std::string& address) {
    std::uint8_t v4[4];
    if (inet_pton(AF_INET, address.c_str(), v4) == 1) {
        return isPrivateIpv4(v4);
    }
    std::uint8_t v6[16];
    return inet_pton(AF_INET6, address.c_str(), v6) == 1 && isPrivateIpv6(v6);
}

CredentialRoute credentialRoute(const std::string& host, bool tls) {
    CredentialRoute route;
    if (tls) {
        route.allowed = true;
        return route;
    }
    std::uint8_t literal[16];
    if (inet_pton(AF_INET, host.c_str(), literal) == 1 || inet_pton(AF_INET6, host.c_str(), literal) == 1) {
        route.allowed = isPrivateNetworkAddress(host);
        return route;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return route; // an unknown name: nothing to check, so nothing is sent
    }
    std::vector<std::string> addresses;
    bool allPrivate = true;
    std::string firstIpv4;
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = nullptr;
        if (at->ai_family == AF_INET) {
            raw = &reinterpret_cast<const sockaddr_in*>(at->ai_addr)->sin_addr;
        } else if (at->ai_family == AF_INET6) {
            raw = &reinterpret_cast<const sockaddr_in6*>(at->ai_addr)->sin6_addr;
        }
        if (raw == nullptr || inet_ntop(at->ai_family, raw, text, sizeof text) == nullptr ||
            !isPrivateNetworkAddress(text)) {
            allPrivate = false;
            break;
        }
        addresses.push_back(text);
        if (at->ai_family == AF_INET && firstIpv4.empty()) {
            firstIpv4 = text;
        }
    }
    freeaddrinfo(found);
    if (allPrivate && !addresses.empty()) {
        route.allowed = true;
        route.pinnedAddress = firstIpv4.empty() ? addresses.front() : firstIpv4;
    }
    return route;
}
