#include "core/relay/RelayEngine.h"

#include <gtest/gtest.h>

#include <random>

#include "core/config/CredentialCodec.h"
#include "core/config/StoredKludges.h"
#include "core/relay/RelayFixture.h"

namespace vantel {
namespace {

using RelayEngineTest = test::RelayFixture;
using test::LoopbackPeer;
using test::LoopbackServer;

TEST_F(RelayEngineTest, SmtpSessionIsRewrittenOnTheWireAndStateFollowsIt) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) { p.Send("220 ready\r\n"); };
    const std::uint16_t port = test::FreePort(*loop_);
    settings_.DefaultPort = port;
    settings_.ServerList = {Entry(ServerType::Smtp, port, server)};
    settings_.Kludges =
        PairKludges({"0 X-Mailer:", "0 To:"}, {"0 Vantel", "0 <rewritten@example.org>"});
    Engine().StartRelay();
    Engine().SetRelayState(true, false);
    ASSERT_EQ(Engine().Listeners().size(), 1u);

    auto client = Client(port);
    ASSERT_TRUE(Run([&] { return client->received == "220 ready\r\n"; }));
    EXPECT_TRUE(Engine().relayBusy());
    EXPECT_FALSE(Engine().relayEnabled());
    client->Send("MAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nDATA\r\n");
    const std::string envelope = "MAIL FROM:<a@b>\r\nTo:  <rewritten@example.org>\r\nDATA\r\n";
    ASSERT_TRUE(Run([&] { return server.connections[0]->received.size() >= envelope.size(); }));
    EXPECT_EQ(server.connections[0]->received, envelope);
    server.connections[0]->Send("354 go\r\n");
    ASSERT_TRUE(Run([&] { return client->received.size() > 11; }));
    const std::string body = "Body line\r\nX-Mailer: stays in body\r\n.\r\n";
    client->Send("X-Mailer: Other\r\nSubject: hi\r\n\r\n" + body);
    const std::string expected = "X-Mailer:  Vantel\r\nSubject: hi\r\n\r\n" + body;
    ASSERT_TRUE(Run([&] {
        return server.connections[0]->received.size() >= envelope.size() + expected.size();
    }));
    EXPECT_EQ(server.connections[0]->received.substr(envelope.size()), expected);

    // The client's end reaches the server as an end of stream; the session is over once the
    // server has closed too.
    client->Close();
    ASSERT_TRUE(Run([&] { return server.connections[0]->closed; }));
    EXPECT_TRUE(Engine().relayBusy());
    server.connections[0]->Close();
    ASSERT_TRUE(Run([&] { return Engine().SessionCount() == 0; }));
    EXPECT_TRUE(Engine().relayEnabled());
    EXPECT_FALSE(Engine().relayBusy());
}

TEST_F(RelayEngineTest, Pop3LoginIsReplacedAndRetrievedMailRewritten) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) {
        p.Send("+OK POP3\r\n");
        p.onData = [](LoopbackPeer& q) {
            if (q.received.find("RETR 1\r\n") != std::string::npos &&
                q.received.find("+OK sent") == std::string::npos) {
                q.Send("+OK message\r\nSubject: old\r\nX-Keep: 1\r\n\r\nSubject: body\r\n.\r\n");
            }
        };
    };
    const std::uint16_t port = test::FreePort(*loop_);
    settings_.DefaultPOPPort = port;
    settings_.DefaultPOPServer = 1;
    ServerEntry entry = Entry(ServerType::Pop3, port, server);
    CredentialBlock block{};
    entry.CredentialLength = PackCredentials(block, "stored", "secret");
    entry.Credentials = block;
    settings_.ServerList = {entry};
    settings_.Kludges = PairKludges({"1 Subject:"}, {"0 new"});
    Engine().StartRelay();

    auto client = Client(port);
    ASSERT_TRUE(Run([&] { return client->received == "+OK POP3\r\n"; }));
    client->Send("USER me\r\nPASS mine\r\nRETR 1\r\n");
    ASSERT_TRUE(Run([&] { return client->received.find(".\r\n") != std::string::npos; }));
    EXPECT_EQ(server.connections[0]->received, "USER stored\r\nPASS secret\r\nRETR 1\r\n");
    EXPECT_EQ(
        client->received,
        "+OK POP3\r\n+OK message\r\nSubject:  new\r\nX-Keep: 1\r\n\r\nSubject: body\r\n.\r\n");
    // The trace shows no password, neither the client's nor the stored one.
    for (const std::string& write : trace_.writes) {
        EXPECT_EQ(write.find("secret"), std::string::npos) << write;
        EXPECT_EQ(write.find("mine"), std::string::npos) << write;
    }
}

