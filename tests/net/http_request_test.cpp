// httpRequest and percentEncode against real cpp-httplib servers on loopback ports.
#include "net/http_database.hpp"
#include "net_test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using namespace nettest;

namespace {

HttpLimits quickLimits() {
    HttpLimits limits;
    limits.timeoutSeconds = 3;
    limits.deadlineSeconds = 6.0;
    return limits;
}

struct Outcome {
    bool ok = false;
    std::string body;
    std::string out;
    std::string err;
};

Outcome request(const std::string& url, const std::string& method = "GET", const std::string& body = "",
                const HttpLimits& limits = quickLimits()) {
    Outcome outcome;
    LogCapture logs;
    outcome.ok = httpRequest(url, method, body, outcome.body, limits);
    outcome.out = logs.out();
    outcome.err = logs.err();
    return outcome;
}

} // namespace

TEST(PercentEncode, KeepsUnreservedBytesAndEscapesEveryOtherByteInUpperCaseHex) {
    struct Case {
        std::string text;
        std::string encoded;
    };
    const std::vector<Case> cases = {
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
        {"!*'();:@$,[]", "%21%2A%27%28%29%3B%3A%40%24%2C%5B%5D"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(percentEncode(c.text), c.encoded) << "text: " << c.text;
    }
}

TEST(HttpRequest, RefusesMalformedUrlsAndPortsWithoutConnecting) {
    const std::vector<std::string> urls = {
        "",
        "ab",
        "127.0.0.1:80/api",
        "ftp://127.0.0.1/file",
        "HTTP//127.0.0.1/",
        "http://127.0.0.1:0/",
        "http://127.0.0.1:65536/",
        "http://127.0.0.1:-1/",
        "http://127.0.0.1:+80/",
        "http://127.0.0.1:http/",
        "http://127.0.0.1:/",
        "http://127.0.0.1:99999999999999999999/",
        "http://:8080/",
        "http:///path",
    };
    for (const std::string& url : urls) {
        const Outcome outcome = request(url);
        EXPECT_FALSE(outcome.ok) << url;
        EXPECT_PRED2(contains, outcome.err, "Invalid URL format: " + url + "\n") << url;
    }
}

TEST(HttpRequest, SendsThePathAsWrittenAndSlashWhenTheUrlHasNone) {
    TestServer server;
    server.get(".*",
               [](const httplib::Request&, httplib::Response& res) { res.set_content("hi", "text/plain"); });
    server.start();
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());

    EXPECT_TRUE(request(base).ok);
    EXPECT_TRUE(request(base + "/api/player/a%20b/c?x=1").ok);
    const std::vector<SeenRequest> seen = server.seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].target, "/");
    EXPECT_EQ(seen[1].target, "/api/player/a%20b/c?x=1");
}

TEST(HttpRequest, GetSendsNoBodyAndPostSendsJsonWithOneContentType) {
    TestServer server;
    server.get("/get",
               [](const httplib::Request&, httplib::Response& res) { res.set_content("got", "text/plain"); });
    server.post("/post", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("{\"success\":true}", "application/json");
    });
    server.start();

    const Outcome got = request(server.url("/get"));
    const Outcome posted = request(server.url("/post"), "POST", "{\"levels\":[]}");
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.body, "got");
    EXPECT_TRUE(posted.ok);
    EXPECT_EQ(posted.body, "{\"success\":true}");

    const std::vector<SeenRequest> seen = server.seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].method, "GET");
    EXPECT_TRUE(seen[0].body.empty());
    EXPECT_TRUE(seen[0].contentTypes.empty());
    EXPECT_EQ(seen[1].method, "POST");
    EXPECT_EQ(seen[1].body, "{\"levels\":[]}");
    EXPECT_EQ(seen[1].contentTypes, std::vector<std::string>{"application/json"});
}

TEST(HttpRequest, RefusesMethodsOtherThanGetAndPostBeforeSendingAnything) {
    TestServer server;
    server.get(".*",
               [](const httplib::Request&, httplib::Response& res) { res.set_content("x", "text/plain"); });
    server.start();
    for (const std::string& method : std::vector<std::string>{"PUT", "DELETE", "get", ""}) {
        const Outcome outcome = request(server.url("/x"), method);
        EXPECT_FALSE(outcome.ok) << method;
        EXPECT_PRED2(contains, outcome.err, "Unsupported HTTP method: " + method + "\n");
    }
    EXPECT_TRUE(server.seen().empty());
}

