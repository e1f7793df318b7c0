#pragma once
// Client addresses as the server's limits see them: IPv4 and IPv6 addresses, address blocks
// (CIDR), the key an address is limited under, and the client behind trusted proxies
// (X-Forwarded-For). Pure functions, any thread.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

// An IPv4 or IPv6 address as 16 bytes in network order. An IPv4 address is kept in its
// IPv4-mapped IPv6 form (::ffff:a.b.c.d), so "192.0.2.1" and "::ffff:192.0.2.1" are one address.
struct IpAddress {
    std::array<std::uint8_t, 16> bytes{};
};

// The addresses whose first `bits` bits (of the 16-byte form) are those of `base`; an IPv4 block
// "a.b.c.d/n" is held as n + 96 bits of the mapped form.
struct AddressBlock {
    IpAddress base;
    int bits = 128;
};

// True for an IPv4 address (in its mapped form).
bool isIpv4(const IpAddress& address);

// Reads a dotted-quad IPv4 address ("192.0.2.1"; no leading zeros) or an IPv6 address in any of
// its textual forms ("2001:db8::1", "::ffff:192.0.2.1"), without brackets, port or zone. False for
// anything else.
bool parseIpAddress(const std::string& text, IpAddress& address);

// Reads "ADDR" or "ADDR/N" (N from 0 to 32 for IPv4, 0 to 128 for IPv6). False, with a message
// naming `text`, for a malformed address or length, and for an address with bits set past its
// prefix ("10.0.0.1/8": the block meant is probably 10.0.0.0/8, and guessing could trust too much).
bool parseAddressBlock(const std::string& text, AddressBlock& block, std::string& error);

// True when `address` lies in `block`, or in any of `blocks`.
bool blockContains(const AddressBlock& block, const IpAddress& address);
bool anyBlockContains(const std::vector<AddressBlock>& blocks, const IpAddress& address);

// The address as text: a dotted quad for IPv4, the compressed form for IPv6.
std::string formatAddress(const IpAddress& address);

// The key an address's requests and connections are counted under: an IPv4 address itself, an
// IPv6 address's /64 ("2001:db8:1:2::/64"), since one subscriber is usually given a whole /64.
std::string limitKey(const IpAddress& address);

// The client a request comes from. `peer` itself unless `peer` is a trusted proxy. From a trusted
// proxy, the hops of `forwardedFor` (X-Forwarded-For: addresses separated by commas, each proxy
// appending the address it was reached from) are read from the right, past trusted proxies; the
// first hop that is not one is the client, and when every hop is trusted, the leftmost is. A hop
// that is not an address ("unknown", garbage; an address with a port, "192.0.2.1:4711" or
// "[2001:db8::1]:4711", is fine) ends the walk: the client cannot be told, and the request is
// charged to the nearest proxy that passed it on (the last trusted hop read, or `peer`), never
// to a hop further left, which the client itself may have written.
IpAddress forwardedClient(const IpAddress& peer, const std::string& forwardedFor,
                          const std::vector<AddressBlock>& trustedProxies);