TEST_F(RelayEngineTest, DefaultGroupsListenOnlyThroughTheirChosenEntry) {
    LoopbackServer server(*loop_);
    settings_.DefaultPort = test::FreePort(*loop_);
    settings_.DefaultPOPPort = test::FreePort(*loop_);
    const std::uint16_t other = test::FreePort(*loop_);
    const auto smtp = Entry(ServerType::Smtp, settings_.DefaultPort, server);
    const auto pop = Entry(ServerType::Pop3, settings_.DefaultPOPPort, server);
    settings_.ServerList = {smtp, smtp, smtp, pop, pop, Entry(ServerType::Imap4, other, server)};
    settings_.DefaultServer = 1;
    settings_.DefaultPOPServer = 0;
    Engine().StartRelay();
    std::vector<int> listening;
    for (const auto& l : Engine().Listeners())
        listening.push_back(l->entryIndex);
    EXPECT_EQ(listening, (std::vector<int>{1, 5}));
    EXPECT_EQ(Engine().FindDefaultListener(ServerType::Smtp), 1);
    EXPECT_EQ(Engine().FindDefaultListener(ServerType::Pop3), -1);

    // Choosing another default re-points the open port without reopening it.
    Engine().SelectDefaultServer(2, ServerType::Smtp);
    EXPECT_EQ(Engine().FindDefaultListener(ServerType::Smtp), 2);
    EXPECT_EQ(Engine().Listeners().size(), 2u);

    Engine().CloseListeners();
    settings_.DefaultServer = 3;
    settings_.DefaultPOPServer = 2;
    Engine().StartRelay();
    listening.clear();
    for (const auto& l : Engine().Listeners())
        listening.push_back(l->entryIndex);
    EXPECT_EQ(listening, (std::vector<int>{4, 5}));
}

TEST_F(RelayEngineTest, ANewDefaultServerTakesTheNextConnectionOnTheSamePort) {
    LoopbackServer first(*loop_), second(*loop_);
    first.onConnection = [](LoopbackPeer& p) { p.Send("220 first\r\n"); };
    second.onConnection = [](LoopbackPeer& p) { p.Send("220 second\r\n"); };
    const std::uint16_t port = test::FreePort(*loop_);
    settings_.DefaultPort = port;
    settings_.ServerList = {Entry(ServerType::Smtp, port, first),
                            Entry(ServerType::Smtp, port, second)};
    Engine().StartRelay();
    auto before = Client(port);
    ASSERT_TRUE(Run([&] { return before->received == "220 first\r\n"; }));
    const ListenSocket* listening = Engine().Listeners()[0].get();

    Engine().SelectDefaultServer(1, ServerType::Smtp);
    settings_.DefaultServer = 1;
    auto after = Client(port);
    ASSERT_TRUE(Run([&] { return after->received == "220 second\r\n"; }));
    EXPECT_EQ(Engine().Listeners()[0].get(), listening);
    EXPECT_FALSE(before->closed);
}

TEST_F(RelayEngineTest, PopCyclingRelaysEachConnectionToTheNextAccount) {
    LoopbackServer a(*loop_), b(*loop_), c(*loop_);
    for (LoopbackServer* s : {&a, &b, &c}) {
        s->onConnection = [](LoopbackPeer& p) { p.Send("+OK\r\n"); };
    }
    const std::uint16_t port = test::FreePort(*loop_);
    settings_.DefaultPOPPort = port;
    settings_.DefaultPOPServer = 1;
    settings_.POPCycleChange = 1;
    settings_.ServerList = {Entry(ServerType::Pop3, port, a), Entry(ServerType::Pop3, port, b),
                            Entry(ServerType::Pop3, port, c)};
    Engine().StartRelay();
    std::vector<std::unique_ptr<LoopbackPeer>> clients;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(Client(port));
        ASSERT_TRUE(Run([&] { return clients.back()->received == "+OK\r\n"; }));
    }
    EXPECT_EQ(a.connections.size(), 2u);
    EXPECT_EQ(b.connections.size(), 1u);
    EXPECT_EQ(c.connections.size(), 1u);
    EXPECT_EQ(settings_.DefaultPOPServer, 2);
}

