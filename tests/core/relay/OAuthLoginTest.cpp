// The relay logging in for the client with an OAuth 2.0 token, over real connections, against
// servers that take only the current token and refuse in either provider's way.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/oauth/Base64.h"
#include "core/protocol/UpstreamAuthenticator.h"
#include "core/relay/RelayFixture.h"

namespace vantel {
namespace {

using test::LoopbackPeer;
using test::LoopbackServer;

constexpr const char* kAccount = "me@example.org";
constexpr const char* kLocalPassword = "local-pw";

/// Tokens from a script: `answer` first, `renewed` for a renewal.
class FakeTokens : public AccessTokenSource {
  public:
    explicit FakeTokens(EventLoop& loop) : loop_(loop) {}
    bool CheckLocalLogin(const OAuthSignIn& signIn, std::string_view account,
                         std::string_view password) override {
        return account == signIn.Account && password == kLocalPassword;
    }
    void Request(const OAuthSignIn&, bool renew,
                 std::function<void(AccessTokenAnswer)> done) override {
        ++requests;
        renews += renew ? 1 : 0;
        AccessTokenAnswer given = answer;
        if (renew) {
            given.token = renewed;
        }
        loop_.Post([done, given] { done(given); });
    }

    AccessTokenAnswer answer{AccessTokenAnswer::Kind::Token, "good-token", ""};
    std::string renewed = "good-token";
    int requests = 0;
    int renews = 0;

