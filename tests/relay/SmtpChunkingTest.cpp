// SMTP sessions with a server that offers CHUNKING, and clients that send BDAT regardless:
// the relay rewrites headers, which a counted chunk cannot take.
#include <gtest/gtest.h>

#include "relay/RelayFixture.h"

namespace vantel {
namespace {

using test::LoopbackPeer;
using test::LoopbackServer;

class SmtpChunkingTest : public test::RelayFixture {
  protected:
    /// An entry of `type` on a fresh port, whose X-Mailer lines a kludge changes.
    std::uint16_t RelayTo(const LoopbackServer& server, ServerType type = ServerType::Smtp) {
        const std::uint16_t port = test::FreePort(*loop_);
        settings_.DefaultPort = port;
        settings_.ServerList = {Entry(type, port, server)};
        settings_.Kludges = {"0 X-Mailer:"};
        settings_.Subst = {"0 Vantel"};
        Engine().StartRelay();
        return port;
    }
    /// A connected client and the server's end of its session, after the greeting.
    LoopbackPeer& Greeted(LoopbackServer& server, std::unique_ptr<LoopbackPeer>& client,
                          std::uint16_t port) {
        server.onConnection = [](LoopbackPeer& p) { p.Send("220 mx\r\n"); };
        client = Client(port);
        EXPECT_TRUE(Run([&] { return client->received == "220 mx\r\n"; }));
        return *server.connections.at(0);
    }
    /// Lets the relay read what was sent so far before more comes.
    void Pause() {
        Run([] { return false; }, 2);
    }
    /// Sends `text` in two writes cut at `cut`.
    void SendCut(LoopbackPeer& peer, const std::string& text, std::size_t cut) {
        peer.SetNoDelay();
        peer.Send(text.substr(0, cut));
        Pause();
        peer.Send(text.substr(cut));
    }
    bool Traced(std::string_view text) const {
        for (const std::string& write : trace_.writes) {
            if (write.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(SmtpChunkingTest, TheEhloAnswerLosesChunkingWhereverItIsCut) {
    LoopbackServer server(*loop_);
    std::unique_ptr<LoopbackPeer> client;
    LoopbackPeer& mx = Greeted(server, client, RelayTo(server));
    const struct {
        std::string answer;
        std::string expected;
    } answers[] = {
        {"250-mx\r\n250-PIPELINING\r\n250-CHUNKING\r\n250 SIZE 1000\r\n",
         "250-mx\r\n250-PIPELINING\r\n250 SIZE 1000\r\n"},
        {"250-mx\r\n250-8BITMIME\r\n250-BINARYMIME\r\n250 chunking\r\n",
         "250-mx\r\n250 8BITMIME\r\n"},
    };
    std::string sent;
    std::string expected = client->received;
    for (const auto& answer : answers) {
        for (std::size_t cut = 1; cut < answer.answer.size(); ++cut) {
            client->Send("EHLO me\r\n");
            sent += "EHLO me\r\n";
            ASSERT_TRUE(Run([&] { return mx.received == sent; }));
            SendCut(mx, answer.answer, cut);
            expected += answer.expected;
            ASSERT_TRUE(Run([&] { return client->received.size() >= expected.size(); }))
                << "cut at " << cut;
            ASSERT_EQ(client->received, expected) << "cut at " << cut;
        }
    }
    // The trace shows what the client got.
    EXPECT_TRUE(Traced("250 8BITMIME"));
    EXPECT_FALSE(Traced("CHUNKING"));
    EXPECT_FALSE(Traced("BINARYMIME"));

    // Replies to other commands pass as they are.
    client->Send("NOOP\r\n");
    ASSERT_TRUE(Run([&] { return mx.received.size() > sent.size(); }));
    mx.Send("250-CHUNKING\r\n250 CHUNKING\r\n");
    expected += "250-CHUNKING\r\n250 CHUNKING\r\n";
    ASSERT_TRUE(Run([&] { return client->received.size() >= expected.size(); }));
    EXPECT_EQ(client->received, expected);
}

TEST_F(SmtpChunkingTest, OtherEntriesPassTheAnswerUnchanged) {
    LoopbackServer server(*loop_);
    std::unique_ptr<LoopbackPeer> client;
    LoopbackPeer& mx = Greeted(server, client, RelayTo(server, ServerType::Imap4));
    client->Send("EHLO me\r\n");
    ASSERT_TRUE(Run([&] { return mx.received == "EHLO me\r\n"; }));
    mx.Send("250-mx\r\n250 CHUNKING\r\n");
    ASSERT_TRUE(Run([&] { return client->received == "220 mx\r\n250-mx\r\n250 CHUNKING\r\n"; }));
}

}  // namespace
}  // namespace vantel
