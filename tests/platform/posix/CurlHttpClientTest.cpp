// The libcurl client against the fake authorization server over real loopback sockets: TLS
// with the test CA, scripted answers, and the addresses it must refuse.
#include "platform/posix/CurlHttpClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "LoopRunner.h"
#include "LoopbackPeer.h"
#include "TempDir.h"
#include "oauth/FakeAuthServer.h"
#include "platform/EventLoop.h"

namespace vantel {
namespace {

using test::FakeAnswer;
using test::FakeAuthServer;
using test::TestPki;

std::string WriteCa(const test::TempDir& dir, const TestPki& pki, const char* name = "ca.pem") {
    const auto path = dir.path() / name;
    std::ofstream(path) << pki.caPem();
    return path.string();
}

/// An environment variable set for the scope, restored after it.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

class CurlHttpClientTest : public testing::Test {
  protected:
    CurlHttpClientTest() : loop_(CreateEventLoop()), caFile_(WriteCa(dir_, pki_)) {}

    HttpResponse Post(HttpClient& client, HttpRequest request) {
        std::optional<HttpResponse> answer;
        client.PostForm(std::move(request), [&](HttpResponse r) { answer = std::move(r); });
        EXPECT_TRUE(test::RunUntil(
            *loop_, [&] { return answer.has_value(); }, 15000));
        return answer.value_or(HttpResponse{});
    }
    HttpResponse Post(const std::string& url, std::uint32_t timeoutMs = 10000) {
        CurlHttpClient client(*loop_, CurlHttpClient::Options{caFile_});
        return Post(client, HttpRequest{url, "grant_type=refresh_token&client_id=x", timeoutMs});
    }

    test::TempDir dir_;
    TestPki pki_;
    std::unique_ptr<EventLoop> loop_;
    std::string caFile_;
};

TEST_F(CurlHttpClientTest, ScriptedAnswersComeBackAsTheyWereSent) {
    struct Case {
        const char* name;
        FakeAnswer answer;
        int status;
        std::string body;
        std::uint32_t retryAfter;
    };
    const std::string big(HttpClient::kMaxBody, 'x');
    const Case cases[] = {
        {"json", {200, "{\"a\":1}"}, 200, "{\"a\":1}", 0},
        {"error", {400, "{\"error\":\"invalid_grant\"}"}, 400, "{\"error\":\"invalid_grant\"}", 0},
        {"retry after seconds", {429, "{}", "Retry-After: 7\r\n"}, 429, "{}", 7},
        {"retry after date",
         {503, "", "Retry-After: Fri, 31 Dec 2027 23:59:59 GMT\r\n"},
         503,
         "",
         0},
        {"retry after garbage", {503, "", "Retry-After: -5\r\n"}, 503, "", 0},
        {"html",
         {500, "<html>oops</html>", "", 0, false, "text/html"},
         500,
         "<html>oops</html>",
         0},
        {"redirect not followed", {302, "", "Location: https://127.0.0.1:1/token\r\n"}, 302, "", 0},
        {"exactly the largest body", {200, big}, 200, big, 0},
    };
    FakeAuthServer server(pki_);
    CurlHttpClient client(*loop_, CurlHttpClient::Options{caFile_});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.Script("/token", c.answer);
        const HttpResponse r = Post(client, HttpRequest{server.Url("/token"), "a=b", 10000});
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.body, c.body);
        EXPECT_EQ(r.retryAfterSeconds, c.retryAfter);
    }
    // The form went as a form, whole.
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, "a=b");
    EXPECT_EQ(requests[0].headers.at("content-type"), "application/x-www-form-urlencoded");
}

TEST_F(CurlHttpClientTest, BrokenAnswersAreErrorsNotBodies) {
    struct Case {
        const char* name;
        FakeAnswer answer;
        std::uint32_t timeoutMs;
        const char* errorPart;
    };
    const Case cases[] = {
        {"one byte too long",
         {200, std::string(HttpClient::kMaxBody + 1, 'x')},
         10000,
         "longer than 64 KiB"},
        {"far too long",
         {200, std::string(HttpClient::kMaxBody * 4, 'x')},
         10000,
         "longer than 64 KiB"},
        {"truncated", {200, "{\"access_token\":\"abc", "", 0, true}, 10000, "failed"},
        {"slower than the deadline", {200, "{}", "", 5000}, 300, "no answer from 127.0.0.1"},
    };
    FakeAuthServer server(pki_);
    CurlHttpClient client(*loop_, CurlHttpClient::Options{caFile_});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.Script("/token", c.answer);
        const auto start = std::chrono::steady_clock::now();
        const HttpResponse r = Post(client, HttpRequest{server.Url("/token"), "a=b", c.timeoutMs});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.body, "");
        EXPECT_NE(r.error.find(c.errorPart), std::string::npos) << r.error;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    }
}

