// Logins over real connections: replaced on the wire where the entry has one, never in the
// trace in clear, and message text traced as it is.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "core/rewrite/CredentialCodec.h"
#include "relay/RelayFixture.h"

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

}  // namespace
}  // namespace vantel
