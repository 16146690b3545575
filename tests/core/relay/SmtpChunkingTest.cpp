// SMTP sessions with a server that offers CHUNKING, and clients that send BDAT regardless:
// the relay rewrites headers, which a counted chunk cannot take.
#include <gtest/gtest.h>

#include "core/config/StoredKludges.h"
#include "core/relay/RelayFixture.h"

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
        settings_.Kludges = PairKludges({"0 X-Mailer:"}, {"0 Vantel"});
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

const std::string kHeader = "X-Mailer: Other\r\nDate: Mon, 1 Jan 2024 10:00:00 +0000\r\n";
const std::string kRewrittenHeader =
    "X-Mailer:  Vantel\r\nDate: Mon, 1 Jan 2024 10:00:00  +0000\r\n";

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

TEST_F(SmtpChunkingTest, EachReplyIsPairedWithItsCommandHoweverTheClientPipelines) {
    LoopbackServer server(*loop_);
    auto client = Client(RelayTo(server));
    client->SetNoDelay();
    ASSERT_TRUE(Run([&] { return server.connections.size() == 1; }));
    LoopbackPeer& mx = *server.connections[0];
    const std::string offers = "250-mx\r\n250-CHUNKING\r\n250 SIZE 100\r\n";
    const std::string filtered = "250-mx\r\n250 SIZE 100\r\n";
    // What looks like an EHLO answer but answers something else passes as it is.
    const std::string lookalike = "250-a\r\n250 CHUNKING\r\n";
    const struct {
        const char* what;
        std::string sent;     ///< by the client, in one write
        std::string replies;  ///< by the server once all of it arrived
        std::string expected;
    } cases[] = {
        {"EHLO before the greeting", "EHLO me\r\n", "220 mx\r\n" + offers, "220 mx\r\n" + filtered},
        {"RSET and EHLO together", "RSET\r\nEHLO me\r\n", "250 ok\r\n" + offers,
         "250 ok\r\n" + filtered},
        {"bare LF line ends", "NOOP\nEHLO me\nNOOP\r\n", "250 ok\r\n" + offers + "250 ok\r\n",
         "250 ok\r\n" + filtered + "250 ok\r\n"},
        {"a message's envelope", "MAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nDATA\r\n",
         "250 ok\r\n250 ok\r\n354 go\r\n", "250 ok\r\n250 ok\r\n354 go\r\n"},
        {"message text is no command", "EHLO me\r\nRSET\r\n.\r\nNOOP\r\n",
         "250 queued\r\n" + lookalike, "250 queued\r\n" + lookalike},
        {"chunk data is no command", "BDAT 9 LAST\r\nEHLO me\r\nNOOP\r\n",
         "250 queued\r\n" + lookalike, "250 queued\r\n" + lookalike},
        // The server may read it as two commands: from here on every reply is read as an
        // EHLO answer.
        {"a line too long to count", "NOOP " + std::string(5000, 'x') + "\r\nEHLO me\r\n",
         "500 too long\r\n500 too long\r\n" + offers,
         "500 too long\r\n500 too long\r\n" + filtered},
    };
    std::string sent;
    std::string expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        client->Send(c.sent);
        sent += c.sent;
        ASSERT_TRUE(Run([&] { return mx.received.size() >= sent.size(); }));
        mx.Send(c.replies);
        expected += c.expected;
        ASSERT_TRUE(Run([&] { return client->received.size() >= expected.size(); }));
        Run([] { return false; }, 20);
        ASSERT_EQ(client->received, expected);
    }
    EXPECT_FALSE(Traced("250-CHUNKING\r\n250 SIZE"));
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

TEST_F(SmtpChunkingTest, ChunksArriveByteExactWhereverTheyAreCutAndDataIsStillRewritten) {
    LoopbackServer server(*loop_);
    std::unique_ptr<LoopbackPeer> client;
    LoopbackPeer& mx = Greeted(server, client, RelayTo(server));

    // A header line the kludge would change and a Date line the relay would mark; the first
    // chunk ends inside the Date line, the second holds what look like commands.
    const std::string first = kHeader.substr(0, 30);
    const std::string second = kHeader.substr(30) + "\r\nBody\r\nDATA\r\nBDAT 5\r\n";
    const std::string transaction = "MAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nbdat " +
                                    std::to_string(first.size()) + "\r\n" + first + "BDAT " +
                                    std::to_string(second.size()) + " LAST\r\n" + second;
    std::string expected;
    std::string replies = client->received;
    for (std::size_t cut = 1; cut < transaction.size(); ++cut) {
        SendCut(*client, transaction, cut);
        expected += transaction;
        ASSERT_TRUE(Run([&] { return mx.received.size() >= expected.size(); })) << "cut at " << cut;
        ASSERT_EQ(mx.received, expected) << "cut at " << cut;
        mx.Send("250 ok\r\n250 ok\r\n250 ok\r\n250 queued\r\n");
        replies += "250 ok\r\n250 ok\r\n250 ok\r\n250 queued\r\n";
        ASSERT_TRUE(Run([&] { return client->received == replies; }));
    }

    // A chunk far larger than a read.
    std::string large;
    while (large.size() < 300000) {
        large += kHeader + "\r\n";
    }
    const std::string big = "BDAT " + std::to_string(large.size()) + " LAST\r\n" + large;
    client->Send(big);
    expected += big;
    ASSERT_TRUE(Run([&] { return mx.received.size() >= expected.size(); }));
    EXPECT_TRUE(mx.received == expected);
    mx.Send("250 queued\r\n");

    // The next message comes with DATA and is rewritten as ever.
    const std::string envelope = "MAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nDATA\r\n";
    client->Send(envelope);
    expected += envelope;
    ASSERT_TRUE(Run([&] { return mx.received.size() >= expected.size(); }));
    mx.Send("250 ok\r\n250 ok\r\n354 go\r\n");
    ASSERT_TRUE(Run([&] { return client->received.size() >= replies.size() + 35; }));
    client->Send(kHeader + "\r\nBody\r\n.\r\n");
    expected += kRewrittenHeader + "\r\nBody\r\n.\r\n";
    ASSERT_TRUE(Run([&] { return mx.received.size() >= expected.size(); }));
    EXPECT_TRUE(mx.received == expected);
}

}  // namespace
}  // namespace vantel
