#pragma once
// Where the leaderboard client may send what proves who it is: the upload token, the player key
// and a request for a new key (whose reply carries one). Over TLS anywhere; over plain HTTP only
// to this machine or the local network, where a LAN party's server lives and nobody on the way
// between can read them. Plain functions; credentialRoute may block on name resolution, so it
// belongs on a request thread, never the main one.
#include <string>

// True when `address` is an IPv4 literal (dotted quad) or an IPv6 literal (no brackets, no zone)
// in a loopback, private or link-local range: 127.0.0.0/8, 10.0.0.0/8, 172.16.0.0/12,
// 192.168.0.0/16, 169.254.0.0/16, ::1, fc00::/7, fe80::/10, and IPv4-mapped IPv6 addresses
// (::ffff:a.b.c.d) of the IPv4 ranges. False for anything else, names and malformed text
// included.
bool isPrivateNetworkAddress(const std::string& address);

// How one request may carry the credentials.
struct CredentialRoute {
    bool allowed = false;
    // For plain HTTP to a host name: the checked address the connection must use (the request is
    // pinned to it, so that a second resolution cannot send it elsewhere); "" otherwise.
    std::string pinnedAddress;
};

// The route for a request to `host` (as parseUrl gives it: no brackets) over TLS (`tls`) or plain
// HTTP (an https URL turned into plain HTTP counts as plain HTTP). TLS: allowed. Plain HTTP to an
// address literal: allowed when isPrivateNetworkAddress. Plain HTTP to a name ("localhost"
// included): resolved with the system's resolver, allowed only when it resolves and every address
// it gives passes isPrivateNetworkAddress, then pinned to the first IPv4 address among them (else
// the first address). Any thread; blocks while the name resolves.
CredentialRoute credentialRoute(const std::string& host, bool tls);
