// Where the leaderboard credentials may go: the address rule as a table, names resolved only for
// "localhost", and a loopback request that carries them.
#include "leaderboard/credential_policy.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "net_test_support.hpp"

#include <gtest/gtest.h>

using namespace nettest;

TEST(CredentialPolicy, AllowsOnlyLoopbackPrivateAndLinkLocalAddresses) {
    const std::pair<const char*, bool> cases[] = {{"127.0.0.1", true},
                                                  {"127.255.255.254", true},
                                                  {"10.0.0.1", true},
                                                  {"10.255.255.255", true},
                                                  {"172.16.0.1", true},
                                                  {"172.31.255.255", true},
                                                  {"172.15.255.255", false},
                                                  {"172.32.0.1", false},
                                                  {"192.168.1.20", true},
                                                  {"192.169.0.1", false},
                                                  {"169.254.10.1", true},
                                                  {"169.253.0.1", false},
                                                  {"8.8.8.8", false},
                                                  {"0.0.0.0", false},
                                                  {"100.64.0.1", false},
                                                  {"11.0.0.1", false},
                                                  {"::1", true},
                                                  {"::", false},
                                                  {"::2", false},
                                                  {"fc00::1", true},
                                                  {"fd12:3456::1", true},
                                                  {"fe00::1", false},
                                                  {"fe80::1", true},
                                                  {"febf::1", true},
                                                  {"fec0::1", false},
                                                  {"2001:db8::1", false},
                                                  {"::ffff:192.168.0.1", true},
                                                  {"::ffff:8.8.8.8", false},
                                                  {"[::1]", false},
                                                  {"localhost", false},
                                                  {"127.0.0.1:80", false},
                                                  {"", false},
                                                  {"fe80::1%eth0", false},
                                                  {"127.1", false}};
    for (const auto& [address, allowed] : cases) {
        EXPECT_EQ(isPrivateNetworkAddress(address), allowed) << address;
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