  private:
    EventLoop& loop_;
};

/// How the server turns a token down.
enum class Refusal {
    Challenge,  ///< an error challenge first (Google)
    Plain,      ///< at once (Microsoft)
};

/// What a server saw of the relay's exchange.
struct ServerLog {
    std::vector<std::string> tokens;  ///< the tokens it was given, in order
    std::string challengeAnswer;      ///< what answered its error challenge
    bool initialResponse = false;     ///< credentials came with the command
};

/// The token in a SASL message, or "?" when it is none of XOAUTH2's or OAUTHBEARER's.
std::string TokenIn(const std::string& line, const std::string& account) {
    const std::optional<std::string> message = Base64Decode(line.substr(0, line.find('\r')));
    if (!message) {
        return "?";
    }
    const bool xoauth2 = message->rfind("user=" + account + "\x01", 0) == 0;
    const bool bearer = message->rfind("n,a=" + account + ",", 0) == 0;
    const std::size_t auth = message->find(
        "\x01"
        "auth=Bearer ");
    if ((!xoauth2 && !bearer) || auth == std::string::npos || message->size() < 2 ||
        message->substr(message->size() - 2) != "\x01\x01") {
        return "?";
    }
    const std::size_t from = auth + 13;
    return message->substr(from, message->size() - 2 - from);
}

/// A server of `type` that takes `good` alone, saying what its protocol says.
void ServeOAuth(LoopbackPeer& peer, ServerType type, Refusal refusal, bool saslIr, std::string good,
                std::shared_ptr<ServerLog> log) {
    struct State {
        bool credentials = false;  ///< the next line is the credentials
        bool challenged = false;   ///< the next line answers the error challenge
        std::string tag;
    };
    auto state = std::make_shared<State>();
    std::string greeting = type == ServerType::Imap4
                               ? std::string("* OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2 ") +
                                     (saslIr ? "SASL-IR " : "") + "LOGINDISABLED] ready\r\n"
                           : type == ServerType::Pop3 ? "+OK ready\r\n"
                                                      : "220 ready\r\n";
    const auto success = [type, state]() -> std::string {
        return type == ServerType::Imap4  ? state->tag + " OK authenticated\r\n"
               : type == ServerType::Pop3 ? "+OK in\r\n"
                                          : "235 2.7.0 Accepted\r\n";
    };
    const auto failure = [type, state]() -> std::string {
        return type == ServerType::Imap4  ? state->tag + " NO AUTHENTICATE failed.\r\n"
               : type == ServerType::Pop3 ? "-ERR Authentication failure\r\n"
                                          : "535 5.7.3 Authentication unsuccessful\r\n";
    };
    const auto judge = [=](const std::string& credentials) -> std::string {
        const std::string token = TokenIn(credentials, kAccount);
        log->tokens.push_back(token);
        if (token == good) {
            return success();
        }
        if (refusal == Refusal::Plain) {
            return failure();
        }
        state->challenged = true;
        const std::string json = Base64Encode(R"({"status":"401","schemes":"bearer"})");
        return (type == ServerType::Smtp ? "334 " : "+ ") + json + "\r\n";
    };
    peer.Send(greeting);
    auto done = std::make_shared<std::size_t>(0);
    peer.onData = [=](LoopbackPeer& p) {
        for (std::size_t lf; (lf = p.received.find('\n', *done)) != std::string::npos;) {
            const std::string line = p.received.substr(*done, lf + 1 - *done);
            *done = lf + 1;
            std::string reply;
            if (state->challenged) {
                state->challenged = false;
                log->challengeAnswer = line;
                reply = failure();
            } else if (state->credentials) {
                state->credentials = false;
                reply = judge(line);
            } else {
                std::string command = line.substr(0, line.find('\r'));
                if (type == ServerType::Imap4) {
                    state->tag = command.substr(0, command.find(' '));
                    command = command.substr(command.find(' ') + 1);
                }
                if (command.rfind("AUTH", 0) == 0) {
                    const std::size_t second = command.find(' ', command.find(' ') + 1);
                    if (second != std::string::npos) {
                        log->initialResponse = true;
                        reply = judge(command.substr(second + 1));
                    } else {
                        state->credentials = true;
                        reply = type == ServerType::Smtp ? "334 \r\n" : "+ \r\n";
                    }
                } else if (command.rfind("EHLO", 0) == 0) {
                    reply = "250-fake\r\n250-AUTH LOGIN XOAUTH2\r\n250 SIZE 100\r\n";
                } else if (type == ServerType::Imap4) {
                    reply = state->tag + " OK done\r\n";
                } else {
                    reply = type == ServerType::Pop3 ? "+OK done\r\n" : "250 ok\r\n";
                }
            }
            p.Send(reply);
        }
    };
}

/// How a client of each protocol logs in with the local password, and what tells the result.
struct ClientScript {
    std::vector<std::pair<std::string, std::string>> steps;  ///< line, reply awaited
    std::string success;                                     ///< what the last reply starts with
};

ClientScript LoginScript(ServerType type, const std::string& password) {
    const std::string plain = Base64Encode(std::string("\0", 1) + kAccount + '\0' + password);
    switch (type) {
        case ServerType::Imap4:
            return {{{"a1 LOGIN " + std::string(kAccount) + " " + password + "\r\n", "a1 "}},
                    "a1 OK"};
        case ServerType::Pop3:
            return {{{"USER " + std::string(kAccount) + "\r\n", "+OK"},
                     {"PASS " + password + "\r\n", "\n"}},
                    "+OK"};
        case ServerType::Smtp:
            return {{{"EHLO me\r\n", "250 "}, {"AUTH PLAIN " + plain + "\r\n", "\n"}}, "235"};
    }
    return {};
}

class OAuthLoginTest : public test::RelayFixture {
  protected:
    OAuthLoginTest() { Engine().SetTokenSource(&tokens_); }

    std::uint16_t RelayTo(ServerType type, const LoopbackServer& server,
                          const std::string& mechanism = "") {
        const std::uint16_t port = test::FreePort(*loop_);
        ServerEntry entry = Entry(type, port, server);
        entry.SignIn = StoredSignInMethod(SignInMethod::OAuth2);
        entry.OAuth.Provider = mechanism.empty() ? "microsoft" : "other";
        entry.OAuth.Account = kAccount;
        entry.OAuth.Mechanism = mechanism;
        settings_.ServerList.push_back(entry);
        Engine().StartRelay();
        return port;
    }
    /// Runs `script`; the text of the last reply.
    std::string LogIn(LoopbackPeer& client, const ClientScript& script) {
        std::string last;
        for (const auto& [line, awaited] : script.steps) {
            const std::size_t before = client.received.size();
            client.Send(line);
            EXPECT_TRUE(Run([&] {
                return client.received.find(awaited, before) != std::string::npos &&
                       client.received.back() == '\n';
            })) << "no "
                << awaited << " after " << line << " in " << client.received;
            last = client.received.substr(before);
        }
        return last;
    }
    std::string Traced() const {
        std::string all;
        for (const std::string& write : trace_.writes) {
            all += write;
        }
        return all;
    }

