// The client addresses a server reads from the network and its command line, on arbitrary bytes:
// an address, an address block and an X-Forwarded-For header. Nothing crashes; an address read
// back from its own text is the same address; the client found behind trusted proxies is the peer
// or one of the header's hops, never an address that appears nowhere.
#include "server/client_address.hpp"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_client_address: %s\n", what);
        __builtin_trap();
    }
}

// True when one of the header's comma-separated hops (blanks around it, "[v6]:port" and
// "v4:port" allowed) is `address`.
bool isHop(const std::string& header, const IpAddress& address) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = header.find(',', start);
        std::string hop =
            header.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        hop.erase(0, hop.find_first_not_of(" \t"));
        hop.erase(hop.find_last_not_of(" \t") + 1);
        if (!hop.empty() && hop[0] == '[') {
            hop = hop.substr(1, hop.find(']') == std::string::npos ? 0 : hop.find(']') - 1);
        } else if (hop.find(':') != std::string::npos && hop.find(':') == hop.rfind(':')) {
            hop.resize(hop.find(':'));
        }
        IpAddress parsed;
        if (parseIpAddress(hop, parsed) && parsed.bytes == address.bytes) {
            return true;
        }
        if (comma == std::string::npos) {
            return false;
        }
        start = comma + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    IpAddress address;
    if (parseIpAddress(text, address)) {
        IpAddress again;
        check(parseIpAddress(formatAddress(address), again) && again.bytes == address.bytes,
              "an address does not read back from its own text");
        check(!limitKey(address).empty(), "an address without a limit key");
    }
    AddressBlock block;
    std::string error;
    if (parseAddressBlock(text, block, error)) {
        check(block.bits >= 0 && block.bits <= 128, "a block length out of range");
        check(blockContains(block, block.base), "a block without its own base");
    } else {
        check(!error.empty(), "a block refused without a reason");
    }
    // The header behind a peer that trusts every loopback and private proxy.
    IpAddress peer;
    parseIpAddress("10.1.2.3", peer);
    std::vector<AddressBlock> trusted(2);
    parseAddressBlock("10.0.0.0/8", trusted[0], error);
    parseAddressBlock("fc00::/7", trusted[1], error);
    const IpAddress client = forwardedClient(peer, text, trusted);
    check(client.bytes == peer.bytes || isHop(text, client),
          "a client that is neither the peer nor a hop of the header");
    return 0;
}