TEST_F(RelayEngineTest, SilentServerIsCutAfterTheConnectTimeoutButAGreetingSavesTheSession) {
    LoopbackServer silent(*loop_);
    LoopbackServer talker(*loop_);
    talker.onConnection = [](LoopbackPeer& p) { p.Send("220 hi\r\n"); };
    const std::uint16_t port1 = test::FreePort(*loop_);
    const std::uint16_t port2 = test::FreePort(*loop_);
    settings_.ConnectTimeout = 1;
    settings_.ServerList = {Entry(ServerType::Imap4, port1, silent),
                            Entry(ServerType::Imap4, port2, talker)};
    Engine().StartRelay();
    const std::uint64_t start = loop_->NowMs();
    auto quiet = Client(port1);
    auto greeted = Client(port2);
    ASSERT_TRUE(Run([&] { return quiet->closed; }, 5000));
    const std::uint64_t elapsed = loop_->NowMs() - start;
    EXPECT_GE(elapsed, 900u);
    EXPECT_LE(elapsed, 2600u);
    // Well past the time-out, the greeted session still stands.
    Run([] { return false; }, 1500);
    EXPECT_FALSE(greeted->closed);
    EXPECT_EQ(Engine().SessionCount(), 1u);
}

TEST_F(RelayEngineTest, ClientLeavingSilentlyWhileTheServerIsStillConnectingEndsCleanly) {
    LoopbackServer server(*loop_);
    const std::uint16_t port = test::FreePort(*loop_);
    settings_.ConnectTimeout = 1;
    ServerEntry entry = Entry(ServerType::Smtp, port, server);
    entry.Name = "localhost";  // a lookup first: the client is gone before the connect
    settings_.ServerList = {entry};
    settings_.DefaultPort = port;
    Engine().StartRelay();
    std::vector<std::unique_ptr<LoopbackPeer>> clients;
    for (int i = 0; i < 20; ++i) {
        clients.push_back(Client(port));
    }
    ASSERT_TRUE(Run([&] { return Engine().SessionCount() == 20; }));
    clients.clear();
    ASSERT_TRUE(Run([&] { return Engine().SessionCount() == 0; }));
    // A later sweep finds nothing left to touch, and nobody was left waiting at the server.
    Run([] { return false; }, 1200);
    EXPECT_EQ(Engine().SessionCount(), 0u);
    for (const auto& connection : server.connections) {
        EXPECT_TRUE(connection->received.empty());
    }
}

TEST_F(RelayEngineTest, UnresolvableHostEndsOnlyItsSession) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) { p.Send("220 ok\r\n"); };
    const std::uint16_t bad = test::FreePort(*loop_);
    const std::uint16_t good = test::FreePort(*loop_);
    ServerEntry unresolvable = Entry(ServerType::Imap4, bad, server);
    unresolvable.Name = "no-such-host.invalid";
    settings_.ServerList = {unresolvable, Entry(ServerType::Imap4, good, server)};
    Engine().StartRelay();
    auto working = Client(good);
    ASSERT_TRUE(Run([&] { return working->received == "220 ok\r\n"; }));
    auto failing = Client(bad);
    ASSERT_TRUE(Run([&] { return failing->closed; }));
    ASSERT_TRUE(Run([&] { return !notifier_.messages.empty(); }));
    EXPECT_EQ(notifier_.messages[0], "Error connecting to host");
    EXPECT_FALSE(working->closed);
    EXPECT_EQ(Engine().Listeners().size(), 2u);
    EXPECT_TRUE(Engine().relayBusy());
}

