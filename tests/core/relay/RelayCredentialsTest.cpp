// Logins over real connections: replaced on the wire where the entry has one, never in the
// trace in clear, and message text traced as it is.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "core/config/CredentialCodec.h"
#include "core/relay/RelayFixture.h"

namespace vantel {
namespace {

using test::LoopbackPeer;
using test::LoopbackServer;

class RelayCredentialsTest : public test::RelayFixture {
  protected:
    /// An entry of `type` on a fresh port to `server`, listening.
    std::uint16_t RelayTo(ServerType type, const LoopbackServer& server, const char* user = nullptr,
                          const char* password = nullptr) {
        const std::uint16_t port = test::FreePort(*loop_);
        ServerEntry entry = Entry(type, port, server);
        if (user != nullptr) {
            CredentialBlock block{};
            entry.CredentialLength = PackCredentials(block, user, password);
            entry.Credentials = block;
        }
        settings_.ServerList.push_back(entry);
        Engine().StartRelay();
        return port;
    }
    /// Everything traced, in one piece.
    std::string Traced() const {
        std::string all;
        for (const std::string& write : trace_.writes) {
            all += write;
        }
        return all;
    }
    /// Sends `text` and waits until the client has received `reply` after what it had.
    void SendAndAwait(LoopbackPeer& client, const std::string& text, const std::string& reply) {
        const std::size_t before = client.received.size();
        client.Send(text);
        ASSERT_TRUE(Run([&] { return client.received.find(reply, before) != std::string::npos; }))
            << "no " << reply << " after " << text;
    }
};

/// Greets, then answers each complete line the server receives with what `answer` makes
/// of it (nothing when it gives an empty string).
void Answer(LoopbackPeer& peer, std::string greeting,
            std::function<std::string(const std::string&)> answer) {
    peer.Send(greeting);
    auto done = std::make_shared<std::size_t>(0);
    peer.onData = [done, answer](LoopbackPeer& p) {
        for (std::size_t lf; (lf = p.received.find('\n', *done)) != std::string::npos;) {
            const std::string line = p.received.substr(*done, lf + 1 - *done);
            *done = lf + 1;
            const std::string reply = answer(line);
            if (!reply.empty()) {
                p.Send(reply);
            }
        }
    };
}

TEST_F(RelayCredentialsTest, Pop3AuthExchangeIsMaskedUpToTheServersVerdict) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) {
        Answer(p, "+OK POP3\r\n", [](const std::string& line) -> std::string {
            if (line == "AUTH PLAIN\r\n") {
                return "+ \r\n";
            }
            if (line == "AGFsaWNlAHMzY3JldA==\r\n") {
                return "+OK logged in\r\n";
            }
            return "+OK 0 0\r\n";
        });
    };
    auto client = Client(RelayTo(ServerType::Pop3, server));
    ASSERT_TRUE(Run([&] { return client->received == "+OK POP3\r\n"; }));
    SendAndAwait(*client, "AUTH PLAIN\r\n", "+ \r\n");
    SendAndAwait(*client, "AGFsaWNlAHMzY3JldA==\r\n", "+OK logged in\r\n");
    SendAndAwait(*client, "STAT\r\n", "+OK 0 0\r\n");
    EXPECT_EQ(server.connections[0]->received, "AUTH PLAIN\r\nAGFsaWNlAHMzY3JldA==\r\nSTAT\r\n");

    const std::string traced = Traced();
    EXPECT_EQ(traced.find("AGFsaWNl"), std::string::npos) << traced;
    EXPECT_NE(traced.find("[Vantel] ****\r\n"), std::string::npos) << traced;
    EXPECT_NE(traced.find("[Vantel] STAT\r\n"), std::string::npos) << traced;
}

