// The relay through Schannel, against the TLS servers scripts/wine-ctest.sh starts: a large
// transfer both ways over TLS, a refused certificate told to the user and the client, a message
// cut without close_notify, a handshake that stalls, and OAuth 2.0 logins to mail servers.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/oauth/AccessTokenSource.h"
#include "core/oauth/Base64.h"
#include "core/relay/RelayFixture.h"
#include "platform/TlsClient.h"
#include "platform/win32/TlsTestServers.h"

namespace vantel {
namespace {

using test::LoopbackPeer;

/// The token the test servers take (XOAUTH2_TOKEN in tls-test-server.py), for the local
/// password "local-pw".
class ServerTokens : public AccessTokenSource {
  public:
    explicit ServerTokens(EventLoop& loop) : loop_(loop) {}
    bool CheckLocalLogin(const OAuthSignIn&, std::string_view, std::string_view password) override {
        return password == "local-pw";
    }
    void Request(const OAuthSignIn&, bool, std::function<void(AccessTokenAnswer)> done) override {
        loop_.Post([done] { done({AccessTokenAnswer::Kind::Token, "schannel-test-token", ""}); });
    }

  private:
    EventLoop& loop_;
};

class SchannelRelayTest : public test::RelayFixture {
  protected:
    void SetUp() override {
        std::string why;
        if (!servers_.Load(why)) {
            GTEST_SKIP() << why;
        }
        std::string error;
        context_ = CreateTlsContext({servers_.caPem()}, error);
        ASSERT_TRUE(context_) << error;
        Engine().SetTls(context_.get(), "");
    }
    /// Relays a fresh local port to the server of case `name`, TLS from the first byte.
    std::uint16_t RelayTo(const std::string& name, ServerType type, bool oauth = false) {
        const std::uint16_t port = test::FreePort(*loop_);
        ServerEntry entry;
        entry.Type = StoredServerType(type);
        entry.LocalPort = port;
        entry.RemotePort = servers_.Port(name);
        entry.Name = "localhost";
        entry.Security = StoredSecurityMode(SecurityMode::SslTls);
        if (oauth) {
            entry.SignIn = StoredSignInMethod(SignInMethod::OAuth2);
            entry.OAuth.Provider = "microsoft";
            entry.OAuth.Account = "tester@example.test";
        }
        settings_.ServerList.push_back(entry);
        Engine().StartRelay();
        return port;
    }

    test::TlsTestServers servers_;
    std::unique_ptr<TlsContext> context_;
};

TEST_F(SchannelRelayTest, TwentyMegabytesComeBackWholeThroughTheEchoServer) {
    std::string text;
    for (int n = 0; text.size() < 20 * 1024 * 1024; ++n) {
        text += "line " + std::to_string(n) + " relayed over TLS and echoed back\r\n";
    }
    auto client = Client(RelayTo("trusted", ServerType::Smtp));
    client->Send(text);
    ASSERT_TRUE(Run([&] { return client->received.size() >= text.size(); }, 120000))
        << client->received.size() << " of " << text.size() << " bytes";
    EXPECT_TRUE(client->received == text) << "the echo differs";
    client->ShutDownSend();
    ASSERT_TRUE(Run([&] { return client->closed; }));
    EXPECT_TRUE(notifier_.notices.empty());
}

TEST_F(SchannelRelayTest, ASelfSignedServerIsRefusedWithItsFingerprint) {
    auto client = Client(RelayTo("selfsigned", ServerType::Pop3));
    ASSERT_TRUE(Run([&] { return client->closed; }));
    EXPECT_EQ(client->received.rfind("-ERR Vantel could not secure the connection to localhost: "
                                     "certificate not trusted (self-signed)",
                                     0),
              0u)
        << client->received;
    ASSERT_TRUE(Run([&] { return !notifier_.notices.empty(); }));
    EXPECT_NE(notifier_.notices[0].reason.find("its SHA-256 fingerprint is "), std::string::npos)
        << notifier_.notices[0].reason;
}

TEST_F(SchannelRelayTest, AMessageCutWithoutCloseNotifyResetsTheClientAndAStallIsRefused) {
    auto client = Client(RelayTo("cut", ServerType::Pop3));
    client->onData = [](LoopbackPeer& c) {
        if (c.received == "+OK pop\r\n") {
            c.Send("RETR 1\r\n");
        }
    };
    ASSERT_TRUE(Run([&] { return client->closed; })) << client->received.size();
    // Under Wine the relay's reset reads as the end of the stream: its note tells instead.
    bool noted = false;
    for (const std::string& write : trace_.writes) {
        noted = noted ||
                write.find("without close_notify in the middle of a message") != std::string::npos;
    }
    EXPECT_TRUE(noted) << "a cut message must not look whole";
    EXPECT_EQ(client->received.rfind("+OK pop\r\n+OK\r\nSubject: cut\r\n\r\nmmm", 0), 0u);

    Engine().SetSecuringLimitMs(300);
    settings_.ConnectTimeout = 0;
    auto stalled = Client(RelayTo("stall", ServerType::Pop3));
    ASSERT_TRUE(Run([&] { return stalled->closed; }, 5000));
    EXPECT_EQ(stalled->received.rfind("-ERR Vantel could not secure the connection to localhost: "
                                      "the server did not complete the TLS handshake within ",
                                      0),
              0u)
        << stalled->received;
}

TEST_F(SchannelRelayTest, OAuthLoginsReachEachMailServerAsXOAuth2OverTls) {
    ServerTokens tokens(*loop_);
    Engine().SetTokenSource(&tokens);
    const std::string plain = Base64Encode(std::string("\0tester@example.test\0local-pw", 29));
    const struct {
        const char* server;
        ServerType type;
        std::vector<std::pair<std::string, std::string>> steps;  // line, what the answer holds
    } cases[] = {
        {"xoauth2-imap",
         ServerType::Imap4,
         {{"", "* OK"},
          {"a1 LOGIN tester@example.test local-pw\r\n", "a1 OK"},
          {"a2 LOGOUT\r\n", "* BYE signed-in"}}},
        {"xoauth2-pop3",
         ServerType::Pop3,
         {{"", "+OK"},
          {"USER tester@example.test\r\n", "+OK"},
          {"PASS local-pw\r\n", "+OK"},
          {"QUIT\r\n", "+OK signed-in"}}},
        {"xoauth2-smtp",
         ServerType::Smtp,
         {{"", "220 "},
          {"EHLO me\r\n", "250 "},
          {"AUTH PLAIN " + plain + "\r\n", "235 "},
          {"QUIT\r\n", "221 signed-in"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        auto client = Client(RelayTo(c.server, c.type, true));
        for (const auto& [line, answer] : c.steps) {
            const std::size_t before = client->received.size();
            if (!line.empty()) {
                client->Send(line);
            }
            ASSERT_TRUE(Run([&, answer = answer] {
                return client->received.find(answer, before) != std::string::npos &&
                       client->received.back() == '\n';
            })) << line
                << " got " << client->received;
        }
        for (const std::string& write : trace_.writes) {
            EXPECT_EQ(write.find("schannel-test-token"), std::string::npos) << write;
            EXPECT_EQ(write.find("local-pw"), std::string::npos) << write;
        }
        settings_.ServerList.clear();
    }
    EXPECT_TRUE(notifier_.notices.empty());
}

}  // namespace
}  // namespace vantel
