// IMAP sessions: messages a client saves with APPEND are rewritten and recounted; every other
// literal is counted and passed as it came.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "core/config/StoredKludges.h"
#include "core/relay/RelayFixture.h"

namespace vantel {
namespace {

using test::LoopbackPeer;

/// A small IMAP server that frames commands as a real one does: after a line ending in "{n}"
/// it says "+ go ahead" and reads n bytes, after "{n+}" or "{n-}" it reads them at once. Keeps
/// every command and every literal; refuses APPEND to the mailbox "Missing" before its literal.
class ImapServer {
  public:
    explicit ImapServer(EventLoop& loop) : listener(loop) {
        listener.onConnection = [this](LoopbackPeer& peer) {
            peer.SetNoDelay();
            peer.Send("* OK ready\r\n");
            peer.onData = [this](LoopbackPeer& p) { Read(p); };
        };
    }
    LoopbackPeer& peer() { return *listener.connections.at(0); }

    test::LoopbackServer listener;
    std::vector<std::string> commands;  ///< whole commands, their literals included
    std::vector<std::string> literals;
    bool ended = false;

  private:
    void Read(LoopbackPeer& peer) {
        const std::string& in = peer.received;
        while (at_ < in.size()) {
            if (left_ > 0) {
                const std::size_t n = std::min<std::size_t>(left_, in.size() - at_);
                literal_.append(in, at_, n);
                command_.append(in, at_, n);
                at_ += n;
                left_ -= n;
                if (left_ == 0) {
                    literals.push_back(std::move(literal_));
                    literal_.clear();
                }
                continue;
            }
            const std::size_t lf = in.find('\n', at_);
            if (lf == std::string::npos) {
                return;
            }
            const std::string line = in.substr(at_, lf + 1 - at_);
            at_ = lf + 1;
            command_ += line;
            std::smatch literal;
            static const std::regex kLiteral(R"(\{(\d+)([+-]?)\}\r\n$)");
            const std::string tag = command_.substr(0, command_.find(' '));
            if (std::regex_search(line, literal, kLiteral)) {
                left_ = std::stoul(literal[1]);
                if (literal[2].length() == 0) {
                    if (command_.find("APPEND Missing") != std::string::npos) {
                        peer.Send(tag + " NO [TRYCREATE] no such mailbox\r\n");
                        command_.clear();
                        left_ = 0;
                        continue;
                    }
                    peer.Send("+ go ahead\r\n");
                }
                if (left_ == 0) {
                    literals.emplace_back();
                }
                continue;
            }
            commands.push_back(command_);
            command_.clear();
            peer.Send(tag + " OK done\r\n");
        }
    }