TEST_F(RelayEngineTest, ListenersTakeLoopbackOnlyUnlessOpenedUp) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) { p.Send("* OK\r\n"); };
    const std::uint16_t port = test::FreePort(*loop_);
    const std::string portText = std::to_string(port);
    settings_.ServerList = {Entry(ServerType::Imap4, port, server)};
    Engine().StartRelay();
    ASSERT_EQ(Engine().Listeners().size(), 1u);
    std::vector<SocketAddress> addresses = Engine().Listeners()[0]->LocalAddresses();
    ASSERT_GE(addresses.size(), 1u);
    EXPECT_EQ(addresses[0].ToString(), "127.0.0.1:" + portText);
    if (addresses.size() == 2) {
        EXPECT_EQ(addresses[1].ToString(), "[::1]:" + portText);
        auto client = std::make_unique<LoopbackPeer>(*loop_);
        ASSERT_TRUE(client->Connect(port, true));
        ASSERT_TRUE(Run([&] { return client->received == "* OK\r\n"; }));
    }

    settings_.ListenAddress = "*";
    host_.Apply();
    ASSERT_EQ(Engine().Listeners().size(), 1u);
    addresses = Engine().Listeners()[0]->LocalAddresses();
    ASSERT_EQ(addresses.size(), 1u);
    const std::string everywhere = addresses[0].ToString();
    EXPECT_TRUE(everywhere == "0.0.0.0:" + portText || everywhere == "[::]:" + portText)
        << everywhere;
    auto client = Client(port);
    ASSERT_TRUE(Run([&] { return client->received == "* OK\r\n"; }));
}

TEST_F(RelayEngineTest, RefusedConnectionEndsTheSessionAtOnce) {
    LoopbackServer server(*loop_);
    const std::uint16_t port = test::FreePort(*loop_);
    ServerEntry entry = Entry(ServerType::Smtp, port, server);
    entry.RemotePort = test::FreePort(*loop_);  // nothing listens there
    settings_.DefaultPort = port;
    settings_.ConnectTimeout = 0;  // without the fix the client would wait forever
    settings_.ServerList = {entry};
    Engine().StartRelay();
    auto client = Client(port);
    ASSERT_TRUE(Run([&] { return client->closed && !notifier_.messages.empty(); }, 5000));
    EXPECT_EQ(notifier_.messages[0], "Error connecting to host");
    EXPECT_EQ(Engine().Listeners().size(), 1u);
    EXPECT_TRUE(Run([&] { return Engine().relayEnabled() && !Engine().relayBusy(); }));
}

TEST_F(RelayEngineTest, PortInUseIsReportedAndTheOtherEntriesStillListen) {
    LoopbackServer server(*loop_);
    const std::uint16_t taken = server.port();
    const std::uint16_t free = test::FreePort(*loop_);
    settings_.ServerList = {Entry(ServerType::Imap4, taken, server),
                            Entry(ServerType::Imap4, free, server)};
    Engine().StartRelay();
    EXPECT_EQ(Engine().Listeners().size(), 1u);
    ASSERT_TRUE(Run([&] { return !notifier_.messages.empty(); }));
    EXPECT_EQ(notifier_.messages[0], "Unable to listen on local port");
}

TEST_F(RelayEngineTest, TraceWritesFollowTheDirectionTurns) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) {
        p.Send("220 a\r\n");
        p.onData = [](LoopbackPeer& q) {
            if (q.received == "EHLO x\r\n")
                q.Send("250 b\r\n");
        };
    };
    const std::uint16_t port = test::FreePort(*loop_);
    settings_.ServerList = {Entry(ServerType::Imap4, port, server)};
    Engine().StartRelay();
    auto client = Client(port);
    ASSERT_TRUE(Run([&] { return client->received == "220 a\r\n"; }));
    client->Send("EHLO x\r\n");
    ASSERT_TRUE(Run([&] { return client->received == "220 a\r\n250 b\r\n"; }));
    EXPECT_EQ(trace_.writes,
              (std::vector<std::string>{"[Vantel] ", "OUT: \n", "[Vantel] 220 a\r\n", "[Vantel] ",
                                        "IN: \n", "[Vantel] EHLO x\r\n", "[Vantel] ", "OUT: \n",
                                        "[Vantel] 250 b\r\n"}));
}

TEST_F(RelayEngineTest, ABurstIsTracedInBlocksOfAtMost2048Bytes) {
    LoopbackServer server(*loop_);
    const std::string burst(3000, 'b');
    server.onConnection = [&](LoopbackPeer& p) { p.Send(burst); };
    const std::uint16_t port = test::FreePort(*loop_);
    settings_.ServerList = {Entry(ServerType::Imap4, port, server)};
    Engine().StartRelay();
    auto client = Client(port);
    ASSERT_TRUE(Run([&] { return client->received == burst; }));
    std::vector<std::size_t> traced;
    for (const std::string& write : trace_.writes) {
        if (write.rfind("[Vantel] b", 0) == 0)
            traced.push_back(write.size() - 9);
    }
    // Each block read shows its first 255 bytes; 3,000 bytes take at least two reads.
    ASSERT_GE(traced.size(), 2u);
    for (std::size_t size : traced)
        EXPECT_LE(size, 255u);
}