    FakeTokens tokens_{*loop_};
};

TEST_F(OAuthLoginTest, EachProtocolLogsInRenewsOnceAndReportsTheRefusal) {
    struct Case {
        ServerType type;
        std::string mechanism;  ///< empty: XOAUTH2, as for Microsoft
        Refusal refusal;
        std::string first;    ///< the token given first
        std::string renewed;  ///< the token a renewal gives
        bool success;
        int tokensSent;
        std::string challengeAnswer;  ///< what the relay answers an error challenge with
    };
    const Case cases[] = {
        {ServerType::Imap4, "", Refusal::Plain, "good-token", "good-token", true, 1, ""},
        {ServerType::Imap4, "", Refusal::Plain, "stale", "good-token", true, 2, ""},
        {ServerType::Imap4, "", Refusal::Challenge, "stale", "good-token", true, 2, "\r\n"},
        {ServerType::Imap4, "OAUTHBEARER", Refusal::Challenge, "stale", "bad", false, 2,
         "AQ==\r\n"},
        {ServerType::Imap4, "", Refusal::Plain, "stale", "bad", false, 2, ""},
        {ServerType::Pop3, "", Refusal::Plain, "good-token", "good-token", true, 1, ""},
        {ServerType::Pop3, "", Refusal::Challenge, "stale", "good-token", true, 2, "\r\n"},
        {ServerType::Pop3, "OAUTHBEARER", Refusal::Challenge, "stale", "bad", false, 2, "AQ==\r\n"},
        {ServerType::Pop3, "", Refusal::Plain, "stale", "bad", false, 2, ""},
        {ServerType::Smtp, "", Refusal::Plain, "good-token", "good-token", true, 1, ""},
        {ServerType::Smtp, "", Refusal::Challenge, "stale", "good-token", true, 2, "\r\n"},
        {ServerType::Smtp, "OAUTHBEARER", Refusal::Challenge, "stale", "bad", false, 2, "AQ==\r\n"},
        {ServerType::Smtp, "", Refusal::Plain, "stale", "bad", false, 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.type)) + " " + c.mechanism + " " + c.first +
                     "/" + c.renewed);
        tokens_.answer.token = c.first;
        tokens_.renewed = c.renewed;
        tokens_.requests = tokens_.renews = 0;
        trace_.writes.clear();
        auto log = std::make_shared<ServerLog>();
        LoopbackServer server(*loop_);
        server.onConnection = [&](LoopbackPeer& p) {
            ServeOAuth(p, c.type, c.refusal, false, "good-token", log);
        };
        auto client = Client(RelayTo(c.type, server, c.mechanism));
        ASSERT_TRUE(Run([&] { return client->received.find('\n') != std::string::npos; }));
        const std::string reply = LogIn(*client, LoginScript(c.type, kLocalPassword));
        EXPECT_EQ(reply.rfind(LoginScript(c.type, kLocalPassword).success, 0) == 0, c.success)
            << reply;
        EXPECT_EQ(static_cast<int>(log->tokens.size()), c.tokensSent);
        EXPECT_EQ(tokens_.renews, c.tokensSent - 1);
        EXPECT_EQ(log->challengeAnswer, c.challengeAnswer);
        EXPECT_FALSE(log->initialResponse) << "credentials only after the go-ahead";
        for (const std::string& token : log->tokens) {
            EXPECT_NE(token, "?") << "a malformed SASL message";
        }
        // Neither the token nor the local password is ever traced.
        const std::string traced = Traced();
        for (const std::string& secret : {c.first, c.renewed, std::string(kLocalPassword)}) {
            EXPECT_EQ(traced.find(secret), std::string::npos) << traced;
        }
        EXPECT_NE(traced.find("AUTH"), std::string::npos) << traced;
        settings_.ServerList.clear();
    }
}