TEST_F(CurlHttpClientTest, RefusesWhatItMustNotAsk) {
    FakeAuthServer server(pki_);
    FakeAuthServer::Options plainOptions;
    plainOptions.tls = false;
    FakeAuthServer plain(pki_, plainOptions);
    TestPki other;
    const std::string otherCa = WriteCa(dir_, other, "other.pem");
    struct Case {
        const char* name;
        std::string url;
        std::string caFile;
        const char* errorPart;  // nullptr: allowed, and answered
    };
    const Case cases[] = {
        {"a CA that did not sign the certificate", server.Url("/token"), otherCa, "not trusted"},
        {"the system's roots", server.Url("/token"), "", "not trusted"},
        {"plain http to another computer", "http://mail.example.test/token", caFile_,
         "not encrypted"},
        {"plain http by address", "http://192.0.2.1/token", caFile_, "not encrypted"},
        {"another scheme", "ftp://127.0.0.1/token", caFile_, "not an https:// address"},
        {"file", "file:///etc/passwd", caFile_, "is not"},
        {"no URL", "not a url", caFile_, "not"},
        {"plain http to this computer", plain.Url("/introspect"), caFile_, nullptr},
        {"https to this computer", server.Url("/introspect"), caFile_, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CurlHttpClient client(*loop_, CurlHttpClient::Options{c.caFile});
        const HttpResponse r = Post(client, HttpRequest{c.url, "token=x", 5000});
        if (c.errorPart == nullptr) {
            EXPECT_EQ(r.error, "");
            EXPECT_EQ(r.status, 200);
            EXPECT_EQ(r.body, "{\"active\":false}");
        } else {
            EXPECT_EQ(r.status, 0);
            EXPECT_NE(r.error.find(c.errorPart), std::string::npos) << r.error;
        }
    }
    // The refused ones never reached a server.
    EXPECT_EQ(plain.Requests().size(), 1u);
}

TEST_F(CurlHttpClientTest, TheProxyIsUsedForOthersAndNeverForThisComputer) {
    // A "proxy" that only notes the CONNECT it is asked for: nothing leaves this computer.
    test::LoopbackServer proxy(*loop_);
    proxy.onConnection = [](test::LoopbackPeer& peer) {
        peer.onData = [](test::LoopbackPeer& p) {
            if (p.received.find("\r\n\r\n") != std::string::npos) {
                p.Send("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
            }
        };
    };
    const ScopedEnvironment https("https_proxy",
                                  "http://127.0.0.1:" + std::to_string(proxy.port()));
    const ScopedEnvironment noProxy("no_proxy", "");
    const HttpResponse remote = Post("https://token.example.test/token", 5000);
    EXPECT_EQ(remote.status, 0);
    ASSERT_EQ(proxy.connections.size(), 1u);
    EXPECT_EQ(proxy.connections[0]->received.rfind("CONNECT token.example.test:443 ", 0), 0u)
        << proxy.connections[0]->received;

    FakeAuthServer server(pki_);
    const HttpResponse local = Post(server.Url("/introspect"));
    EXPECT_EQ(local.status, 200) << local.error;
    EXPECT_EQ(proxy.connections.size(), 1u);
}

TEST_F(CurlHttpClientTest, DestroyedClientCutsItsRequestShortAndNeverAnswers) {
    FakeAuthServer server(pki_);
    server.Script("/token", FakeAnswer{200, "{}", "", 8000});
    bool answered = false;
    const auto start = std::chrono::steady_clock::now();
    {
        CurlHttpClient client(*loop_, CurlHttpClient::Options{caFile_});
        client.PostForm(HttpRequest{server.Url("/token"), "a=b", 10000},
                        [&](HttpResponse) { answered = true; });
        client.PostForm(HttpRequest{server.Url("/token"), "a=c", 10000},
                        [&](HttpResponse) { answered = true; });
        test::RunUntil(
            *loop_, [&] { return !server.Requests().empty(); }, 5000);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // Whatever was posted before the client went is dropped on the loop.
    test::RunUntil(
        *loop_, [] { return false; }, 200);
    EXPECT_FALSE(answered);
    EXPECT_EQ(server.Requests().size(), 1u);
}

}  // namespace
}  // namespace vantel
