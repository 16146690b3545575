// Token requests through WinHTTP against scripted servers on this computer: what is sent, what
// comes back, and every way an answer can fail to come.
#include "platform/win32/WinHttpClient.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "LoopRunner.h"
#include "LoopbackPeer.h"
#include "platform/win32/TlsTestServers.h"
#include "platform/win32/Win32EventLoop.h"

namespace vantel {
namespace {

/// A server on the test's loop that answers a request with `reply` once the whole request is
/// in, then ends its side; with an empty `reply` it says nothing and holds the connection.
class ScriptedServer {
  public:
    ScriptedServer(EventLoop& loop, std::string reply) : server_(loop) {
        server_.onConnection = [reply](test::LoopbackPeer& peer) {
            peer.onData = [reply, sent = false](test::LoopbackPeer& p) mutable {
                const std::size_t end = p.received.find("\r\n\r\n");
                const std::size_t length = p.received.find("Content-Length: ");
                if (sent || reply.empty() || end == std::string::npos ||
                    length == std::string::npos ||
                    p.received.size() < end + 4 + std::stoul(p.received.substr(length + 16))) {
                    return;
                }
                sent = true;
                p.Send(reply);
                p.ShutDownSend();
            };
        };
    }

    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(server_.port()) + path;
    }
    /// The request as received.
    std::string request() const {
        return server_.connections.empty() ? std::string() : server_.connections[0]->received;
    }

  private:
    test::LoopbackServer server_;
};

std::string Answer(const std::string& status, const std::string& headers, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

class WinHttpClientTest : public testing::Test {
  protected:
    HttpResponse Post(const std::string& url, std::uint32_t timeoutMs = 10000) {
        std::optional<HttpResponse> answer;
        http_.PostForm({url, "grant_type=refresh_token&refresh_token=r%2B1", timeoutMs},
                       [&](HttpResponse response) { answer = std::move(response); });
        EXPECT_TRUE(test::RunUntil(
            loop_, [&] { return answer.has_value(); }, 20000));
        return answer.value_or(HttpResponse{});
    }

    Win32EventLoop loop_;
    WinHttpClient http_{loop_};
};

TEST_F(WinHttpClientTest, PostsTheFormAndReadsEveryKindOfAnswer) {
    struct Case {
        const char* name;
        std::string reply;
        int status;
        std::string body;
        std::uint32_t retryAfter;
        const char* error;  // a part of the error; nullptr: an answer came
    };
    const std::string json = "{\"access_token\":\"a\",\"expires_in\":3600}";
    const Case cases[] = {
        {"tokens", Answer("200 OK", "Content-Type: application/json\r\n", json), 200, json, 0,
         nullptr},
        {"busy", Answer("503 Service Unavailable", "Retry-After: 7\r\n", "{}"), 503, "{}", 7,
         nullptr},
        {"a date is no delay", Answer("429 Too Many", "Retry-After: Fri, 11 Dec 2026\r\n", ""), 429,
         "", 0, nullptr},
        {"redirects are not followed", Answer("302 Found", "Location: http://x.test/\r\n", ""), 302,
         "", 0, nullptr},
        {"too long", Answer("200 OK", "", std::string(HttpClient::kMaxBody + 1, 'x')), 0, "", 0,
         "is longer than 64 KiB"},
        {"closed without answer", "\r\n", 0, "", 0, "failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(loop_, c.reply);
        const HttpResponse response = Post(server.Url("/token?tenant=x"));
        EXPECT_EQ(response.status, c.status) << response.error;
        EXPECT_EQ(response.body, c.body);
        EXPECT_EQ(response.retryAfterSeconds, c.retryAfter);
        if (c.error != nullptr) {
            EXPECT_NE(response.error.find(c.error), std::string::npos) << response.error;
        } else {
            EXPECT_EQ(response.error, "");
        }
        EXPECT_EQ(server.request().rfind("POST /token?tenant=x HTTP/1.1\r\n", 0), 0u)
            << server.request();
        EXPECT_NE(server.request().find("Content-Type: application/x-www-form-urlencoded\r\n"),
                  std::string::npos);
        EXPECT_NE(server.request().find("\r\n\r\ngrant_type=refresh_token&refresh_token=r%2B1"),
                  std::string::npos);
    }
}

TEST_F(WinHttpClientTest, AnswersThatNeverComeAreToldAndNothingUnsafeIsAsked) {
    {
        ScriptedServer silent(loop_, "");
        const HttpResponse response = Post(silent.Url("/token"), 1500);
        EXPECT_EQ(response.status, 0);
        EXPECT_EQ(response.error, "no answer from 127.0.0.1 within 2 s");
    }
    const struct {
        std::string url;
        const char* error;
    } refused[] = {
        {"http://mail.example.org/token", "is not encrypted (http://)"},
        {"ftp://127.0.0.1/token", "is not an https:// address"},
        {"not a url", "is not a valid URL"},
        {"http://127.0.0.1:1/token", "cannot connect to 127.0.0.1"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.url);
        const HttpResponse response = Post(c.url, 5000);
        EXPECT_EQ(response.status, 0);
        EXPECT_NE(response.error.find(c.error), std::string::npos) << response.error;
    }

    // A certificate no root of this system vouches for is never trusted.
    test::TlsTestServers servers;
    std::string why;
    if (!servers.Load(why)) {
        GTEST_SKIP() << why;
    }
    const HttpResponse untrusted =
        Post("https://127.0.0.1:" + std::to_string(servers.Port("trusted")) + "/token", 5000);
    EXPECT_EQ(untrusted.status, 0);
    EXPECT_NE(untrusted.error.find("is not trusted"), std::string::npos) << untrusted.error;
}

TEST_F(WinHttpClientTest, ARequestUnderWayEndsWithTheClientAndIsNeverAnswered) {
    ScriptedServer silent(loop_, "");
    bool answered = false;
    {
        Win32EventLoop loop;
        auto http = std::make_unique<WinHttpClient>(loop);
        http->PostForm({silent.Url("/token"), "x=1", 60000},
                       [&](HttpResponse) { answered = true; });
        Sleep(300);  // the request is on the wire
        const ULONGLONG before = GetTickCount64();
        http.reset();  // cuts it short instead of waiting the minute out
        EXPECT_LT(GetTickCount64() - before, 10000u);
        test::RunUntil(
            loop, [] { return false; }, 200);
    }
    EXPECT_FALSE(answered);
}

}  // namespace
}  // namespace vantel