TEST_F(RelayCredentialsTest, SmtpMessageTextIsTracedAsItIs) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) {
        auto inData = std::make_shared<bool>(false);
        Answer(p, "220 ready\r\n", [inData](const std::string& line) -> std::string {
            if (*inData) {
                *inData = line != ".\r\n";
                return *inData ? "" : "250 queued\r\n";
            }
            if (line == "DATA\r\n") {
                *inData = true;
                return "354 go ahead\r\n";
            }
            return line.rfind("AUTH", 0) == 0 ? "235 accepted\r\n" : "250 ok\r\n";
        });
    };
    auto client = Client(RelayTo(ServerType::Smtp, server));
    ASSERT_TRUE(Run([&] { return client->received == "220 ready\r\n"; }));
    SendAndAwait(*client, "EHLO x\r\n", "250 ok\r\n");
    SendAndAwait(*client, "AUTH PLAIN AGFsaWNlAHMzY3JldA==\r\n", "235 accepted\r\n");
    SendAndAwait(*client, "MAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nDATA\r\n", "354 go ahead\r\n");
    const std::string body =
        "Subject: s\r\n\r\npass word of the day\r\nauth is short for author\r\nlast line\r\n";
    SendAndAwait(*client, body + ".\r\n", "250 queued\r\n");
    SendAndAwait(*client, "AUTH LOGIN\r\n", "235 accepted\r\n");

    const std::string traced = Traced();
    EXPECT_EQ(traced.find("AGFsaWNl"), std::string::npos) << traced;
    EXPECT_NE(traced.find("AUTH PLAIN ****\r\n"), std::string::npos) << traced;
    for (const char* line :
         {"\npass word of the day\r\n", "\nauth is short for author\r\n", "\nlast line\r\n"}) {
        EXPECT_NE(traced.find(line), std::string::npos) << traced;
    }
    EXPECT_NE(traced.find("[Vantel] AUTH LOGIN\r\n"), std::string::npos) << traced;
}

TEST_F(RelayCredentialsTest, TextCarriedToTheEndOfTheStreamIsTracedAndMasked) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) { p.Send("+OK POP3\r\n"); };
    auto client = Client(RelayTo(ServerType::Pop3, server));
    ASSERT_TRUE(Run([&] { return client->received == "+OK POP3\r\n"; }));
    // No line end: the rewriting holds the line until the stream ends.
    client->Send("USER me\r\nPASS s3cret");
    client->ShutDownSend();
    ASSERT_TRUE(Run([&] { return server.connections[0]->closed; }));
    EXPECT_EQ(server.connections[0]->received, "USER me\r\nPASS s3cret");
    EXPECT_EQ(Traced().find("s3cret"), std::string::npos) << Traced();
    EXPECT_EQ(trace_.writes.back(), "[Vantel] PASS ****");
}

TEST_F(RelayCredentialsTest, TextCarriedWhenTheRelayStopsIsTraced) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) { p.Send("220 ready\r\n"); };
    auto client = Client(RelayTo(ServerType::Smtp, server));
    ASSERT_TRUE(Run([&] { return client->received == "220 ready\r\n"; }));
    const std::uint64_t before = Engine().BytesRead();
    client->Send("QUIT");
    ASSERT_TRUE(Run([&] { return Engine().BytesRead() == before + 4; }));
    bool stopped = false;
    host_.Stop([&] { stopped = true; });
    ASSERT_TRUE(Run([&] { return server.connections[0]->received == "QUIT"; }));
    EXPECT_EQ(trace_.writes.back(), "[Vantel] QUIT");
    server.connections[0]->Close();
    client->Close();
    EXPECT_TRUE(Run([&] { return stopped; }, 15000));
}

TEST_F(RelayCredentialsTest, Pop3LoginInAnyCaseIsReplacedByTheStoredOne) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) {
        Answer(p, "+OK POP3\r\n", [](const std::string&) { return std::string("+OK\r\n"); });
    };
    auto client = Client(RelayTo(ServerType::Pop3, server, "stored", "hidden"));
    ASSERT_TRUE(Run([&] { return client->received == "+OK POP3\r\n"; }));
    SendAndAwait(*client, "user me\r\n", "+OK\r\n");
    SendAndAwait(*client, "Pass mine\r\n", "+OK\r\n");
    EXPECT_EQ(server.connections[0]->received, "USER stored\r\nPASS hidden\r\n");
    const std::string traced = Traced();
    EXPECT_EQ(traced.find("hidden"), std::string::npos) << traced;
    EXPECT_EQ(traced.find("mine"), std::string::npos) << traced;
    EXPECT_NE(traced.find("PASS ****\r\n"), std::string::npos) << traced;
}

