// The sign-in's loopback listener over real sockets on 127.0.0.1 and ::1.
#include "platform/LoopbackRedirectListener.h"

#include <gtest/gtest.h>

#include "LoopRunner.h"
#include "LoopbackPeer.h"

namespace vantel {
namespace {

using Verdict = LoopbackRedirectListener::Verdict;

class LoopbackRedirectListenerTest : public testing::Test {
  protected:
    LoopbackRedirectListenerTest() : loop_(CreateEventLoop()), listener_(*loop_) {}

    void Start(std::uint32_t deadlineMs = 20000, std::uint16_t firstPort = 0) {
        std::string error;
        ASSERT_TRUE(listener_.Start(
            "/callback", deadlineMs,
            [this](const std::string& target) {
                targets_.push_back(target);
                if (target.find("state=good") == std::string::npos) {
                    return LoopbackRedirectListener::Reply{Verdict::NotTheAnswer,
                                                           "wrong state <script>"};
                }
                return LoopbackRedirectListener::Reply{Verdict::Answer, ""};
            },
            [this] { ++timeOuts_; }, error, firstPort))
            << error;
    }
    /// Sends `request` and gives what came back before the listener closed.
    std::string Exchange(const std::string& request, bool ipv6 = false) {
        test::LoopbackPeer peer(*loop_);
        EXPECT_TRUE(peer.Connect(listener_.port(), ipv6));
        peer.Send(request);
        EXPECT_TRUE(test::RunUntil(
            *loop_, [&] { return peer.closed; }, 15000));
        return peer.received;
    }

    std::unique_ptr<EventLoop> loop_;
    LoopbackRedirectListener listener_;
    std::vector<std::string> targets_;
    int timeOuts_ = 0;
};

TEST_F(LoopbackRedirectListenerTest, AnswersEachRequestAndTakesOnlyTheRightOne) {
    Start();
    struct Case {
        const char* name;
        std::string request;
        const char* statusLine;
        const char* bodyPart;
        bool stillWaiting;
    };
    const Case cases[] = {
        {"favicon", "GET /favicon.ico HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 404", "Nothing",
         true},
        {"another path", "GET /other?state=good HTTP/1.1\r\n\r\n", "HTTP/1.1 404", "Nothing", true},
        {"post", "POST /callback?state=good HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405",
         "Only", true},
        {"no version", "GET /callback?state=good\r\n\r\n", "HTTP/1.1 400", "no request", true},
        {"garbage", "\x16\x03\x01\x02\x01\r\n\r\n", "HTTP/1.1 400", "no request", true},
        {"wrong state, escaped", "GET /callback?code=c&state=bad HTTP/1.1\r\n\r\n", "HTTP/1.1 400",
         "wrong state &lt;script&gt;", true},
        {"bare newlines", "GET /callback?code=c&state=bad HTTP/1.0\n\n", "HTTP/1.1 400",
         "wrong state", true},
        {"the answer", "GET /callback?code=c&state=good HTTP/1.1\r\nHost: x\r\n\r\n",
         "HTTP/1.1 200", "you can close this tab", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string reply = Exchange(c.request);
        EXPECT_EQ(reply.rfind(c.statusLine, 0), 0u) << reply;
        EXPECT_NE(reply.find("Connection: close\r\n"), std::string::npos);
        EXPECT_NE(reply.find(c.bodyPart), std::string::npos) << reply;
        EXPECT_EQ(listener_.waiting(), c.stillWaiting);
    }
    EXPECT_EQ(targets_,
              (std::vector<std::string>{"/callback?code=c&state=bad", "/callback?code=c&state=bad",
                                        "/callback?code=c&state=good"}));
    // Once answered it listens no more: a second GET finds nobody.
    test::LoopbackPeer late(*loop_);
    late.Connect(listener_.port());
    test::RunUntil(
        *loop_, [&] { return late.closed || late.connectError != 0; }, 5000);
    EXPECT_FALSE(late.connected && !late.closed);
    EXPECT_EQ(targets_.size(), 3u);
    EXPECT_EQ(timeOuts_, 0);
}

TEST_F(LoopbackRedirectListenerTest, TheBrowserMayComeOverIpv6) {
    Start();
    if (!listener_.ipv6()) {
        GTEST_SKIP() << "no IPv6 on loopback here";
    }
    const std::string reply = Exchange("GET /callback?state=good HTTP/1.1\r\n\r\n", true);
    EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply;
}

TEST_F(LoopbackRedirectListenerTest, APortTakenOnIpv6OnlyIsGivenUpForAnother) {
    test::LoopbackServer taken(*loop_, "::1");
    if (!taken.listening()) {
        GTEST_SKIP() << "no IPv6 on loopback here";
    }
    Start(20000, taken.port());
    EXPECT_NE(listener_.port(), taken.port());
    EXPECT_TRUE(listener_.ipv6());
    EXPECT_EQ(Exchange("GET /callback?state=good HTTP/1.1\r\n\r\n", true).rfind("HTTP/1.1 200", 0),
              0u);
}

TEST_F(LoopbackRedirectListenerTest, OversizedHeadsAndSilentPeersAreLetGo) {
    Start();
    const std::string huge =
        "GET /callback?state=good HTTP/1.1\r\nX: " + std::string(9000, 'a') + "\r\n\r\n";
    const std::string reply = Exchange(huge);
    EXPECT_EQ(reply.rfind("HTTP/1.1 431", 0), 0u) << reply.substr(0, 100);
    EXPECT_TRUE(targets_.empty());
    EXPECT_TRUE(listener_.waiting());
    // A request cut in the middle is not taken for one.
    test::LoopbackPeer half(*loop_);
    ASSERT_TRUE(half.Connect(listener_.port()));
    half.Send("GET /callback?state=good HTTP/1.1\r\nHost:");
    half.ShutDownSend();
    EXPECT_TRUE(test::RunUntil(
        *loop_, [&] { return half.closed; }, 5000));
    EXPECT_EQ(half.received, "");
    EXPECT_TRUE(targets_.empty());
}

TEST_F(LoopbackRedirectListenerTest, TheDeadlineEndsTheWait) {
    Start(300);
    EXPECT_TRUE(test::RunUntil(
        *loop_, [&] { return timeOuts_ == 1; }, 5000));
    EXPECT_FALSE(listener_.waiting());
    test::RunUntil(
        *loop_, [] { return false; }, 100);
    EXPECT_EQ(timeOuts_, 1);
    EXPECT_TRUE(targets_.empty());
}

}  // namespace
}  // namespace vantel
