// The server's pure parts: routing on the raw target, the name checks, client addresses, the rate
// limiter's buckets and the refusal log (on a clock the test sets) and the command line.
#include "leaderboard/leaderboard_names.hpp"
#include "server/client_address.hpp"
#include "server/leaderboard_server.hpp"
#include "server/rate_limiter.hpp"
#include "server/request_target.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

TEST(ServerUnits, RoutesSplitTheRawTargetBeforeDecoding) {
    struct Case {
        const char* target;
        const char* prefix;
        bool ok;
        RouteKind kind;
        const char* level;
        const char* player;
    };
    const Case cases[] = {
        {"/", "/api", true, RouteKind::Page, "", ""},
        {"/api/leaderboard", "/api", true, RouteKind::Leaderboard, "", ""},
        {"/api/leaderboard?x=1#y", "/api", true, RouteKind::Leaderboard, "", ""},
        {"/leaderboard", "", true, RouteKind::Leaderboard, "", ""},
        {"/v1/scores/leaderboard", "/v1/scores", true, RouteKind::Leaderboard, "", ""},
        {"/api/player/A%2FB/%25%20x", "/api", true, RouteKind::PlayerScore, "A/B", "% x"},
        {"/api/player/a+b/%c3%a9", "/api", true, RouteKind::PlayerScore, "a+b", "\xC3\xA9"},
        {"/api/player/\xC3\x9C/\xE6\x97\xA5", "/api", true, RouteKind::PlayerScore, "\xC3\x9C",
         "\xE6\x97\xA5"},
        {"/api/player//x", "/api", true, RouteKind::PlayerScore, "", "x"},
        {"/api/replay?level=a&player=b", "/api", true, RouteKind::Replay, "", ""},
        {"/api/level/ab%31", "/api", true, RouteKind::Level, "ab1", ""},
        {"/api/level/a/b", "/api", true, RouteKind::NotFound, "", ""},
        {"/api/player/A/B/C", "/api", true, RouteKind::NotFound, "", ""},
        {"/api/leaderboard/", "/api", true, RouteKind::NotFound, "", ""},
        {"/api%2Fleaderboard", "/api", true, RouteKind::NotFound, "", ""},
        {"/apix/leaderboard", "/api", true, RouteKind::NotFound, "", ""},
        {"/api/player/%4", "/api", false, RouteKind::NotFound, "", ""},
        {"/api/player/%zz/a", "/api", false, RouteKind::NotFound, "", ""},
        {"http://host/api/leaderboard", "/api", false, RouteKind::NotFound, "", ""},
        {"", "/api", false, RouteKind::NotFound, "", ""},
    };
    for (const Case& c : cases) {
        Route route;
        std::string error;
        EXPECT_EQ(routeTarget(c.target, c.prefix, route, error), c.ok) << c.target;
        EXPECT_EQ(route.kind, c.kind) << c.target;
        EXPECT_EQ(route.level, c.level) << c.target;
        EXPECT_EQ(route.player, c.player) << c.target;
        EXPECT_EQ(error.empty(), c.ok) << c.target;
    }
}

TEST(ServerUnits, NamesMustBeShortWellFormedUtf8WithoutControls) {
    const std::pair<std::string, const char*> cases[] = {
        {"ann", ""},
        {"Zo\xC3\xAB \xE6\x97\xA5\xF0\x9F\x8E\xB5", ""},
        {std::string(64, 'x'), ""},
        {"", "is empty"},
        {std::string(65, 'x'), "is longer than 64 bytes"},
        {std::string(63, 'x') + "\xC3\xA9", "is longer than 64 bytes"},
        {"\xC0\xAF", "is not valid UTF-8"},         // overlong "/"
        {"\xE0\x80\xAF", "is not valid UTF-8"},     // overlong "/"
        {"\xED\xA0\x80", "is not valid UTF-8"},     // a surrogate
        {"\xF4\x90\x80\x80", "is not valid UTF-8"}, // past U+10FFFF
        {"\xE6\x97", "is not valid UTF-8"},         // cut short
        {"\x80", "is not valid UTF-8"},
        {"\xFF", "is not valid UTF-8"},
        {std::string("a\0b", 3), "contains a control character"},
        {"a\x7F", "contains a control character"},
        {"a\xC2\x85", "contains a control character"}, // U+0085, a C1 control
    };
    for (const auto& [name, reason] : cases) {
        std::string actual;
        EXPECT_EQ(checkLeaderboardName(name, actual), std::string(reason).empty()) << name;
        EXPECT_EQ(actual, reason) << name;
    }
}

