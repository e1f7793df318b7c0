// httpRequest and percentEncode against real cpp-httplib servers on loopback ports.
#include "base/percent_encoding.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "net_test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>

using namespace nettest;

namespace {

struct Outcome {
    bool ok = false;
    std::string body, out, err;
};

Outcome request(const std::string& url, const std::string& method = "GET",
                const HttpLimits& limits = HttpLimits{3, 6.0}, const std::string& body = "") {
    Outcome outcome;
    const Printed printed =
        printedBy([&] { outcome.ok = httpRequest(url, method, body, outcome.body, limits); });
    outcome.out = printed.out;
    outcome.err = printed.err;
    return outcome;
}

} // namespace

TEST(PercentEncode, KeepsUnreservedBytesAndEscapesEveryOtherByteInUpperCaseHex) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"AZaz09-._~", "AZaz09-._~"},
        {"a b", "a%20b"},
        {"/", "%2F"},
        {"100%", "100%25"},
        {"?#&=+", "%3F%23%26%3D%2B"},
        {"%2F", "%252F"},
        {"Zo\xC3\xAB", "Zo%C3%AB"},
        {"\xFF\x80", "%FF%80"},
        {std::string("a\0b", 3), "a%00b"},
        {"!*'();:@$,[]", "%21%2A%27%28%29%3B%3A%40%24%2C%5B%5D"}};
    for (const auto& [text, encoded] : cases) {
        EXPECT_EQ(percentEncode(text), encoded) << "text: " << text;
    }
}

TEST(HttpRequest, RefusesMalformedUrlsAndPortsWithoutConnecting) {
    for (const std::string url :
         {"", "ab", "127.0.0.1:80/api", "ftp://127.0.0.1/file", "HTTP//127.0.0.1/", "http://127.0.0.1:0/",
          "http://127.0.0.1:65536/", "http://127.0.0.1:-1/", "http://127.0.0.1:+80/",
          "http://127.0.0.1:http/", "http://127.0.0.1:/", "http://127.0.0.1:99999999999999999999/",
          "http://:8080/", "http:///path"}) {
        const Outcome outcome = request(url);
        EXPECT_FALSE(outcome.ok) << url;
        EXPECT_PRED2(contains, outcome.err, "Invalid URL format: " + url + "\n") << url;
    }
}

TEST(HttpRequest, SendsGetAndJsonPostOnThePathAsWrittenAndRefusesOtherMethods) {
    TestServer server;
    server.on("GET", ".*", answer(200, "got", "text/plain"));
    server.on("POST", ".*", answer(200, "{\"success\":true}"));
    server.start();
    const Outcome root = request(server.url(""));
    const Outcome got = request(server.url("/api/player/a%20b/c?x=1"));
    const Outcome posted = request(server.url("/post"), "POST", HttpLimits{3, 6.0}, "{\"levels\":[]}");
    EXPECT_TRUE(root.ok && got.ok && posted.ok); // each body tells which handler answered
    EXPECT_EQ(got.body, "got");
    EXPECT_EQ(posted.body, "{\"success\":true}");
    for (const std::string method : {"PUT", "DELETE", "get", ""}) {
        const Outcome outcome = request(server.url("/x"), method);
        EXPECT_FALSE(outcome.ok) << method;
        EXPECT_PRED2(contains, outcome.err, "Unsupported HTTP method: " + method + "\n");
    }

    const std::vector<SeenRequest> seen = server.seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].target, "/");
    EXPECT_EQ(seen[1].target, "/api/player/a%20b/c?x=1");
    EXPECT_TRUE(seen[1].body.empty());
    EXPECT_TRUE(seen[1].contentTypes.empty());
    EXPECT_EQ(seen[2].body, "{\"levels\":[]}");
    EXPECT_EQ(seen[2].contentTypes, std::vector<std::string>{"application/json"});
}

// A reply counts only with a 2xx status and a body within the cap, however the body is sent.
TEST(HttpRequest, AcceptsOnly2xxRepliesWithinTheCap) {
    TestServer server;
    server.on(
        "GET", R"(/(\d+)/(\d+)/(plain|chunked))", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1].str());
            auto text = std::make_shared<std::string>(std::stoul(req.matches[2].str()), 'x');
            if (req.matches[3] == "plain") {
                res.set_content(*text, "text/plain");
                return;
            }
            res.set_chunked_content_provider("text/plain", [text](std::size_t offset,
                                                                  httplib::DataSink& sink) {
                if (offset < text->size()) {
                    return sink.write(text->data() + offset, std::min<std::size_t>(7, text->size() - offset));
                }
                sink.done();
                return true;
            });
        });
    server.start();

    const std::pair<std::string, bool> cases[] = {
        {"200/4/plain", true},        {"201/4/plain", true},     {"204/0/plain", true},
        {"299/4/plain", true},        {"301/4/plain", false},    {"404/4/plain", false},
        {"503/4/plain", false},       {"200/16/plain", true},    {"200/17/plain", false},
        {"200/16/chunked", true},     {"200/17/chunked", false}, {"200/100000/plain", false},
        {"200/100000/chunked", false}};
    for (const auto& [path, ok] : cases) {
        const Outcome outcome = request(server.url("/" + path), "GET", HttpLimits{3, 6.0, 16});
        const int status = std::stoi(path);
        EXPECT_EQ(outcome.ok, ok) << path;
        EXPECT_EQ(outcome.body, ok ? std::string(std::stoul(path.substr(4)), 'x') : "") << path;
        if (!ok) {
            EXPECT_PRED2(contains, outcome.err,
                         status < 300 ? "HTTP request failed: reply longer than 16 bytes\n"
                                      : "HTTP request failed with status: " + std::to_string(status) + "\n");
        }
    }
}

