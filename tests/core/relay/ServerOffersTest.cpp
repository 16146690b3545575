// Server offers that would take a session out of the relay's hands: IMAP compression, and
// POP3 logins other than USER and PASS when the relay sends a stored login.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/config/CredentialCodec.h"
#include "core/protocol/imap/ImapCapabilityFilter.h"
#include "core/protocol/pop3/Pop3OfferFilter.h"
#include "core/relay/RelayFixture.h"

namespace vantel {
namespace {

using test::LoopbackPeer;
using test::LoopbackServer;

class ServerOffersTest : public test::RelayFixture {
  protected:
    /// A client of an entry of `type` in front of `server`, and the server's end of it.
    /// `greeting` is what the server says first; `login` stores a POP3 login with the entry.
    LoopbackPeer& Connect(LoopbackServer& server, ServerType type, std::string greeting,
                          std::unique_ptr<LoopbackPeer>& client, bool login = false) {
        const std::uint16_t port = test::FreePort(*loop_);
        ServerEntry entry = Entry(type, port, server);
        if (login) {
            CredentialBlock block{};
            entry.CredentialLength = PackCredentials(block, "stored", "secret");
            entry.Credentials = block;
        }
        settings_.ServerList = {entry};
        Engine().StartRelay();
        server.onConnection = [greeting](LoopbackPeer& peer) {
            peer.SetNoDelay();
            peer.Send(greeting);
        };
        client = Client(port);
        client->SetNoDelay();
        EXPECT_TRUE(Run([&] { return server.connections.size() == 1; }));
        return *server.connections.at(0);
    }
    /// The server sends `text` in two writes cut at `cut`; the client is to get `expected`.
    void Answer(LoopbackPeer& server, LoopbackPeer& client, const std::string& text,
                std::size_t cut, const std::string& expected) {
        client.received.clear();
        server.Send(text.substr(0, cut));
        Run([] { return false; }, 2);
        server.Send(text.substr(cut));
        ASSERT_TRUE(Run([&] { return client.received.size() >= expected.size(); }))
            << "cut at " << cut << ": " << client.received;
        ASSERT_EQ(client.received, expected) << "cut at " << cut;
    }
    /// The client sends `text`; the server is to get `forwarded` of it and the client
    /// `answered` by the relay.
    void Command(LoopbackPeer& server, LoopbackPeer& client, const std::string& text,
                 const std::string& forwarded, const std::string& answered) {
        server.received.clear();
        client.received.clear();
        client.Send(text);
        ASSERT_TRUE(Run([&] {
            return server.received.size() >= forwarded.size() &&
                   client.received.size() >= answered.size();
        })) << text;
        Run([] { return false; }, 20);
        EXPECT_EQ(server.received, forwarded);
        EXPECT_EQ(client.received, answered);
    }
    bool Traced(std::string_view text) const {
        return std::any_of(trace_.writes.begin(), trace_.writes.end(),
                           [&](const std::string& w) { return w.find(text) != std::string::npos; });
    }
};

TEST_F(ServerOffersTest, ImapCapabilityListsLoseCompressWhereverTheyAreCut) {
    LoopbackServer listener(*loop_);
    std::unique_ptr<LoopbackPeer> client;
    LoopbackPeer& server =
        Connect(listener, ServerType::Imap4,
                "* OK [CAPABILITY IMAP4rev1 COMPRESS=DEFLATE LITERAL+] ready\r\n", client);
    ASSERT_TRUE(Run([&] {
        return client->received == "* OK [CAPABILITY IMAP4rev1 LITERAL+] ready\r\n";
    })) << client->received;
    // A fetched message is no capability list, whatever it holds.
    const std::string fetched = "* CAPABILITY IMAP4rev1 COMPRESS=DEFLATE\r\n";
    const std::string fetch =
        "* 1 FETCH (BODY[] {" + std::to_string(fetched.size()) + "}\r\n" + fetched + ")\r\n";
    const std::string answers =
        "* CAPABILITY IMAP4rev1 compress=deflate IDLE COMPRESS=X\r\n"
        "* OK [ALERT] COMPRESS=DEFLATE stays in other text\r\n" +
        fetch + "a1 OK [CAPABILITY IMAP4rev1 COMPRESS=DEFLATE SASL-IR] Logged in\r\n";
    const std::string filtered =
        "* CAPABILITY IMAP4rev1 IDLE\r\n"
        "* OK [ALERT] COMPRESS=DEFLATE stays in other text\r\n" +
        fetch + "a1 OK [CAPABILITY IMAP4rev1 SASL-IR] Logged in\r\n";
    for (std::size_t cut = 0; cut <= answers.size(); ++cut) {
        Answer(server, *client, answers, cut, filtered);
    }
    EXPECT_FALSE(Traced("compress=deflate"));

    // A client that asks all the same is turned down by the relay; the session goes on.
    Command(server, *client, "c1 COMPRESS DEFLATE\r\nc2 NOOP\r\n", "c2 NOOP\r\n",
            "c1" + std::string(ImapCapabilityFilter::kRefusalText));
}

TEST_F(ServerOffersTest, Pop3WithAStoredLoginOffersOnlyUserAndPass) {
    LoopbackServer listener(*loop_);
    std::unique_ptr<LoopbackPeer> client;
    LoopbackPeer& server = Connect(listener, ServerType::Pop3,
                                   "+OK ready <1896.697170952@mx.example.org>\r\n", client, true);
    ASSERT_TRUE(Run([&] { return client->received == "+OK ready\r\n"; })) << client->received;

    const std::string capa = "+OK\r\nTOP\r\nSASL PLAIN LOGIN\r\nUSER\r\nsasl\r\n.\r\n";
    for (std::size_t cut = 0; cut <= capa.size(); ++cut) {
        Command(server, *client, "CAPA\r\n", "CAPA\r\n", "");
        Answer(server, *client, capa, cut, "+OK\r\nTOP\r\nUSER\r\n.\r\n");
    }
    EXPECT_FALSE(Traced("SASL PLAIN"));

    // AUTH and APOP are answered by the relay, in turn with the server's answers.
    const std::string refusal(Pop3OfferFilter::kRefusalText);
    Command(server, *client, "AUTH PLAIN AGFsaWNlAHM=\r\napop alice 0123\r\n", "",
            refusal + refusal);
    Command(server, *client, "CAPA\r\nAUTH\r\nUSER anyone\r\n", "CAPA\r\nUSER stored\r\n", "");
    Answer(server, *client, capa + "+OK\r\n", 0,
           "+OK\r\nTOP\r\nUSER\r\n.\r\n" + refusal + "+OK\r\n");

    // A message that holds such lines comes as it was; it ends at its "." line and no
    // sooner, wherever it is cut, so the CAPA answer after it is still filtered.
    const std::string message = "+OK\r\nX: <a@b>\r\nSASL x\r\nA.b\r\n..\r\n.x\r\n.\r\n";
    for (std::size_t cut = 0; cut <= message.size(); ++cut) {
        Command(server, *client, "RETR 1\r\nCAPA\r\n", "RETR 1\r\nCAPA\r\n", "");
        Answer(server, *client, message + capa, cut, message + "+OK\r\nTOP\r\nUSER\r\n.\r\n");
    }
}

TEST_F(ServerOffersTest, Pop3WithoutAStoredLoginPassesEverything) {
    LoopbackServer listener(*loop_);
    std::unique_ptr<LoopbackPeer> client;
    const std::string greeting = "+OK ready <1896.697170952@mx.example.org>\r\n";
    LoopbackPeer& server = Connect(listener, ServerType::Pop3, greeting, client);
    ASSERT_TRUE(Run([&] { return client->received == greeting; })) << client->received;
    const std::string capa = "+OK\r\nSASL PLAIN\r\n.\r\n";
    Command(server, *client, "CAPA\r\n", "CAPA\r\n", "");
    Answer(server, *client, capa, 7, capa);
    Command(server, *client, "AUTH PLAIN\r\n", "AUTH PLAIN\r\n", "");
}

}  // namespace
}  // namespace vantel