TEST(ServerUnits, PlayerNamesRefuseFormatAndUnassignedCharactersAndFoldForComparison) {
    const std::pair<std::string, const char*> checks[] = {
        {"Ann", ""},
        {"A\xCC\x8Ann", ""}, // A + combining ring above
        {"a\xE2\x80\x8B"
         "b",
         "contains a format character"},                       // zero-width space
        {"\xE2\x80\xAEnimda", "contains a format character"},  // right-to-left override
        {"x\xEF\xBB\xBF", "contains a format character"},      // byte-order mark
        {"\xCD\xB8", "contains an unassigned code point"},     // U+0378, a gap in Greek
        {"\xEF\xBF\xBF", "contains an unassigned code point"}, // U+FFFF, a noncharacter
        {"\xFF", "is not valid UTF-8"},
    };
    for (const auto& [name, reason] : checks) {
        std::string actual;
        EXPECT_EQ(checkPlayerName(name, actual), std::string(reason).empty()) << name;
        EXPECT_EQ(actual, reason) << name;
    }
    // One name however it is cased or composed; different names stay different.
    const std::string ann = foldPlayerName("ann");
    EXPECT_EQ(foldPlayerName("Ann"), ann);
    EXPECT_EQ(foldPlayerName("ANN"), ann);
    EXPECT_EQ(foldPlayerName("\xC3\x85nn"), foldPlayerName("A\xCC\x8Ann")); // Ånn, composed or not
    EXPECT_EQ(foldPlayerName("\xC3\x85NN"), foldPlayerName("\xC3\xA5nn"));
    EXPECT_EQ(foldPlayerName("Stra\xC3\x9F"
                             "e"),
              foldPlayerName("STRASSE")); // ß folds to ss
    EXPECT_NE(foldPlayerName("\xC3\x85nn"), ann);
    EXPECT_NE(foldPlayerName("Ann "), ann);
}

TEST(ServerUnits, RateLimiterAllowsABurstThenRefillsPerAddress) {
    RateLimiter limiter;
    limiter.rate = 4;
    const auto start = RateLimiter::Clock::now();
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(allowRequest(limiter, "10.0.0.1", start));
    }
    EXPECT_FALSE(allowRequest(limiter, "10.0.0.1", start));
    EXPECT_TRUE(allowRequest(limiter, "10.0.0.2", start));
    EXPECT_FALSE(allowRequest(limiter, "10.0.0.1", start + std::chrono::milliseconds(200)));
    EXPECT_TRUE(allowRequest(limiter, "10.0.0.1", start + std::chrono::milliseconds(260)));
    EXPECT_FALSE(allowRequest(limiter, "10.0.0.1", start + std::chrono::milliseconds(260)));
    // A long pause refills to the burst size, no further.
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(allowRequest(limiter, "10.0.0.1", start + std::chrono::seconds(60)));
    }
    EXPECT_FALSE(allowRequest(limiter, "10.0.0.1", start + std::chrono::seconds(60)));
}

TEST(ServerUnits, RateLimiterAdmitsNewcomersOnceAFullTableHasRefilled) {
    RateLimiter limiter;
    limiter.rate = 2;
    const auto start = RateLimiter::Clock::now();
    for (std::size_t i = 0; i < kMaxRateLimitedAddresses; ++i) {
        ASSERT_TRUE(allowRequest(limiter, "10." + std::to_string(i), start));
    }
    EXPECT_FALSE(allowRequest(limiter, "newcomer", start + std::chrono::milliseconds(100)));
    EXPECT_TRUE(allowRequest(limiter, "newcomer", start + std::chrono::milliseconds(600)));
}

