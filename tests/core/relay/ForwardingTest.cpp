// A relay without a trace moves a retrieved message's body on without reading it where the
// system can: what the client gets must be exactly what a relay that reads would send.
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "core/config/StoredKludges.h"
#include "core/relay/RelayFixture.h"

namespace vantel {
namespace {

using test::LoopbackPeer;
using test::LoopbackServer;

/// A body no header rule can match, with every byte value in it.
std::string Body(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        body[i] = static_cast<char>((i * 131 + i / 4093) & 0xff);
    }
    return body;
}

/// The fixture's loop with a second relay that has no trace: only that one forwards.
class ForwardingTest : public test::RelayFixture {
  protected:
    void SetUp() override {
#ifdef SIGPIPE
        // As the daemon has it: forwarding is only used where SIGPIPE is ignored.
        previous_ = std::signal(SIGPIPE, SIG_IGN);
#endif
    }
    void TearDown() override {
#ifdef SIGPIPE
        std::signal(SIGPIPE, previous_);
#endif
    }

    /// A POP3 server whose RETR sends `message` (kept by the caller; and then ends the
    /// connection, with `endAfterMessage`), on a relayed port that rewrites X-Mailer.
    std::uint16_t RelayPop3(LoopbackServer& server, const std::string& message,
                            bool endAfterMessage = false) {
        server.onConnection = [&message, endAfterMessage](LoopbackPeer& peer) {
            peer.Send("+OK ready\r\n");
            peer.onData = [&message, endAfterMessage,
                           seen = std::size_t{0}](LoopbackPeer& p) mutable {
                for (std::size_t end; (end = p.received.find("\r\n", seen)) != std::string::npos;
                     seen = end + 2) {
                    const std::string command = p.received.substr(seen, end - seen);
                    if (command == "RETR 1") {
                        p.Send("+OK message follows\r\n" + message + ".\r\n");
                        if (endAfterMessage) {
                            p.ShutDownSend();
                        }
                    } else if (command == "QUIT") {
                        p.Send("+OK bye\r\n");
                        p.ShutDownSend();
                    }
                }
            };
        };
        RelaySettings& settings = untraced_.settings();
        settings.Kludges = PairKludges({"1 X-Mailer:"}, {"0 Vantel"});
        const std::uint16_t port = test::FreePort(*loop_);
        settings.ServerList.push_back(Entry(ServerType::Pop3, port, server));
        untraced_.engine().StartRelay();
        return port;
    }
    /// A client that asks for the message once greeted, and reads `bytes` a millisecond.
    std::unique_ptr<LoopbackPeer> Retriever(std::uint16_t port, std::size_t bytes) {
        auto client = Client(port);
        client->ReadSlowly(bytes, 1);
        client->onData = [](LoopbackPeer& c) {
            if (c.received == "+OK ready\r\n") {
                c.Send("RETR 1\r\n");
            }
        };
        return client;
    }
    RelayHost untraced_{*loop_, notifier_, nullptr, observer_, 7};
#ifdef SIGPIPE
    void (*previous_)(int) = SIG_DFL;
#endif
};

TEST_F(ForwardingTest, ASlowClientGetsTheRewrittenHeaderTheWholeBodyAndThenTheNextReply) {
    const std::string body = Body(12 << 20);
    const std::string message = "Subject: big\r\nX-Mailer: Kestrel 3.2\r\n\r\n" + body + "\r\n";
    LoopbackServer server(*loop_);
    const std::uint16_t port = RelayPop3(server, message);
    // Slower than the server: the relay's side of the client's connection fills up, so what
    // it cannot take at once must wait, in order, for room.
    const auto peer = Retriever(port, 48 * 1024);
    LoopbackPeer& client = *peer;
    const std::string expected =
        "+OK ready\r\n+OK message follows\r\nSubject: big\r\n"
        "X-Mailer:  Vantel\r\n\r\n" +
        body + "\r\n.\r\n";
    client.onData = [&](LoopbackPeer& c) {
        if (c.received == "+OK ready\r\n") {
            c.Send("RETR 1\r\n");
        } else if (c.received.size() == expected.size()) {
            c.Send("QUIT\r\n");
        }
    };
    ASSERT_TRUE(Run([&] { return client.closed; }, 60000))
        << client.received.size() << " of " << expected.size() + 9 << " bytes";
    ASSERT_EQ(client.received.size(), expected.size() + 9);
    EXPECT_TRUE(client.received.compare(0, expected.size(), expected) == 0)
        << "the message arrived changed";
    EXPECT_EQ(client.received.substr(expected.size()), "+OK bye\r\n");
    client.Close();
    EXPECT_TRUE(Run([&] { return untraced_.engine().SessionCount() == 0; }));
    EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(ForwardingTest, AClientThatLeavesInTheMiddleOfABodyEndsItsSessionAlone) {
    const std::string message = "Subject: big\r\n\r\n" + Body(32 << 20) + "\r\n";
    LoopbackServer server(*loop_);
    const std::uint16_t port = RelayPop3(server, message);
    const auto leaving = Retriever(port, 64 * 1024);
    leaving->onData = [](LoopbackPeer& c) {
        if (c.received == "+OK ready\r\n") {
            c.Send("RETR 1\r\n");
        } else if (c.received.size() > (1 << 20)) {
            c.Close();  // with unread bytes: the relay's next send meets a reset
        }
    };
    ASSERT_TRUE(Run([&] { return untraced_.engine().SessionCount() == 0; }, 30000));

    // The relay goes on serving.
    const auto next = Client(port);
    next->onData = [](LoopbackPeer& c) {
        if (c.received == "+OK ready\r\n") {
            c.Send("QUIT\r\n");
        }
    };
    ASSERT_TRUE(Run([&] { return next->closed; }));
    EXPECT_EQ(next->received, "+OK ready\r\n+OK bye\r\n");
}

TEST_F(ForwardingTest, AServerThatEndsRightAfterTheBodyHasItDeliveredBeforeTheEnd) {
    const std::string body = Body(6 << 20);
    LoopbackServer server(*loop_);
    const std::string message = "Subject: x\r\n\r\n" + body;
    const auto client = Retriever(RelayPop3(server, message, true), 64 * 1024);
    ASSERT_TRUE(Run([&] { return client->closed; }, 30000));
    EXPECT_EQ(client->received,
              "+OK ready\r\n+OK message follows\r\nSubject: x\r\n\r\n" + body + ".\r\n");
}

TEST_F(ForwardingTest, StopInTheMiddleOfABodyDeliversEveryByteMoved) {
    const std::string body = Body(48 << 20);
    LoopbackServer server(*loop_);
    const std::string message = "Subject: x\r\n\r\n" + body;
    const auto client = Retriever(RelayPop3(server, message), 64 * 1024);
    ASSERT_TRUE(Run([&] { return client->received.size() > (4 << 20); }, 30000));
    bool stopped = false;
    untraced_.Stop([&] { stopped = true; });
    ASSERT_TRUE(Run([&] { return stopped && client->closed; }, 20000));
    const std::string expected = "+OK ready\r\n+OK message follows\r\nSubject: x\r\n\r\n" + body;
    // Everything read from the server reached the client; the client's RETR was read too.
    EXPECT_EQ(client->received.size() + 8, untraced_.engine().BytesRead());
    EXPECT_LT(client->received.size(), expected.size());
    EXPECT_TRUE(expected.compare(0, client->received.size(), client->received) == 0);
}

TEST_F(ForwardingTest, AResetInTheMiddleOfAMovedBodyResetsTheClientAndOneAfterTheGoodbyeDoesNot) {
    const std::string message = "Subject: x\r\n\r\n" + Body(6 << 20) + "\r\n.\r\n";
    std::vector<std::unique_ptr<LoopbackPeer>> clients;  // kept: their read timers may be due
    for (const bool whole : {false, true}) {
        SCOPED_TRACE(whole ? "reset after the goodbye" : "reset mid-body");
        LoopbackServer server(*loop_);
        server.onConnection = [&](LoopbackPeer& peer) {
            peer.Send("+OK ready\r\n");
            peer.onData = [&](LoopbackPeer& p) {
                if (p.received == "RETR 1\r\n") {
                    p.Send("+OK\r\n" + message);
                    if (!whole) {
                        p.Reset();  // at once: what the system has not sent yet is dropped
                    }
                } else if (p.received == "RETR 1\r\nQUIT\r\n") {
                    p.Send("+OK bye\r\n");
                    p.Reset();
                }
            };
        };
        const std::uint16_t port = test::FreePort(*loop_);
        untraced_.settings().ServerList = {Entry(ServerType::Pop3, port, server)};
        untraced_.engine().StartRelay();
        const std::string answer = "+OK ready\r\n+OK\r\n" + message;
        clients.push_back(Retriever(port, 256 * 1024));
        LoopbackPeer* client = clients.back().get();
        client->onData = [&](LoopbackPeer& c) {
            if (c.received == "+OK ready\r\n") {
                c.Send("RETR 1\r\n");
            } else if (c.received == answer) {
                c.Send("QUIT\r\n");
            }
        };
        ASSERT_TRUE(Run([&] { return client->closed; }, 30000)) << client->received.size();
        if (whole || test::kResetsReported) {
            EXPECT_EQ(client->broken, !whole);
        }
        if (whole) {
            EXPECT_EQ(client->received, answer + "+OK bye\r\n");
        } else {
            EXPECT_LT(client->received.size(), answer.size());
            EXPECT_TRUE(answer.compare(0, client->received.size(), client->received) == 0);
        }
        client->Close();
        ASSERT_TRUE(Run([&] { return untraced_.engine().SessionCount() == 0; }));
    }
}

}  // namespace
}  // namespace vantel
