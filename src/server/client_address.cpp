#include "server/client_address.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace {

constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

bool allDigits(const std::string& text, std::size_t maxLength) {
    if (text.empty() || text.size() > maxLength) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// One X-Forwarded-For hop: an address, optionally with a port ("192.0.2.1:80", "[2001:db8::1]:80"
// or "[2001:db8::1]"), as some proxies write them.
bool parseHop(const std::string& hop, IpAddress& address) {
    if (!hop.empty() && hop.front() == '[') {
        const std::size_t close = hop.find(']');
        if (close == std::string::npos) {
            return false;
        }
        const std::string rest = hop.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || !allDigits(rest.substr(1), 5))) {
            return false;
        }
        const std::string inside = hop.substr(1, close - 1);
        IpAddress parsed;
        if (inside.find(':') == std::string::npos || !parseIpAddress(inside, parsed)) {
            return false;
        }
        address = parsed;
        return true;
    }
    const std::size_t colon = hop.find(':');
    if (colon != std::string::npos && hop.find(':', colon + 1) == std::string::npos) {
        IpAddress parsed; // "a.b.c.d:port"
        if (!allDigits(hop.substr(colon + 1), 5) || !parseIpAddress(hop.substr(0, colon), parsed)) {
            return false;
        }
        address = parsed;
        return true;
    }
    return parseIpAddress(hop, address);
}

std::string trimmed(const std::string& text, std::size_t begin, std::size_t end) {
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) {
        ++begin;
    }
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) {
        --end;
    }
    return text.substr(begin, end - begin);
}

} // namespace

bool isIpv4(const IpAddress& address) {
    return std::memcmp(address.bytes.data(), kMappedPrefix, sizeof kMappedPrefix) == 0;
}

bool parseIpAddress(const std::string& text, IpAddress& address) {
    if (text.find('\0') != std::string::npos) {
        return false;
    }
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        std::memcpy(address.bytes.data(), kMappedPrefix, sizeof kMappedPrefix);
        std::memcpy(address.bytes.data() + 12, &v4, 4);
        return true;
    }
    in6_addr v6{};
    if (text.find(':') != std::string::npos && inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
        std::memcpy(address.bytes.data(), &v6, 16);
        return true;
    }
    return false;
}

bool parseAddressBlock(const std::string& text, AddressBlock& block, std::string& error) {
    const std::size_t slash = text.find('/');
    IpAddress base;
    if (!parseIpAddress(text.substr(0, slash), base)) {
        error = "\"" + text + "\" is not an IPv4 or IPv6 address or address block";
        return false;
    }
    // "::ffff:0:0/96" is an IPv6 block (of every IPv4 address): the notation decides.
    const int widest = text.substr(0, slash).find(':') == std::string::npos ? 32 : 128;
    int length = widest;
    if (slash != std::string::npos) {
        const std::string digits = text.substr(slash + 1);
        if (!allDigits(digits, 3) || std::stoi(digits) > widest) {
            error = "\"" + text + "\" needs a prefix length from 0 to " + std::to_string(widest);
            return false;
        }
        length = std::stoi(digits);
    }
    const int bits = length + (widest == 32 ? 96 : 0);
    for (int bit = bits; bit < 128; ++bit) {
        if (base.bytes[static_cast<std::size_t>(bit / 8)] & (0x80 >> (bit % 8))) {
            error = "\"" + text + "\" has address bits set past its /" + std::to_string(length) + " prefix";
            return false;
        }
    }
    block.base = base;
    block.bits = bits;
    return true;
}

bool blockContains(const AddressBlock& block, const IpAddress& address) {
    for (int bit = 0; bit < block.bits; ++bit) {
        const auto byte = static_cast<std::size_t>(bit / 8);
        const int mask = 0x80 >> (bit % 8);
        if ((block.base.bytes[byte] & mask) != (address.bytes[byte] & mask)) {
            return false;
        }
    }
    return true;
}

bool anyBlockContains(const std::vector<AddressBlock>& blocks, const IpAddress& address) {
    for (const AddressBlock& block : blocks) {
        if (blockContains(block, address)) {
            return true;
        }
    }
    return false;
}

std::string formatAddress(const IpAddress& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (isIpv4(address)) {
        inet_ntop(AF_INET, address.bytes.data() + 12, text, sizeof text);
    } else {
        inet_ntop(AF_INET6, address.bytes.data(), text, sizeof text);
    }
    return text;
}

std::string limitKey(const IpAddress& address) {
    if (isIpv4(address)) {
        return formatAddress(address);
    }
    IpAddress network = address;
    std::memset(network.bytes.data() + 8, 0, 8);
    return formatAddress(network) + "/64";
}

IpAddress forwardedClient(const IpAddress& peer, const std::string& forwardedFor,
                          const std::vector<AddressBlock>& trustedProxies) {
    if (!anyBlockContains(trustedProxies, peer)) {
        return peer;
    }
    IpAddress nearest = peer;
    if (trimmed(forwardedFor, 0, forwardedFor.size()).empty()) {
        return nearest; // no header: the proxy's own request
    }
    for (std::size_t end = forwardedFor.size();;) {
        const std::size_t comma = end == 0 ? std::string::npos : forwardedFor.rfind(',', end - 1);
        const std::size_t begin = comma == std::string::npos ? 0 : comma + 1;
        IpAddress hop;
        if (!parseHop(trimmed(forwardedFor, begin, end), hop)) {
            return nearest;
        }
        if (!anyBlockContains(trustedProxies, hop)) {
            return hop;
        }
        nearest = hop;
        if (comma == std::string::npos) {
            return nearest; // every hop trusted: the leftmost
        }
        end = comma;
    }
}