TEST_F(RelayCredentialsTest, TheClientsOwnLoginNeverReachesTheServerWhateverItsLineEnds) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) {
        Answer(p, "+OK POP3\r\n", [](const std::string&) { return std::string("+OK\r\n"); });
    };
    const std::uint16_t port = RelayTo(ServerType::Pop3, server, "stored", "hidden");
    const std::string login = "USER stored\r\nPASS hidden\r\n";
    const struct {
        const char* what;
        std::string sent;  ///< in one write, then the client closes
        std::string received;
    } cases[] = {
        {"bare LF", "USER clientuser\nPASS clientpw\n", login},
        {"after a blank line", "\r\nUSER clientuser\r\nPASS clientpw\r\n", "\r\n" + login},
        {"with a NUL", std::string("USER clientuser\0\r\nPASS clientpw\0\n", 33), login},
        {"too long to rewrite", "PASS clientpw" + std::string(5000, 'x') + "\r\nSTAT\r\n",
         "PASS hidden\r\nSTAT\r\n"},
        {"unended at the close", "USER clientuser\r\nPASS clientpw", login},
        {"unended AUTH at the close", "USER clientuser\nAUTH", "USER stored\r\n"},
        {"AUTH cut by a NUL", std::string("AUTH\0PLAIN AGNsaWVudHB3\r\nSTAT\n", 30), "STAT\n"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].what);
        auto client = Client(port);
        ASSERT_TRUE(Run([&] { return client->received == "+OK POP3\r\n"; }));
        client->Send(cases[i].sent);
        client->ShutDownSend();
        ASSERT_TRUE(
            Run([&] { return server.connections.size() > i && server.connections[i]->closed; }));
        EXPECT_EQ(server.connections[i]->received, cases[i].received);
    }
    EXPECT_EQ(Traced().find("clientuser"), std::string::npos) << Traced();
    EXPECT_EQ(Traced().find("clientpw"), std::string::npos) << Traced();
    EXPECT_EQ(Traced().find("hidden"), std::string::npos) << Traced();
}

TEST_F(RelayCredentialsTest, AStoredLoginThatWouldEndItsLineIsRefusedNotSent) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) {
        Answer(p, "+OK POP3\r\n", [](const std::string&) { return std::string("+OK\r\n"); });
    };
    const struct {
        const char* user;
        const char* password;
        const char* reason;
    } logins[] = {
        {"alice\r\nDELE 1", "s3cret", "the user name holds a line break"},
        {"alice", "s3cret\nDELE 1", "the password holds a line break"},
        {"alice\r", "s3cret", "the user name holds a line break"},
    };
    for (const auto& login : logins) {
        SCOPED_TRACE(login.user);
        notifier_.notices.clear();
        auto client = Client(RelayTo(ServerType::Pop3, server, login.user, login.password));
        ASSERT_TRUE(Run([&] { return client->closed; }));
        EXPECT_EQ(client->received.rfind("-ERR ", 0), 0u) << client->received;
        EXPECT_EQ(client->received.find('\n'), client->received.size() - 1) << client->received;
        ASSERT_EQ(notifier_.notices.size(), 1u);
        const Notice& notice = notifier_.notices[0];
        EXPECT_EQ(notice.text, RelaySession::kUnsafeLoginText);
        EXPECT_EQ(notice.reason, login.reason);
        EXPECT_EQ(notice.Box().find("s3cret"), std::string::npos) << notice.Box();
    }
    EXPECT_TRUE(server.connections.empty());
}

}  // namespace
}  // namespace vantel