TEST_F(OAuthLoginTest, NothingReachesTheServerWithoutTheLocalPassword) {
    struct Case {
        ServerType type;
        std::string refusal;  ///< what the client's answer starts with
        AccessTokenAnswer::Kind tokens;
        std::string password;
    };
    const Case cases[] = {
        {ServerType::Imap4, "a1 NO [AUTHENTICATIONFAILED]", AccessTokenAnswer::Kind::Token, "x"},
        {ServerType::Pop3, "-ERR [AUTH]", AccessTokenAnswer::Kind::Token, "x"},
        {ServerType::Smtp, "535 5.7.8", AccessTokenAnswer::Kind::Token, "x"},
        {ServerType::Imap4, "a1 NO [UNAVAILABLE]", AccessTokenAnswer::Kind::Temporary,
         kLocalPassword},
        {ServerType::Pop3, "-ERR [SYS/TEMP]", AccessTokenAnswer::Kind::Temporary, kLocalPassword},
        {ServerType::Smtp, "454 4.7.0", AccessTokenAnswer::Kind::Temporary, kLocalPassword},
        {ServerType::Imap4, "a1 NO [AUTHENTICATIONFAILED]", AccessTokenAnswer::Kind::SignInNeeded,
         kLocalPassword},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusal);
        tokens_.answer = {c.tokens, "good-token", "the provider is unreachable"};
        auto log = std::make_shared<ServerLog>();
        LoopbackServer server(*loop_);
        server.onConnection = [&](LoopbackPeer& p) {
            ServeOAuth(p, c.type, Refusal::Plain, false, "good-token", log);
        };
        auto client = Client(RelayTo(c.type, server));
        ASSERT_TRUE(Run([&] { return client->received.find('\n') != std::string::npos; }));
        const std::string reply = LogIn(*client, LoginScript(c.type, c.password));
        EXPECT_EQ(reply.rfind(c.refusal, 0), 0u) << reply;
        EXPECT_TRUE(log->tokens.empty());
        ASSERT_FALSE(server.connections.empty());
        const std::string& seen = server.connections[0]->received;
        EXPECT_EQ(seen.find(c.password), std::string::npos) << seen;
        EXPECT_EQ(seen.find("AUTH"), std::string::npos) << seen;
        EXPECT_EQ(seen.find("LOGIN"), std::string::npos) << seen;
        settings_.ServerList.clear();
    }
}