TEST(HttpRequest, AcceptsOnly2xxStatuses) {
    struct Case {
        int status;
        bool ok;
    };
    const std::vector<Case> cases = {{200, true},  {201, true},  {204, true},  {299, true},
                                     {301, false}, {404, false}, {500, false}, {503, false}};
    TestServer server;
    server.get(R"(/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        res.status = std::atoi(req.matches[1].str().c_str());
        if (res.status != 204) {
            res.set_content("body", "text/plain");
        }
    });
    server.start();
    for (const Case& c : cases) {
        const Outcome outcome = request(server.url("/status/" + std::to_string(c.status)));
        EXPECT_EQ(outcome.ok, c.ok) << c.status;
        if (c.ok) {
            EXPECT_EQ(outcome.body, c.status == 204 ? "" : "body") << c.status;
        } else {
            EXPECT_TRUE(outcome.body.empty()) << c.status;
            EXPECT_PRED2(contains, outcome.err,
                         "HTTP request failed with status: " + std::to_string(c.status));
        }
    }
}

TEST(HttpRequest, FailsWithTheTransportErrorWhenNothingListens) {
    ClosedPort closed;
    const Outcome outcome = request(closed.url("/api/leaderboard"));
    EXPECT_FALSE(outcome.ok);
    EXPECT_PRED2(contains, outcome.err,
                 "HTTP request failed: " + httplib::to_string(httplib::Error::Connection) + "\n");
}

TEST(HttpRequest, RefusesRepliesLongerThanTheCap) {
    struct Case {
        std::size_t size;
        bool chunked;
        bool ok;
    };
    const std::vector<Case> cases = {{0, false, true},     {16, false, true}, {17, false, false},
                                     {16, true, true},     {17, true, false}, {100000, false, false},
                                     {100000, true, false}};
    TestServer server;
    server.get(R"(/size/(\d+)/(plain|chunked))", [](const httplib::Request& req, httplib::Response& res) {
        const auto size = static_cast<std::size_t>(std::atol(req.matches[1].str().c_str()));
        auto text = std::make_shared<std::string>(size, 'x');
        if (req.matches[2] == "plain") {
            res.set_content(*text, "text/plain");
            return;
        }
        res.set_chunked_content_provider("text/plain", [text](std::size_t offset, httplib::DataSink& sink) {
            if (offset < text->size()) {
                return sink.write(text->data() + offset, std::min<std::size_t>(7, text->size() - offset));
            }
            sink.done();
            return true;
        });
    });
    server.start();

    HttpLimits limits = quickLimits();
    limits.maxBodyBytes = 16;
    for (const Case& c : cases) {
        const std::string path = "/size/" + std::to_string(c.size) + (c.chunked ? "/chunked" : "/plain");
        const Outcome outcome = request(server.url(path), "GET", "", limits);
        EXPECT_EQ(outcome.ok, c.ok) << path;
        if (c.ok) {
            EXPECT_EQ(outcome.body, std::string(c.size, 'x')) << path;
        } else {
            EXPECT_TRUE(outcome.body.empty()) << path;
            EXPECT_PRED2(contains, outcome.err, "HTTP request failed: reply longer than 16 bytes\n");
        }
    }
}

TEST(HttpRequest, GivesUpOnASilentServerAfterTheReadTimeout) {
    auto hold = std::make_shared<Hold>();
    TestServer server;
    server.get("/silent", [hold](const httplib::Request&, httplib::Response& res) {
        hold->arriveAndWait();
        res.set_content("late", "text/plain");
    });
    server.start();

    HttpLimits limits;
    limits.timeoutSeconds = 1;
    limits.deadlineSeconds = 30.0;
    const auto start = Clock::now();
    const Outcome outcome = request(server.url("/silent"), "GET", "", limits);
    const double elapsed = secondsSince(start);
    hold->release();

    EXPECT_FALSE(outcome.ok);
    EXPECT_PRED2(contains, outcome.err, "HTTP request failed: ");
    EXPECT_LT(elapsed, 4.0);
}