TEST_F(RelayEngineTest, LargeTransfersArriveByteExactWithASlowReader) {
    std::mt19937 random(3);
    std::string upload(20 << 20, '\0');
    for (char& c : upload)
        c = static_cast<char>(random());
    // Replies interleaved with the upload send its stream back to header reading, where an
    // unfinished last line waits for its line end; so the upload ends with one.
    upload.replace(upload.size() - 2, 2, "\r\n");
    const std::string download = upload.substr(1000) + upload.substr(0, 1000);

    LoopbackServer server(*loop_);
    server.onConnection = [&](LoopbackPeer& p) {
        p.ReadSlowly(64 * 1024, 1);
        p.Send(download);
    };
    const std::uint16_t port = test::FreePort(*loop_);
    settings_.ServerList = {Entry(ServerType::Imap4, port, server)};
    Engine().StartRelay();
    auto client = Client(port);
    client->ReadSlowly(64 * 1024, 1);
    // The header ends at once, so the rest passes as body.
    client->Send("\r\n" + upload);
    ASSERT_TRUE(Run(
        [&] {
            return client->received.size() == download.size() && !server.connections.empty() &&
                   server.connections[0]->received.size() == upload.size() + 2;
        },
        60000))
        << "client got " << client->received.size() << " of " << download.size() << ", server got "
        << (server.connections.empty() ? 0 : server.connections[0]->received.size()) << " of "
        << upload.size() + 2;
    EXPECT_TRUE(client->received == download);
    EXPECT_TRUE(server.connections[0]->received == "\r\n" + upload);
}

TEST_F(RelayEngineTest, DataSentRightBeforeACloseIsDelivered) {
    LoopbackServer server(*loop_);
    const std::string farewell = "221 bye\r\n" + std::string(100000, 'z');
    server.onConnection = [&](LoopbackPeer& p) {
        p.Send(farewell);
        p.Close();
    };
    const std::uint16_t port = test::FreePort(*loop_);
    settings_.ServerList = {Entry(ServerType::Imap4, port, server)};
    Engine().StartRelay();
    auto client = Client(port);
    client->Send("QUIT");  // an incomplete last line is passed on when the client leaves
    ASSERT_TRUE(Run([&] { return client->closed; }));
    EXPECT_TRUE(client->received == farewell);
    client->Close();
    ASSERT_TRUE(Run([&] { return Engine().SessionCount() == 0; }));
}

TEST_F(RelayEngineTest, FiveHundredConcurrentSessions) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) {
        p.onData = [](LoopbackPeer& q) {
            if (q.received == "PING\r\n")
                q.Send("PONG\r\n");
        };
    };
    const std::uint16_t port = test::FreePort(*loop_);
    settings_.ServerList = {Entry(ServerType::Imap4, port, server)};
    Engine().StartRelay();
    std::vector<std::unique_ptr<LoopbackPeer>> clients;
    for (int i = 0; i < 500; ++i) {
        clients.push_back(Client(port));
        clients.back()->Send("PING\r\n");
    }
    const auto allAnswered = [&] {
        for (const auto& c : clients) {
            if (c->received != "PONG\r\n")
                return false;
        }
        return true;
    };
    ASSERT_TRUE(Run(allAnswered, 30000));
    EXPECT_EQ(Engine().SessionCount(), 500u);
}

TEST_F(RelayEngineTest, AnIPv6AddressInBracketsIsAServersHost) {
    LoopbackServer server(*loop_, "::1");
    if (!server.listening()) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    server.onConnection = [](LoopbackPeer& p) { p.Send("220 six\r\n"); };
    const std::uint16_t port = test::FreePort(*loop_);
    ServerEntry entry = Entry(ServerType::Smtp, port, server);
    entry.Name = "[::1]";
    settings_.ServerList = {entry};
    Engine().StartRelay();
    auto client = Client(port);
    ASSERT_TRUE(Run([&] { return client->received == "220 six\r\n"; })) << client->received;
    EXPECT_TRUE(notifier_.notices.empty());
}

}  // namespace
}  // namespace vantel