TEST_F(OAuthLoginTest, TheClientIsOfferedWhatItCanUseAndMailWaitsForTheLogin) {
    struct Case {
        ServerType type;
        std::vector<std::pair<std::string, std::string>> steps;  ///< line, what its reply is
    };
    const Case cases[] = {
        {ServerType::Imap4,
         {{"", "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR] ready\r\n"},
          {"a0 AUTHENTICATE XOAUTH2\r\n", "a0 NO [CANNOT]"}}},
        {ServerType::Smtp,
         {{"", "220 ready\r\n"},
          {"MAIL FROM:<me@example.org>\r\n", "530 5.7.0 Authentication required"},
          {"EHLO me\r\n", "250-fake\r\n250-AUTH PLAIN LOGIN\r\n250 SIZE 100\r\n"},
          {"AUTH XOAUTH2\r\n", "504 5.5.4"},
          {"AUTH LOGIN\r\n", "334 VXNlcm5hbWU6\r\n"},
          {Base64Encode(kAccount) + "\r\n", "334 UGFzc3dvcmQ6\r\n"},
          {Base64Encode(kLocalPassword) + "\r\n", "235 2.7.0"}}},
        {ServerType::Pop3,
         {{"", "+OK ready\r\n"},
          {"AUTH\r\n", "+OK\r\nPLAIN\r\n.\r\n"},
          {"APOP me x\r\n", "-ERR [AUTH]"},
          {"AUTH PLAIN\r\n", "+ \r\n"},
          {"*\r\n", "-ERR Authentication cancelled"},
          {"AUTH PLAIN\r\n", "+ \r\n"},
          {Base64Encode(std::string("\0", 1) + kAccount + '\0' + kLocalPassword) + "\r\n",
           "+OK in"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.steps[0].second);
        auto log = std::make_shared<ServerLog>();
        LoopbackServer server(*loop_);
        server.onConnection = [&](LoopbackPeer& p) {
            ServeOAuth(p, c.type, Refusal::Plain, true, "good-token", log);
        };
        auto client = Client(RelayTo(c.type, server));
        for (const auto& [line, reply] : c.steps) {
            const std::size_t before = client->received.size();
            client->Send(line);
            ASSERT_TRUE(Run([&] {
                return client->received.size() >= before + reply.size() &&
                       client->received.back() == '\n';
            })) << line;
            EXPECT_EQ(client->received.substr(before, reply.size()), reply) << line;
        }
        EXPECT_EQ(server.connections[0]->received.find("MAIL"), std::string::npos);
        settings_.ServerList.clear();
    }
}

TEST_F(OAuthLoginTest, LiteralsInitialResponsesAndPipelinedCommandsAfterTheLogin) {
    auto log = std::make_shared<ServerLog>();
    LoopbackServer server(*loop_);
    server.onConnection = [&](LoopbackPeer& p) {
        ServeOAuth(p, ServerType::Imap4, Refusal::Plain, true, "good-token", log);
    };
    auto client = Client(RelayTo(ServerType::Imap4, server));
    ASSERT_TRUE(Run([&] { return client->received.find('\n') != std::string::npos; }));
    // A synchronising literal gets the relay's go-ahead; the rest of the login follows it.
    client->Send("a1 LOGIN {14}\r\n");
    ASSERT_TRUE(Run([&] { return client->received.find("+ Ready") != std::string::npos; }));
    client->Send(std::string(kAccount) + " {8+}\r\n" + kLocalPassword + "\r\na2 NOOP\r\n");
    ASSERT_TRUE(Run([&] { return client->received.find("a2 OK") != std::string::npos; }));
    EXPECT_NE(client->received.find("a1 OK authenticated\r\na2 OK done\r\n"), std::string::npos)
        << client->received;
    // With SASL-IR offered, the credentials came with the command.
    EXPECT_TRUE(log->initialResponse);
    ASSERT_EQ(log->tokens.size(), 1u);
    EXPECT_EQ(log->tokens[0], "good-token");
    EXPECT_NE(server.connections[0]->received.find("a2 NOOP\r\n"), std::string::npos);
    const std::string traced = Traced();
    EXPECT_NE(traced.find("a1 AUTHENTICATE XOAUTH2 ****"), std::string::npos) << traced;
}

TEST_F(OAuthLoginTest, HostilePeersNeitherHangTheSessionNorLearnTheLocalPassword) {
    // A line too long for any login passes on as it came; a PLAIN response naming someone else
    // or holding a stray NUL is refused; a server that leaves during the exchange leaves the
    // client with a temporary failure.
    auto log = std::make_shared<ServerLog>();
    LoopbackServer server(*loop_);
    bool leave = false;
    server.onConnection = [&](LoopbackPeer& p) {
        ServeOAuth(p, ServerType::Pop3, Refusal::Plain, false, "good-token", log);
        auto inner = p.onData;
        p.onData = [this, &leave, inner](LoopbackPeer& peer) {
            if (leave && peer.received.find("AUTH XOAUTH2") != std::string::npos) {
                loop_->Post([&peer] { peer.Close(); });  // not inside the socket's own event
                return;
            }
            inner(peer);
        };
    };
    auto client = Client(RelayTo(ServerType::Pop3, server));
    ASSERT_TRUE(Run([&] { return client->received.find('\n') != std::string::npos; }));
    const std::string huge = "NOOP " + std::string(100000, 'x') + "\r\n";
    client->Send(huge);
    ASSERT_TRUE(Run([&] { return client->received.find("+OK done") != std::string::npos; }));
    EXPECT_NE(server.connections[0]->received.find(huge), std::string::npos);

    const struct {
        std::string response;
        std::string reply;
    } plain[] = {
        {std::string("someone\0", 8) + kAccount + '\0' + kLocalPassword, "-ERR That is no"},
        {std::string("\0", 1) + kAccount + '\0' + kLocalPassword + '\0', "-ERR That is no"},
        {"no base64 at all", "-ERR That is no"},
    };
    for (const auto& c : plain) {
        const std::size_t before = client->received.size();
        const std::string line =
            c.response == "no base64 at all" ? c.response : Base64Encode(c.response);
        client->Send("AUTH PLAIN " + line + "\r\n");
        ASSERT_TRUE(Run([&] {
            return client->received.find(c.reply, before) != std::string::npos;
        })) << client->received.substr(before);
    }
    leave = true;
    const std::string reply = LogIn(*client, LoginScript(ServerType::Pop3, kLocalPassword));
    EXPECT_EQ(reply.rfind("-ERR [SYS/TEMP]", 0), 0u) << reply;
    // The client's next try gets a renewed token.
    EXPECT_EQ(tokens_.renews, 1);
    ASSERT_TRUE(Run([&] { return client->closed; }));
    EXPECT_EQ(server.connections[0]->received.find(kLocalPassword), std::string::npos);
}

TEST_F(OAuthLoginTest, ALoginTooLongOrCutShortNeverReachesTheServer) {
    // Whatever a login of that length holds, and what follows it, may be the local password.
    const std::string secret(UpstreamAuthenticator::kMaxLoginLine, 's');
    const struct {
        ServerType type;
        std::string start;  ///< the login, before the secret
        std::string answer;
    } cases[] = {
        {ServerType::Pop3, "PASS ", "-ERR [AUTH] Vantel: that login is too long\r\n"},
        {ServerType::Imap4, "a1 LOGIN me {20000+}\r\n", "* BAD Vantel: that login is too long\r\n"},
        {ServerType::Imap4, "a1 authenticate PLAIN ", "* BAD Vantel: that login is too long\r\n"},
        {ServerType::Smtp, "AUTH PLAIN ", "500 5.5.6 Vantel: that login is too long\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        LoopbackServer server(*loop_);
        server.onConnection = [&](LoopbackPeer& p) {
            ServeOAuth(p, c.type, Refusal::Plain, false, "good-token",
                       std::make_shared<ServerLog>());
        };
        auto client = Client(RelayTo(c.type, server));
        ASSERT_TRUE(Run([&] { return client->received.find('\n') != std::string::npos; }));
        const std::size_t before = client->received.size();
        client->Send(c.start + secret);
        ASSERT_TRUE(Run([&] {
            return client->received.find(c.answer, before) != std::string::npos;
        })) << client->received.substr(before, 200);
        client->Send(" {5}\r\nNOOP " + secret + "\r\nNOOP after\r\n");
        client->ShutDownSend();
        ASSERT_TRUE(
            Run([&] { return server.connections.size() == 1 && server.connections[0]->closed; }));
        EXPECT_EQ(server.connections[0]->received.find("sss"), std::string::npos);
        EXPECT_EQ(server.connections[0]->received.find("after"), std::string::npos);
        settings_.ServerList.clear();
    }

    // A login the client never ends is dropped at its half-close; other text passes.
    const struct {
        std::string unfinished;
        bool passes;
    } ends[] = {{std::string("PASS ") + kLocalPassword, false}, {"NOOP half", true}};
    for (const auto& e : ends) {
        SCOPED_TRACE(e.unfinished);
        LoopbackServer server(*loop_);
        server.onConnection = [&](LoopbackPeer& p) {
            ServeOAuth(p, ServerType::Pop3, Refusal::Plain, false, "good-token",
                       std::make_shared<ServerLog>());
        };
        auto client = Client(RelayTo(ServerType::Pop3, server));
        ASSERT_TRUE(Run([&] { return client->received.find('\n') != std::string::npos; }));
        LogIn(*client, {{{"USER " + std::string(kAccount) + "\r\n", "+OK"}}, "+OK"});
        client->Send(e.unfinished);
        client->ShutDownSend();
        ASSERT_TRUE(
            Run([&] { return server.connections.size() == 1 && server.connections[0]->closed; }));
        EXPECT_EQ(server.connections[0]->received.find(e.unfinished) != std::string::npos, e.passes)
            << server.connections[0]->received;
        settings_.ServerList.clear();
    }
}

}  // namespace
}  // namespace vantel
