// Where the leaderboard credentials may go: the address rule, names resolved only for
// "localhost", and a loopback request that carries them.
#include "leaderboard/credential_policy.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "net_test_support.hpp"

#include <gtest/gtest.h>

using namespace nettest;

// Addresses inside each allowed range and at its edges, those just outside, and text that is no
// bare address (brackets, a port, a zone, a name, a shortened form).
TEST(CredentialPolicy, AllowsOnlyLoopbackPrivateAndLinkLocalAddresses) {
    for (const char* address : {"127.0.0.1", "127.255.255.254", "10.0.0.1", "10.255.255.255", "172.16.0.1",
                                "172.31.255.255", "192.168.1.20", "169.254.10.1", "::1", "fc00::1",
                                "fd12:3456::1", "fe80::1", "febf::1", "::ffff:192.168.0.1"}) {
        EXPECT_TRUE(isPrivateNetworkAddress(address)) << address;
    }
    for (const char* address :
         {"172.15.255.255", "172.32.0.1",     "192.169.0.1", "169.253.0.1", "8.8.8.8",      "0.0.0.0",
          "100.64.0.1",     "11.0.0.1",       "::",          "::2",         "fe00::1",      "fec0::1",
          "2001:db8::1",    "::ffff:8.8.8.8", "[::1]",       "localhost",   "127.0.0.1:80", "",
          "fe80::1%eth0",   "127.1"}) {
        EXPECT_FALSE(isPrivateNetworkAddress(address)) << address;
    }
}

// Only literals and "localhost" are resolved here: no test asks the network about a name.
TEST(CredentialPolicy, RoutesTlsAnywhereAndPlainHttpOnlyToCheckedAddresses) {
    const struct {
        const char* host;
        bool tls, allowed;
        const char* pinned;
    } cases[] = {
        {"scores.example", true, true, ""},
        {"8.8.8.8", true, true, ""},
        {"8.8.8.8", false, false, ""},
        {"192.168.0.7", false, true, ""},
        {"::1", false, true, ""},
        {"2001:db8::1", false, false, ""},
        {"localhost", false, true, "127.0.0.1"},
    };
    for (const auto& c : cases) {
        const CredentialRoute route = credentialRoute(c.host, c.tls);
        EXPECT_EQ(route.allowed, c.allowed) << c.host << (c.tls ? " tls" : " plain");
        EXPECT_EQ(route.pinnedAddress, c.pinned) << c.host;
    }
}

TEST(CredentialPolicy, BracketedIpv6HostsParseWithoutTheirBrackets) {
    ParsedUrl parsed;
    ASSERT_TRUE(parseUrl("http://[::1]:8420/api", parsed));
    EXPECT_EQ(parsed.host, "::1");
    EXPECT_EQ(parsed.port, 8420);
    EXPECT_EQ(parsed.path, "/api");
    ASSERT_TRUE(parseUrl("https://[fe80::1]/", parsed));
    EXPECT_EQ(parsed.host, "fe80::1");
    EXPECT_EQ(parsed.port, 443);
    // Between the brackets only an IPv6 address: a name or stray bytes there would reach the
    // resolver as a host no URL can spell.
    for (const char* bad :
         {"http://[::1/api", "http://[::1]x/api", "http://[::1]:/api", "http://[example.org]/",
          "http://[\x82[\xa2[[]", "http://[]/", "http://[127.0.0.1]/"}) {
        EXPECT_FALSE(parseUrl(bad, parsed)) << bad;
    }
}

// A request to "localhost" resolves, passes the rule and is pinned to the checked address: the
// credentials arrive; a GET without credentials never resolves anything for the rule.
TEST(CredentialPolicy, LoopbackRequestsByNameCarryTheCredentials) {
    TestServer server;
    std::mutex mutex;
    std::string seenToken;
    server.on("POST", "/up", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex);
        seenToken = req.get_header_value("X-Test-Token");
        res.set_content("{}", "application/json");
    });
    server.start();
    std::string url = server.url("/up");
    url.replace(url.find("127.0.0.1"), 9, "localhost");
    HttpCredentials credentials;
    credentials.headers.emplace_back("X-Test-Token", "s3cret");
    HttpReply reply;
    const Printed printed = printedBy([&] {
        httpExchange(url, "POST", "{}", credentials, reply, HttpLimits{3, 6.0});
    });
    EXPECT_EQ(reply.status, 200) << printed.err;
    EXPECT_TRUE(reply.credentialsSent);
    EXPECT_FALSE(contains(printed.err, "Not sending the leaderboard credentials"));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(seenToken, "s3cret");
}