    std::size_t at_ = 0;
    std::size_t left_ = 0;
    std::string command_;
    std::string literal_;
};

const std::string kMessage =
    "From: a@example.org\r\nDate: Mon, 1 Jan 2024 10:00:00 +0000\r\nX-Mailer: Other\r\n"
    "Subject: t\r\n\r\nbody\r\nX-Mailer: in the body\r\n";
const std::string kRewritten =
    "From: a@example.org\r\nDate: Mon, 1 Jan 2024 10:00:00  +0000\r\nX-Mailer:  Vantel\r\n"
    "Subject: t\r\n\r\nbody\r\nX-Mailer: in the body\r\n";
const std::string kReady = "+ Ready for literal data\r\n";

std::string Count(const std::string& text, std::string_view sync = "") {
    return "{" + std::to_string(text.size()) + std::string(sync) + "}\r\n";
}

class ImapLiteralTest : public test::RelayFixture {
  protected:
    /// A client of an IMAP4 entry in front of `server`, greeted; X-Mailer lines are changed
    /// unless `kludges` is false.
    std::unique_ptr<LoopbackPeer> Connect(ImapServer& server, bool kludges = true) {
        const std::uint16_t port = test::FreePort(*loop_);
        settings_.ServerList = {Entry(ServerType::Imap4, port, server.listener)};
        settings_.Kludges.clear();
        if (kludges) {
            settings_.Kludges = PairKludges({"0 X-Mailer:"}, {"0 Vantel"});
        }
        Engine().StartRelay();
        auto client = Client(port);
        client->SetNoDelay();
        EXPECT_TRUE(Run([&] { return client->received == "* OK ready\r\n"; }));
        client->received.clear();
        return client;
    }
    /// Sends `text` and waits until the client has `reply` (and nothing else) since the last
    /// call.
    void Say(LoopbackPeer& client, const std::string& text, const std::string& reply) {
        client.Send(text);
        ASSERT_TRUE(Run([&] { return client.received.size() >= reply.size(); }))
            << "no reply to " << text.substr(0, 40) << "; got " << client.received;
        EXPECT_EQ(client.received, reply);
        client.received.clear();
    }
    bool Traced(std::string_view text) const {
        return std::any_of(trace_.writes.begin(), trace_.writes.end(),
                           [&](const std::string& w) { return w.find(text) != std::string::npos; });
    }
};

TEST_F(ImapLiteralTest, AppendedMessagesLeaveRewrittenWithTheirNewCount) {
    for (const bool kludges : {true, false}) {
        ImapServer server(*loop_);
        auto client = Connect(server, kludges);
        const std::string expected =
            kludges ? kRewritten
                    : "From: a@example.org\r\nDate: Mon, 1 Jan 2024 10:00:00  +0000"
                      "\r\nX-Mailer: Other\r\nSubject: t\r\n\r\nbody\r\nX-Mailer: "
                      "in the body\r\n";
        // Synchronising: the relay gives the go-ahead and swallows the server's own.
        Say(*client, "a1 APPEND Sent (\\Seen) " + Count(kMessage), kReady);
        Say(*client, kMessage + "\r\n", "a1 OK done\r\n");
        // LITERAL+ and LITERAL-: no go-ahead at all.
        Say(*client, "a2 APPEND Sent " + Count(kMessage, "+") + kMessage + "\r\n",
            "a2 OK done\r\n");
        Say(*client,
            "a3 append \"Sent Items\" {" + std::to_string(kMessage.size()) + "-}\r\n" + kMessage +
                "\r\n",
            "a3 OK done\r\n");
        ASSERT_EQ(server.commands.size(), 3u);
        EXPECT_EQ(server.commands[0],
                  "a1 APPEND Sent (\\Seen) " + Count(expected) + expected + "\r\n");
        EXPECT_EQ(server.commands[1], "a2 APPEND Sent " + Count(expected, "+") + expected + "\r\n");
        EXPECT_EQ(server.commands[2],
                  "a3 append \"Sent Items\" " + Count(expected, "-") + expected + "\r\n");
    }
}

TEST_F(ImapLiteralTest, MultiappendAndCatenateRewriteEveryMessageButNoOtherLiteral) {
    ImapServer server(*loop_);
    auto client = Connect(server);
    const std::string url = "/INBOX;UID=1";
    // The mailbox as a literal, two messages, then CATENATE with a URL literal and a text part.
    Say(*client, "a1 APPEND {4}\r\n", "+ go ahead\r\n");
    Say(*client, "Sent " + Count(kMessage), kReady);
    Say(*client, kMessage + " (\\Seen) " + Count(kMessage), kReady);
    Say(*client, kMessage + "\r\n", "a1 OK done\r\n");
    Say(*client, "a2 APPEND Sent CATENATE (URL " + Count(url), "+ go ahead\r\n");
    Say(*client, url + " TEXT " + Count(kMessage), kReady);
    Say(*client, kMessage + ")\r\n", "a2 OK done\r\n");
    ASSERT_EQ(server.commands.size(), 2u);
    EXPECT_EQ(server.commands[0], "a1 APPEND {4}\r\nSent " + Count(kRewritten) + kRewritten +
                                      " (\\Seen) " + Count(kRewritten) + kRewritten + "\r\n");
    EXPECT_EQ(server.commands[1], "a2 APPEND Sent CATENATE (URL " + Count(url) + url + " TEXT " +
                                      Count(kRewritten) + kRewritten + ")\r\n");
}

TEST_F(ImapLiteralTest, OtherLiteralsPassUnchangedAndLoginLiteralsStayOutOfTheTrace) {
    ImapServer server(*loop_);
    auto client = Connect(server);
    Say(*client, "a1 LOGIN {5}\r\n", "+ go ahead\r\n");
    Say(*client, "alice {12}\r\n", "+ go ahead\r\n");
    Say(*client, "s3cret-Date:\r\n", "a1 OK done\r\n");
    // A literal that looks like a header, a line after it that looks like a command.
    const std::string search = "X-Mailer: x\r\nDate: a b\r\n";
    Say(*client, "a2 SEARCH HEADER Subject " + Count(search, "+") + search + "\r\n",
        "a2 OK done\r\n");
    Say(*client, "a3 SEARCH TEXT ~{4}\r\n", "+ go ahead\r\n");
    Say(*client, "ab\r\n\r\n", "a3 OK done\r\n");
    ASSERT_EQ(server.commands.size(), 3u);
    EXPECT_EQ(server.commands[0], "a1 LOGIN {5}\r\nalice {12}\r\ns3cret-Date:\r\n");
    EXPECT_EQ(server.commands[1],
              "a2 SEARCH HEADER Subject " + Count(search, "+") + search + "\r\n");
    EXPECT_FALSE(Traced("s3cret"));
}

TEST_F(ImapLiteralTest, AppendCutIntoSmallReadsArrivesTheSame) {
    ImapServer server(*loop_);
    auto client = Connect(server);
    // A header that ends without a line end, and a body longer than a read.
    const std::string message = kMessage + std::string(5000, 'b') + "\r\nX-Last: no line end";
    const std::string expected = kRewritten + std::string(5000, 'b') + "\r\nX-Last: no line end";
    Say(*client, "a1 APPEND Sent " + Count(message), kReady);
    const std::string rest = message + "\r\na2 NOOP\r\n";
    for (std::size_t at = 0; at < rest.size(); at += 7) {
        client->Send(rest.substr(at, 7));
        Run([] { return false; }, 1);
    }
    ASSERT_TRUE(Run([&] { return client->received == "a1 OK done\r\na2 OK done\r\n"; }))
        << client->received;
    ASSERT_EQ(server.commands.size(), 2u);
    EXPECT_EQ(server.commands[0], "a1 APPEND Sent " + Count(expected) + expected + "\r\n");
    EXPECT_EQ(server.commands[1], "a2 NOOP\r\n");
}

TEST_F(ImapLiteralTest, LongLinesAndNulBytesPassAsTheyCame) {
    ImapServer server(*loop_);
    auto client = Connect(server);
    const std::string search = "a1 SEARCH TEXT " + std::string(20000, 'x') + " TEXT {3}\r\n";
    Say(*client, search, "+ go ahead\r\n");
    const std::string nul("a2 NOOP \0 Date: x y\r\n", 21);
    Say(*client, "abc\r\n" + nul, "a1 OK done\r\na2 OK done\r\n");
    ASSERT_EQ(server.commands.size(), 2u);
    EXPECT_EQ(server.commands[0], search + "abc\r\n");
    EXPECT_EQ(server.commands[1], nul);
}

TEST_F(ImapLiteralTest, ARefusedAppendTakesItsLiteralAlongAndTheNextCommandStillCounts) {
    ImapServer server(*loop_);
    auto client = Connect(server);
    Say(*client, "a1 APPEND Missing " + Count(kMessage), kReady);
    // The client sends the message and, pipelined behind it, its next commands; the relay
    // waits for the server's go-ahead before any of them goes.
    Say(*client,
        kMessage + "\r\na2 NOOP\r\na3 APPEND Sent " + Count(kMessage, "+") + kMessage + "\r\n",
        "a1 NO [TRYCREATE] no such mailbox\r\na2 OK done\r\na3 OK done\r\n");
    ASSERT_EQ(server.commands.size(), 2u);
    EXPECT_EQ(server.commands[0], "a2 NOOP\r\n");
    EXPECT_EQ(server.commands[1], "a3 APPEND Sent " + Count(kRewritten, "+") + kRewritten + "\r\n");
    EXPECT_EQ(server.peer().received.find("From:"), server.peer().received.rfind("From:"));
}

TEST_F(ImapLiteralTest, LiteralsAboveTheHoldingLimitPassWithTheirOwnCount) {
    ImapServer server(*loop_);
    Engine().SetMaxHeldLiteral(kMessage.size() - 1);
    auto client = Connect(server);
    Say(*client, "a1 APPEND Sent " + Count(kMessage), "+ go ahead\r\n");
    Say(*client, kMessage + "\r\n", "a1 OK done\r\n");
    ASSERT_EQ(server.commands.size(), 1u);
    EXPECT_EQ(server.commands[0], "a1 APPEND Sent " + Count(kMessage) + kMessage + "\r\n");
}

TEST_F(ImapLiteralTest, AClientThatLeavesAfterItsMessageStillHasItSaved) {
    ImapServer server(*loop_);
    auto client = Connect(server);
    Say(*client, "a1 APPEND Sent " + Count(kMessage), kReady);
    // The server's go-ahead comes only after the client's end: the end waits for it.
    client->Send(kMessage + "\r\n");
    client->ShutDownSend();
    ASSERT_TRUE(Run([&] { return client->received == "a1 OK done\r\n"; })) << client->received;
    ASSERT_TRUE(Run([&] { return server.peer().closed; }));
    ASSERT_EQ(server.commands.size(), 1u);
    EXPECT_EQ(server.commands[0], "a1 APPEND Sent " + Count(kRewritten) + kRewritten + "\r\n");
}

TEST_F(ImapLiteralTest, ACommandStreamThatRunsAheadOfTheGoAheadWaitsAndThenFlows) {
    test::LoopbackServer listener(*loop_);
    listener.onConnection = [](LoopbackPeer& peer) { peer.Send("* OK ready\r\n"); };
    const std::uint16_t port = test::FreePort(*loop_);
    settings_.ServerList = {Entry(ServerType::Imap4, port, listener)};
    Engine().StartRelay();
    auto client = Client(port);
    ASSERT_TRUE(Run([&] { return client->received == "* OK ready\r\n"; }));
    client->received.clear();
    Say(*client, "a1 APPEND Sent " + Count(kMessage), kReady);
    std::string noops;
    for (int i = 0; noops.size() < 2000000; ++i) {
        noops += "n" + std::to_string(i) + " NOOP\r\n";
    }
    client->Send(kMessage + "\r\n" + noops);
    LoopbackPeer& server = *listener.connections.at(0);
    Run([] { return false; }, 200);
    // Nothing passes the awaited go-ahead, however much the client sends.
    EXPECT_EQ(server.received.substr(0, 18), "a1 APPEND Sent {12");
    EXPECT_EQ(server.received.find("From:"), std::string::npos);
    server.Send("+ go\r\n");
    const std::string date = "Date: Mon, 1 Jan 2024 10:00:00  +0000";
    std::string message = kMessage;
    message.replace(message.find("Date:"), date.size() - 1, date);
    const std::string expected = "a1 APPEND Sent " + Count(message) + message + "\r\n" + noops;
    ASSERT_TRUE(Run([&] { return server.received.size() >= expected.size(); }));
    EXPECT_TRUE(server.received == expected);
    EXPECT_EQ(client->received, "");
}

TEST_F(ImapLiteralTest, ServerLiteralsAreNotTakenForGoAheads) {
    // A fetched message holding a "+" line and a tagged line arrives while the relay waits
    // for the server's go-ahead: both are message text for the client.
    test::LoopbackServer listener(*loop_);
    listener.onConnection = [](LoopbackPeer& peer) { peer.Send("* OK ready\r\n"); };
    const std::uint16_t port = test::FreePort(*loop_);
    settings_.ServerList = {Entry(ServerType::Imap4, port, listener)};
    settings_.Kludges = PairKludges({"0 X-Mailer:"}, {"0 Vantel"});
    Engine().StartRelay();
    auto client = Client(port);
    ASSERT_TRUE(Run([&] { return client->received == "* OK ready\r\n"; }));
    client->received.clear();
    Say(*client, "a1 FETCH 1 BODY[]\r\na2 APPEND Sent " + Count(kMessage), kReady);
    client->Send(kMessage + "\r\n");
    LoopbackPeer& server = *listener.connections.at(0);
    const std::string commands = "a1 FETCH 1 BODY[]\r\na2 APPEND Sent " + Count(kRewritten);
    ASSERT_TRUE(Run([&] { return server.received == commands; })) << server.received;
    const std::string fetched = "+ not a go-ahead\r\na2 NO not a refusal\r\n";
    const std::string answer = "* 1 FETCH (BODY[] " + Count(fetched) + fetched + ")\r\na1 OK\r\n";
    server.Send(answer);
    Run([] { return false; }, 20);
    EXPECT_EQ(server.received, commands);
    server.Send("+ go\r\n");
    ASSERT_TRUE(
        Run([&] { return server.received.size() >= commands.size() + kRewritten.size() + 2; }));
    EXPECT_EQ(server.received, commands + kRewritten + "\r\n");
    server.Send("a2 OK saved\r\n");
    ASSERT_TRUE(Run([&] { return client->received.size() >= answer.size() + 13; }));
    EXPECT_EQ(client->received, answer + "a2 OK saved\r\n");
}

}  // namespace
}  // namespace vantel