// A silent peer trips the read time-out. A peer that sends a byte now and then never does; the
// overall deadline must end the request, and what arrived so far must not pass for a whole reply,
// even when the reply's end is the connection's end (the unsized reply).
TEST(HttpRequest, EndsASilentReplyAtTheTimeOutAndATricklingOneAtTheDeadline) {
    std::atomic<bool> released{false};
    TestServer server;
    server.on("GET", "/(silent|chunked|unsized)",
              [&released](const httplib::Request& req, httplib::Response& res) {
                  // A byte every 200 ms, for at most 10 s so that a missing deadline fails rather than hangs.
                  auto drip = [&released, start = Clock::now()](std::size_t, httplib::DataSink& sink) {
                      return !holdUntil(released, std::chrono::milliseconds(200)) &&
                             secondsSince(start) < 10.0 && sink.write(" ", 1);
                  };
                  if (req.matches[1] == "silent") {
                      holdUntil(released);
                  } else if (req.matches[1] == "chunked") {
                      res.set_chunked_content_provider("application/json", drip);
                  } else {
                      res.set_content_provider("application/json", drip);
                  }
              });
    server.start();

    for (const std::string kind : {"silent", "chunked", "unsized"}) {
        const auto start = Clock::now();
        const Outcome outcome = request(server.url("/" + kind), "GET",
                                        kind == "silent" ? HttpLimits{1, 30.0} : HttpLimits{5, 1.0});
        const double elapsed = secondsSince(start);
        EXPECT_FALSE(outcome.ok) << kind;
        EXPECT_TRUE(outcome.body.empty()) << kind;
        EXPECT_PRED2(contains, outcome.err, "HTTP request failed: ");
        EXPECT_GE(elapsed, 0.9) << kind;
        EXPECT_LE(elapsed, 3.0) << kind;
    }
    released = true;
}

TEST(HttpRequest, ConvertsHttpsToPlainHttpOnlyWhenInsecureModeIsExactlyOne) {
    TestServer server;
    server.on("GET", "/plain", answer(200, "plain", "text/plain"));
    server.start();
    const std::string url = server.url("/plain", "https");
    for (const char* value : {"1", "0", "true", "11", "", static_cast<const char*>(nullptr)}) {
        value != nullptr ? setenv("VIBRELLE_INSECURE_HTTP", value, 1) : unsetenv("VIBRELLE_INSECURE_HTTP");
        SCOPED_TRACE(value != nullptr ? value : "(unset)");
        const bool converts = value != nullptr && std::string(value) == "1";
        const Outcome outcome = request(url);
        EXPECT_EQ(outcome.ok, converts);
        EXPECT_EQ(outcome.body, converts ? "plain" : "");
        EXPECT_EQ(contains(outcome.out, "Converting HTTPS to HTTP for local development: " + url + "\n"),
                  converts);
    }
    EXPECT_EQ(server.seen().size(), 1u);
}

// A certificate for 127.0.0.1 made by the openssl command: refused unless it is the one trusted.
TEST(HttpsRequest, TrustsOnlyTheGivenCertificate) {
    TempDir folder;
    const std::string certificate = folder.file("cert.pem");
    const std::string key = folder.file("key.pem");
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + key + "' -out '" +
                                certificate +
                                "' -days 1 -subj /CN=localhost -addext "
                                "'subjectAltName=DNS:localhost,IP:127.0.0.1' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << "the openssl command could not make a certificate";
    TestServer server(certificate, key);
    server.on("GET", "/secure", answer(200, "secret", "text/plain"));
    server.start();

    const Outcome refused = request(server.url("/secure", "https"));
    EXPECT_FALSE(refused.ok);
    EXPECT_PRED2(contains, refused.err, "HTTP request failed: ");
    EXPECT_TRUE(server.seen().empty());

    HttpLimits trusting{3, 6.0};
    trusting.caCertificateFile = certificate;
    const Outcome trusted = request(server.url("/secure", "https"), "GET", trusting);
    EXPECT_TRUE(trusted.ok) << trusted.err;
    EXPECT_EQ(trusted.body, "secret");
    EXPECT_EQ(server.seen().size(), 1u);
}