TEST(ServerUnits, RefusalsAreLoggedAtMostOnceASecondPerAddress) {
    RefusalLog log;
    const auto start = RefusalLog::Clock::now();
    const auto at = [&](int ms) { return start + std::chrono::milliseconds(ms); };
    // (address, time, logged now, count on that line)
    const std::tuple<const char*, int, bool, std::size_t> steps[] = {
        {"a", 0, true, 1},    {"a", 10, false, 0},   {"b", 20, true, 1},   {"a", 999, false, 0},
        {"a", 1000, true, 3}, {"a", 1500, false, 0}, {"a", 5000, true, 2}, {"b", 5000, true, 1},
    };
    for (const auto& [address, ms, logged, count] : steps) {
        std::size_t actual = 0;
        EXPECT_EQ(noteRefusal(log, address, at(ms), actual), logged) << address << " at " << ms;
        EXPECT_EQ(actual, count) << address << " at " << ms;
    }
}

TEST(ServerUnits, AddressesParseAndAreKeyedPerIpv6Slash64) {
    // (text, limit key; "" when it is not an address)
    const std::pair<const char*, const char*> addresses[] = {
        {"192.0.2.1", "192.0.2.1"},
        {"::ffff:192.0.2.1", "192.0.2.1"},
        {"2001:DB8:0:0:1::7", "2001:db8::/64"},
        {"::1", "::/64"},
        {"192.0.2.01", ""},
        {"256.0.0.1", ""},
        {"[::1]", ""},
        {"fe80::1%eth0", ""},
        {"unknown", ""},
    };
    for (const auto& [text, key] : addresses) {
        IpAddress address;
        EXPECT_EQ(parseIpAddress(text, address), *key != '\0') << text;
        EXPECT_EQ(*key != '\0' ? limitKey(address) : "", key) << text;
    }
    // (block, address, inside)
    const std::tuple<const char*, const char*, bool> blocks[] = {
        {"10.0.0.0/8", "10.255.0.1", true},
        {"10.0.0.0/8", "11.0.0.1", false},
        {"10.1.2.3", "10.1.2.3", true},
        {"10.1.2.3", "10.1.2.4", false},
        {"0.0.0.0/0", "2001:db8::1", false},
        {"192.0.2.0/25", "192.0.2.128", false},
        {"2001:db8::/32", "2001:db8:ff::1", true},
        {"2001:db8::/32", "2001:db9::1", false},
        {"::ffff:0:0/96", "198.51.100.1", true},
        {"::/0", "198.51.100.1", true},
    };
    for (const auto& [text, member, inside] : blocks) {
        AddressBlock block;
        IpAddress address;
        std::string error;
        ASSERT_TRUE(parseAddressBlock(text, block, error)) << text << ": " << error;
        ASSERT_TRUE(parseIpAddress(member, address)) << member;
        EXPECT_EQ(blockContains(block, address), inside) << text << " / " << member;
    }
    for (const char* bad :
         {"10.0.0.1/8", "10.0.0.0/33", "10.0.0.0/", "10.0.0.0/-1", "2001:db8::/129", "host/8", "/8"}) {
        AddressBlock block;
        std::string error;
        EXPECT_FALSE(parseAddressBlock(bad, block, error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << bad << ": " << error;
    }
}

TEST(ServerUnits, ForwardedForIsWalkedFromTheRightPastTrustedProxies) {
    std::vector<AddressBlock> trusted(2);
    std::string error;
    ASSERT_TRUE(parseAddressBlock("10.0.0.0/8", trusted[0], error) &&
                parseAddressBlock("2001:db8::1", trusted[1], error));
    // (peer, X-Forwarded-For, client)
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"203.0.113.1", "198.51.100.1", "203.0.113.1"}, // an untrusted peer's header is ignored
        {"10.0.0.1", "", "10.0.0.1"},
        {"10.0.0.1", "198.51.100.1", "198.51.100.1"},
        {"::ffff:10.0.0.1", " 198.51.100.1 ", "198.51.100.1"},
        {"10.0.0.1", "192.0.2.66, 198.51.100.1", "198.51.100.1"},
        {"10.0.0.1", "192.0.2.66, 198.51.100.1, 10.9.9.9", "198.51.100.1"},
        {"2001:db8::1", "192.0.2.66,198.51.100.1:4711", "198.51.100.1"},
        {"10.0.0.1", "[2001:db8::7]:443", "2001:db8::7"},
        {"10.0.0.1", "10.0.0.3, 10.0.0.2", "10.0.0.3"}, // all trusted: the leftmost
        {"10.0.0.1", "198.51.100.1, unknown", "10.0.0.1"},
        {"10.0.0.1", "198.51.100.1, garbage, 10.0.0.2", "10.0.0.2"},
        {"10.0.0.1", "198.51.100.1,", "10.0.0.1"},
        {"10.0.0.1", ",10.0.0.2", "10.0.0.2"},
        {"10.0.0.1", "[198.51.100.1]", "10.0.0.1"},
        {"10.0.0.1", "2001:db8::9:80", "2001:db8::9:80"},
    };
    for (const auto& [peer, header, client] : cases) {
        IpAddress peerAddress;
        ASSERT_TRUE(parseIpAddress(peer, peerAddress)) << peer;
        EXPECT_EQ(formatAddress(forwardedClient(peerAddress, header, trusted)), client)
            << peer << " / " << header;
    }
}