// A peer that sends a byte now and then never trips the per-receive time-out; the overall
// deadline must end the request, and what arrived so far must not pass for a whole reply, even
// when the reply's end is the connection's end.
TEST(HttpRequest, EndsATricklingReplyAtTheDeadline) {
    auto hold = std::make_shared<Hold>();
    TestServer server;
    server.get(
        "/trickle/(chunked|sized|unsized)", [hold](const httplib::Request& req, httplib::Response& res) {
            // A byte every 200 ms, for at most 10 s so that a missing deadline fails rather than hangs.
            auto drip = [hold, start = Clock::now()](std::size_t, httplib::DataSink& sink) {
                if (hold->arriveAndWait(std::chrono::milliseconds(200)) || secondsSince(start) > 10.0) {
                    return false;
                }
                return sink.write(" ", 1);
            };
            if (req.matches[1] == "chunked") {
                res.set_chunked_content_provider("application/json", drip);
            } else if (req.matches[1] == "sized") {
                res.set_content_provider(1000, "application/json",
                                         [drip](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                             return drip(offset, sink);
                                         });
            } else {
                res.set_content_provider("application/json", drip);
            }
        });
    server.start();

    HttpLimits limits;
    limits.timeoutSeconds = 5;
    limits.deadlineSeconds = 1.0;
    for (const std::string& kind : std::vector<std::string>{"chunked", "sized", "unsized"}) {
        const auto start = Clock::now();
        const Outcome outcome = request(server.url("/trickle/" + kind), "GET", "", limits);
        const double elapsed = secondsSince(start);
        EXPECT_FALSE(outcome.ok) << kind;
        EXPECT_TRUE(outcome.body.empty()) << kind;
        EXPECT_PRED2(contains, outcome.err, "HTTP request failed: ");
        EXPECT_GE(elapsed, 0.9) << kind;
        EXPECT_LE(elapsed, limits.deadlineSeconds + 2.0) << kind;
    }
    hold->release();
}

TEST(HttpRequest, ConvertsHttpsToPlainHttpOnlyWhenInsecureModeIsExactlyOne) {
    TestServer server;
    server.get("/plain", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("plain", "text/plain");
    });
    server.start();
    const std::string url = server.url("/plain", "https");
    const std::string conversion = "Converting HTTPS to HTTP for local development: " + url + "\n";

    {
        ScopedEnv insecure("VIBRELLE_INSECURE_HTTP", "1");
        const Outcome outcome = request(url);
        EXPECT_TRUE(outcome.ok);
        EXPECT_EQ(outcome.body, "plain");
        EXPECT_PRED2(contains, outcome.out, conversion);
    }
    for (const char* value : {static_cast<const char*>(nullptr), "0", "true", "11", ""}) {
        ScopedEnv insecure("VIBRELLE_INSECURE_HTTP", value);
        const Outcome outcome = request(url);
        EXPECT_FALSE(outcome.ok) << (value ? value : "(unset)");
        EXPECT_FALSE(contains(outcome.out, "Converting HTTPS")) << (value ? value : "(unset)");
    }
    EXPECT_EQ(server.seen().size(), 1u);
}

// A certificate for 127.0.0.1 made for the suite by the openssl command.
class HttpsRequest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new TempDir();
        const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + keyFile() +
                                    "' -out '" + certificateFile() +
                                    "' -days 1 -subj /CN=localhost -addext "
                                    "'subjectAltName=DNS:localhost,IP:127.0.0.1' >/dev/null 2>&1";
        madeCertificate = std::system(command.c_str()) == 0;
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(madeCertificate) << "the openssl command could not make a certificate";
    }

    static std::string certificateFile() { return folder->file("cert.pem"); }
    static std::string keyFile() { return folder->file("key.pem"); }

    static TempDir* folder;
    static bool madeCertificate;
};
TempDir* HttpsRequest::folder = nullptr;
bool HttpsRequest::madeCertificate = false;

TEST_F(HttpsRequest, RefusesAServerWhoseCertificateIsNotTrusted) {
    TestServer server(certificateFile(), keyFile());
    server.get("/secure", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("secret", "text/plain");
    });
    server.start();

    const Outcome outcome = request(server.url("/secure", "https"));
    EXPECT_FALSE(outcome.ok);
    EXPECT_PRED2(contains, outcome.err, "HTTP request failed: ");
    EXPECT_TRUE(server.seen().empty());
}

TEST_F(HttpsRequest, TrustsTheGivenCertificate) {
    TestServer server(certificateFile(), keyFile());
    server.get("/secure", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("secret", "text/plain");
    });
    server.start();

    HttpLimits limits = quickLimits();
    limits.caCertificateFile = certificateFile();
    const Outcome outcome = request(server.url("/secure", "https"), "GET", "", limits);
    EXPECT_TRUE(outcome.ok) << outcome.err;
    EXPECT_EQ(outcome.body, "secret");
    EXPECT_EQ(server.seen().size(), 1u);
}