TEST(ServerUnits, CommandLineOptions) {
    auto parse = [](std::vector<const char*> args, ServerOptions& options, std::string& error) {
        args.insert(args.begin(), "vibrelle-leaderboard-server");
        return parseServerOptions(static_cast<int>(args.size()), args.data(), options, error);
    };
    ServerOptions options;
    std::string error;
    ASSERT_TRUE(
        parse({"--port", "9000", "--bind=0.0.0.0", "--database", "postgresql://u@h/db", "--prefix", "/v1/",
               "--upload-token", "abc", "--rate-limit", "0", "--max-entries", "5", "--threads", "4"},
              options, error))
        << error;
    EXPECT_EQ(std::tie(options.port, options.bind, options.database, options.prefix, options.uploadToken,
                       options.rateLimit, options.maxEntries, options.threads),
              std::make_tuple(9000, "0.0.0.0", "postgresql://u@h/db", "/v1", "abc", 0, 5u, 4));
    EXPECT_TRUE(parse({"--help"}, options, error) && options.help);
    EXPECT_EQ(options.maxConnectionsPerAddress, 16u);
    ASSERT_TRUE(parse({"--max-connections-per-address", "3", "--trusted-proxy", "10.0.0.0/8",
                       "--trusted-proxy", "2001:db8::/48"},
                      options, error));
    EXPECT_EQ(std::make_tuple(options.maxConnectionsPerAddress, options.trustedProxies.size(),
                              options.warnings.size()),
              std::make_tuple(3u, 2u, 0u));
    EXPECT_TRUE(parse({"--upload-token", "abc"}, options, error) && options.warnings.size() == 1); // in `ps`
    EXPECT_TRUE(parse({"--threads", "16"}, options, error) && options.warnings.size() == 1); // 16 per address

    // The token file: its first line, trimmed; nothing else on it, nothing outside visible ASCII.
    TempDir folder;
    const std::string path = folder.file("token");
    const std::pair<std::string, const char*> files[] = {
        {"s3cret", "s3cret"},
        {"  s3cret\t\r\nnext", "s3cret"},
        {"", ""},
        {" \r\n", ""},
        {"a b", ""},
        {"caf\xC3\xA9", ""},
        {"\ns3cret", ""},
        {std::string(5000, 'x'), ""},
    };
    for (const auto& [text, token] : files) {
        std::ofstream(path, std::ios::binary) << text;
        error.clear();
        EXPECT_EQ(parse({"--upload-token-file", path.c_str()}, options, error), *token != '\0') << text;
        EXPECT_EQ(std::make_tuple(options.uploadToken, error.empty()), std::make_tuple(token, *token != '\0'))
            << text;
    }
    EXPECT_FALSE(parse({"--upload-token", "a", "--upload-token-file", path.c_str()}, options, error));

    EXPECT_FALSE(parse({"--trusted-proxy", "10.0.0.1/8"}, options, error));
    EXPECT_FALSE(parse({"--upload-token-file", "/"}, options, error));
    EXPECT_FALSE(parse({"--max-connections-per-address", "x"}, options, error));
    const std::vector<std::vector<const char*>> bad = {
        {"--port", "65536"},    {"--port", "-1"},    {"--port"},           {"--rate-limit", "x"},
        {"--max-entries", "0"}, {"--prefix", "api"}, {"--prefix", "/a b"}, {"--upload-token", "a b"},
        {"--database="},        {"--verbose"},
    };
    for (const auto& args : bad) {
        error.clear();
        EXPECT_FALSE(parse(args, options, error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}
