// Sessions as hostile or careless peers and users see them: half-closes, reloads while
// connections come in, stops in the middle of a transfer, failures inside one session.
#include "core/relay/RelaySession.h"

#include <gtest/gtest.h>

#include "FaultyLoop.h"
#include "core/config/CredentialCodec.h"
#include "core/config/StoredKludges.h"
#include "core/relay/RelayFixture.h"

namespace vantel {
namespace {

using test::LoopbackPeer;
using test::LoopbackServer;

class RelaySessionTest : public test::RelayFixture {
  protected:
    /// One IMAP4-type entry (relayed unchanged both ways) on a fresh port, listening.
    std::uint16_t RelayTo(const LoopbackServer& server) {
        const std::uint16_t port = test::FreePort(*loop_);
        settings_.ServerList.push_back(Entry(ServerType::Imap4, port, server));
        Engine().StartRelay();
        return port;
    }
    std::size_t NoticesSaying(std::string_view text) const {
        std::size_t count = 0;
        for (const std::string& message : notifier_.messages) {
            count += message == text;
        }
        return count;
    }
};

TEST_F(RelaySessionTest, HalfCloseIsPassedOnAndTheOtherDirectionKeepsFlowing) {
    // The client ends its stream first; the server answers after seeing that.
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) {
        p.Send("220 hi\r\n");
        p.onEnd = [](LoopbackPeer& q) {
            q.Send("250 ok\r\n221 bye\r\n");
            q.Close();
        };
    };
    const std::uint16_t port = RelayTo(server);
    auto client = Client(port);
    ASSERT_TRUE(Run([&] { return client->received == "220 hi\r\n"; }));
    client->Send("EHLO x\r\nQUIT\r\n");
    client->ShutDownSend();
    ASSERT_TRUE(Run([&] { return client->closed; }));
    EXPECT_EQ(client->received, "220 hi\r\n250 ok\r\n221 bye\r\n");
    EXPECT_EQ(server.connections[0]->received, "EHLO x\r\nQUIT\r\n");
    client->Close();
    EXPECT_TRUE(Run([&] { return Engine().SessionCount() == 0; }));

    // The server ends its stream first; the client still has something to say.
    LoopbackServer talker(*loop_);
    talker.onConnection = [](LoopbackPeer& p) {
        p.Send("* BYE after this\r\n");
        p.ShutDownSend();
    };
    const std::uint16_t second = RelayTo(talker);
    auto late = Client(second);
    late->onEnd = [](LoopbackPeer& q) {
        q.Send("A1 LOGOUT\r\n");
        q.ShutDownSend();
    };
    ASSERT_TRUE(Run([&] { return !talker.connections.empty() && talker.connections[0]->closed; }));
    EXPECT_EQ(late->received, "* BYE after this\r\n");
    EXPECT_EQ(talker.connections[0]->received, "A1 LOGOUT\r\n");
}

TEST_F(RelaySessionTest, ClientsThatSendAndLeaveAtOnceAreDeliveredBeforeAndAfterTheConnect) {
    // With the lookup held back, the client's bytes and its end arrive while the server
    // connection does not exist yet; without, they come after it stands.
    for (const std::uint32_t lookupDelay : {0u, 300u}) {
        test::FaultyLoop loop(*loop_);
        loop.wrapSockets = false;
        loop.resolveDelayMs = lookupDelay;
        RelayHost host(loop, notifier_, &trace_, observer_, 7);
        LoopbackServer server(*loop_);
        server.onConnection = [](LoopbackPeer& p) { p.onEnd = [](LoopbackPeer& q) { q.Close(); }; };
        const std::uint16_t port = test::FreePort(*loop_);
        host.settings().ServerList = {Entry(ServerType::Smtp, port, server)};
        host.settings().DefaultPort = port;
        host.Start();
        std::vector<std::unique_ptr<LoopbackPeer>> clients;
        for (int i = 0; i < 20; ++i) {
            clients.push_back(Client(port));
        }
        ASSERT_TRUE(Run([&] {
            for (const auto& c : clients) {
                if (!c->connected) {
                    return false;
                }
            }
            return true;
        }));
        for (auto& c : clients) {
            c->Send("EHLO x\r\nQUIT\r\n");
            c->Close();
        }
        ASSERT_TRUE(Run([&] {
            if (server.connections.size() < clients.size()) {
                return false;
            }
            for (const auto& connection : server.connections) {
                if (!connection->closed) {
                    return false;
                }
            }
            return true;
        })) << "lookup delay "
            << lookupDelay << ": " << server.connections.size() << " connections";
        for (const auto& connection : server.connections) {
            EXPECT_EQ(connection->received, "EHLO x\r\nQUIT\r\n") << "lookup delay " << lookupDelay;
        }
        EXPECT_TRUE(Run([&] { return host.engine().SessionCount() == 0; }));
    }
}

TEST_F(RelaySessionTest, ReloadsLeaveUnchangedPortsOpenWhileClientsKeepComing) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) { p.Send("* OK\r\n"); };
    const std::uint16_t port = RelayTo(server);
    const std::uint16_t moving[2] = {test::FreePort(*loop_), test::FreePort(*loop_)};
    settings_.ServerList.push_back(Entry(ServerType::Imap4, moving[0], server));
    Engine().StartRelay();
    const ListenSocket* steady = Engine().Listeners()[0].get();

    // A reload every few milliseconds moves the second entry between two ports.
    int reloads = 0;
    const TimerId storm = loop_->StartTimer(3, true, [&] {
        ++reloads;
        settings_.ServerList[1].LocalPort = moving[reloads % 2];
        host_.Apply();
    });
    int failed = 0;
    int served = 0;
    while (reloads < 100) {
        auto client = Client(port);
        if (!Run([&] {
                return client->received == "* OK\r\n" || client->closed ||
                       client->connectError != 0;
            })) {
            ++failed;
        } else if (client->received != "* OK\r\n") {
            ++failed;
        } else {
            ++served;
        }
    }
    loop_->StopTimer(storm);
    EXPECT_EQ(failed, 0) << "of " << failed + served << " connections during " << reloads
                         << " reloads";
    EXPECT_EQ(Engine().Listeners()[0].get(), steady);
    ASSERT_EQ(Engine().Listeners().size(), 2u);
    EXPECT_EQ(Engine().Listeners()[1]->port, moving[reloads % 2]);
    EXPECT_TRUE(test::Accepts(*loop_, moving[reloads % 2]));
    EXPECT_FALSE(test::Accepts(*loop_, moving[(reloads + 1) % 2]));
}

TEST_F(RelaySessionTest, ARunningPop3LoginKeepsItsAccountWhenTheListIsReordered) {
    LoopbackServer a(*loop_), b(*loop_);
    a.onConnection = [](LoopbackPeer& p) { p.Send("+OK a\r\n"); };
    b.onConnection = [](LoopbackPeer& p) { p.Send("+OK b\r\n"); };
    const auto withLogin = [this](ServerEntry entry, const char* user, const char* password) {
        CredentialBlock block{};
        entry.CredentialLength = PackCredentials(block, user, password);
        entry.Credentials = block;
        return entry;
    };
    const std::uint16_t portA = test::FreePort(*loop_);
    const std::uint16_t portB = test::FreePort(*loop_);
    settings_.DefaultPOPPort = portA;
    settings_.DefaultPOPServer = 1;
    const ServerEntry entryA = withLogin(Entry(ServerType::Pop3, portA, a), "userA", "passA");
    const ServerEntry entryB = withLogin(Entry(ServerType::Pop3, portB, b), "userB", "passB");
    settings_.ServerList = {entryA, entryB};
    host_.Start();
    auto client = Client(portA);
    ASSERT_TRUE(Run([&] { return client->received == "+OK a\r\n"; }));
    client->Send("USER me\r\n");
    ASSERT_TRUE(Run([&] { return a.connections[0]->received == "USER userA\r\n"; }));

    settings_.ServerList = {entryB, entryA};
    settings_.DefaultPOPPort = portB;
    host_.Apply();
    client->Send("PASS mine\r\n");
    ASSERT_TRUE(Run([&] { return a.connections[0]->received.size() > 13; }));
    EXPECT_EQ(a.connections[0]->received, "USER userA\r\nPASS passA\r\n");
    EXPECT_TRUE(b.connections.empty());
}

TEST_F(RelaySessionTest, ALoginEditedInPlaceGoesToTheNextSessionOnly) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) { p.Send("+OK\r\n"); };
    const std::uint16_t port = test::FreePort(*loop_);
    const auto withLogin = [&](const char* user, const char* password) {
        ServerEntry entry = Entry(ServerType::Pop3, port, server);
        CredentialBlock block{};
        entry.CredentialLength = PackCredentials(block, user, password);
        entry.Credentials = block;
        return entry;
    };
    settings_.ServerList = {withLogin("userA", "passA")};
    host_.Start();
    auto first = Client(port);
    first->Send("USER me\r\n");
    ASSERT_TRUE(Run([&] {
        return server.connections.size() == 1 &&
               server.connections[0]->received == "USER userA\r\n";
    }));

    settings_.ServerList = {withLogin("userB", "passB")};
    host_.Apply();
    auto second = Client(port);
    second->Send("USER me\r\n");
    ASSERT_TRUE(Run([&] {
        return server.connections.size() == 2 &&
               server.connections[1]->received == "USER userB\r\n";
    }));
    first->Send("PASS mine\r\n");
    second->Send("PASS mine\r\n");
    ASSERT_TRUE(Run([&] {
        return server.connections[0]->received.size() > 13 &&
               server.connections[1]->received.size() > 13;
    }));
    EXPECT_EQ(server.connections[0]->received, "USER userA\r\nPASS passA\r\n");
    EXPECT_EQ(server.connections[1]->received, "USER userB\r\nPASS passB\r\n");
}

TEST_F(RelaySessionTest, StopInTheMiddleOfATransferDeliversEveryByteRead) {
    std::string download(50 << 20, '\0');
    for (std::size_t i = 0; i < download.size(); ++i) {
        download[i] = static_cast<char>((i * 31 + i / 8191) & 0xff);
    }
    LoopbackServer server(*loop_);
    server.onConnection = [&](LoopbackPeer& p) { p.Send(download); };
    const std::uint16_t port = RelayTo(server);
    auto client = Client(port);
    client->ReadSlowly(64 * 1024, 1);
    ASSERT_TRUE(Run([&] { return client->received.size() > (4 << 20); }, 30000));

    bool stopped = false;
    host_.Stop([&] { stopped = true; });
    EXPECT_TRUE(Engine().Listeners().empty());
    EXPECT_FALSE(test::Accepts(*loop_, port));
    ASSERT_TRUE(Run([&] { return stopped; }, 15000));
    // What the relay handed to the system is still on its way after the stop.
    ASSERT_TRUE(Run([&] { return client->closed; }, 15000))
        << "the client was not told that the stream ended";
    EXPECT_EQ(client->received.size(), Engine().BytesRead());
    EXPECT_LT(client->received.size(), download.size());
    EXPECT_TRUE(download.compare(0, client->received.size(), client->received) == 0);
    EXPECT_EQ(Engine().SessionCount(), 0u);
}

TEST_F(RelaySessionTest, NoticesFromInsideASessionWaitForTheLoop) {
    // A message box runs a message loop of its own; socket events dispatched there must not
    // re-enter the session whose rewriting asked for the box.
    class ModalNotifier : public test::FakeNotifier {
      public:
        explicit ModalNotifier(EventLoop& loop) : loop_(loop) {}
        void ShowMessage(std::string_view text) override {
            FakeNotifier::ShowMessage(text);
            test::RunUntil(
                loop_, [] { return false; }, 5);
        }

      private:
        EventLoop& loop_;
    } modal(*loop_);
    RelayHost host(*loop_, modal, &trace_, observer_, 7);
    LoopbackServer server(*loop_);
    const std::uint16_t port = test::FreePort(*loop_);
    host.settings().DefaultPort = port;
    host.settings().ServerList = {Entry(ServerType::Smtp, port, server)};
    host.settings().Kludges = PairKludges({"0 X-File:"}, {"2 /no/such/dir/lines.txt"});
    host.Start();
    auto client = Client(port);
    std::string sent;
    std::string expected;
    for (int i = 0; i < 40; ++i) {
        sent += "X-File: " + std::to_string(i) + "\r\nSubject: " + std::to_string(i) + "\r\n";
        expected += "X-File:  \r\nSubject: " + std::to_string(i) + "\r\n";
    }
    for (std::size_t at = 0; at < sent.size(); at += 97) {
        client->Send(sent.substr(at, 97));
        Run([] { return false; }, 1);
    }
    client->Send("\r\nbody\r\n");
    expected += "\r\nbody\r\n";
    ASSERT_TRUE(Run([&] {
        return !server.connections.empty() &&
               server.connections[0]->received.size() >= expected.size();
    }));
    EXPECT_EQ(server.connections[0]->received, expected);
    EXPECT_TRUE(Run([&] { return modal.messages.size() == 40; }));
    EXPECT_EQ(modal.messages[0], "Error opening file '/no/such/dir/lines.txt'.");
}

TEST_F(RelaySessionTest, AServerThatBreaksOffInTheMiddleOfAMessageResetsTheClient) {
    // One command after the other, each sent once the answer before it is complete; after
    // the last answer the server resets or closes its connection.
    struct Step {
        std::string command;
        std::string answer;
    };
    struct Row {
        const char* name;
        ServerType type;
        std::vector<Step> steps;
        bool serverResets;
        bool clientReset;  ///< the client must read a reset, not the end of the stream
    };
    const std::string header = "Subject: cut\r\n\r\n";
    const std::string body(20000, 'b');
    const std::string lines = "+OK\r\n" + header + body + "\r\n";
    const std::string whole = lines + ".\r\n";
    const Row rows[] = {
        {"RETR reset mid-body", ServerType::Pop3, {{"RETR 1", lines}}, true, true},
        {"TOP reset mid-body", ServerType::Pop3, {{"top 1 9", lines}}, true, true},
        {"RETR reset in its header",
         ServerType::Pop3,
         {{"RETR 1", "+OK\r\nSubject: c"}},
         true,
         true},
        {"RETR refused, then reset",
         ServerType::Pop3,
         {{"RETR 1", "-ERR no such\r\n"}},
         true,
         false},
        {"reset after the goodbye",
         ServerType::Pop3,
         {{"RETR 1", whole}, {"QUIT", "+OK bye\r\n"}},
         true,
         false},
        {"reset between messages",
         ServerType::Pop3,
         {{"RETR 1", whole}, {"NOOP", "+OK\r\n"}},
         true,
         false},
        {"reset mid-list: no message",
         ServerType::Pop3,
         {{"LIST", "+OK\r\n1 20\r\n"}},
         true,
         false},
        {"plain close mid-body", ServerType::Pop3, {{"RETR 1", lines}}, false, false},
        {"IMAP literal reset",
         ServerType::Imap4,
         {{"a1 FETCH 1 BODY[]", "* 1 FETCH (BODY[] {30000}\r\n" + header + body}},
         true,
         true},
        {"IMAP reset after the literal",
         ServerType::Imap4,
         {{"a1 FETCH 1 BODY[]", "* 1 FETCH (BODY[] {3}\r\nabc)\r\na1 OK\r\n"}},
         true,
         false},
    };
    for (const bool traced : {true, false}) {
        // Without a trace a retrieved body may pass unread.
        RelayHost host(*loop_, notifier_, traced ? &trace_ : nullptr, observer_, 7);
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.name) + (traced ? ", traced" : ", untraced"));
            trace_.writes.clear();
            LoopbackServer server(*loop_);
            server.onConnection = [&row](LoopbackPeer& peer) {
                peer.Send(row.type == ServerType::Pop3 ? "+OK ready\r\n" : "* OK ready\r\n");
                peer.onData = [&row, seen = std::size_t{0},
                               step = std::size_t{0}](LoopbackPeer& p) mutable {
                    for (std::size_t end;
                         (end = p.received.find("\r\n", seen)) != std::string::npos;
                         seen = end + 2) {
                        if (step < row.steps.size()) {
                            p.Send(row.steps[step].answer);
                        }
                        if (++step == row.steps.size()) {
                            row.serverResets ? p.Reset() : p.ShutDownSend();
                            return;
                        }
                    }
                };
            };
            const std::uint16_t port = test::FreePort(*loop_);
            host.settings().ServerList = {Entry(row.type, port, server)};
            host.Start();
            auto client = Client(port);
            std::string expected =
                row.type == ServerType::Pop3 ? "+OK ready\r\n" : "* OK ready\r\n";
            client->onData = [&row, &expected, step = std::size_t{0}](LoopbackPeer& c) mutable {
                if (c.received == expected && step < row.steps.size()) {
                    c.Send(row.steps[step].command + "\r\n");
                    expected += row.steps[step++].answer;
                }
            };
            ASSERT_TRUE(Run([&] { return client->closed; })) << client->received.size();
            // A reset that cannot be read as one is neither passed on nor told of.
            const bool seen = test::kResetsReported || !row.serverResets;
            if (seen || !row.clientReset) {
                EXPECT_EQ(client->broken, row.clientReset);
            }
            EXPECT_EQ(client->received, expected) << "what came before the end is delivered";
            client->Close();
            ASSERT_TRUE(Run([&] { return host.engine().SessionCount() == 0; }));
            bool noted = false;
            for (const std::string& write : trace_.writes) {
                noted = noted || write.find("in the middle of a message") != std::string::npos;
            }
            if (seen) {
                EXPECT_EQ(noted, traced && row.clientReset) << "the trace tells of the cut";
            }
        }
    }
}

TEST_F(RelaySessionTest, AcceptFailuresBackOffAndAreReportedOnce) {
    test::FaultyLoop loop(*loop_);
    RelayHost host(loop, notifier_, &trace_, observer_, 7);
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) { p.Send("* OK\r\n"); };
    const std::uint16_t port = test::FreePort(*loop_);
    host.settings().ServerList = {Entry(ServerType::Imap4, port, server)};
    host.Start();
    loop.failingAccepts = 1 << 30;  // out of descriptors until further notice
    auto client = Client(port);
    Run([] { return false; }, 1000);
    // Retried after 100, 200, 400 ms ...: a handful of tries, not a loop turning at full speed.
    EXPECT_GE(loop.acceptCalls, 2);
    EXPECT_LE(loop.acceptCalls, 8);
    EXPECT_EQ(NoticesSaying(RelayEngine::kAcceptFailedText), 1u);
    EXPECT_TRUE(client->received.empty());

    loop.failingAccepts = 0;
    ASSERT_TRUE(Run([&] { return client->received == "* OK\r\n"; }, 5000));
    EXPECT_EQ(NoticesSaying(RelayEngine::kAcceptFailedText), 1u);
}

TEST_F(RelaySessionTest, NoSocketForTheServerIsReportedAsSuchAndLetsTheClientGo) {
    test::FaultyLoop loop(*loop_);
    loop.wrapSockets = false;
    RelayHost host(loop, notifier_, &trace_, observer_, 7);
    LoopbackServer server(*loop_);
    const std::uint16_t port = test::FreePort(*loop_);
    host.settings().ServerList = {Entry(ServerType::Imap4, port, server)};
    host.Start();
    loop.failingCreates = 1;  // the server end's socket
    auto client = Client(port);
    ASSERT_TRUE(Run([&] { return client->closed && !notifier_.messages.empty(); }));
    EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Could not create new socket"});
    EXPECT_EQ(host.engine().SessionCount(), 0u);
    EXPECT_EQ(host.engine().Listeners().size(), 1u);
}

TEST_F(RelaySessionTest, AFailureInsideOneSessionEndsThatSessionOnly) {
    LoopbackServer server(*loop_);
    server.onConnection = [](LoopbackPeer& p) {
        p.Send("* OK\r\n");
        p.onData = [](LoopbackPeer& q) {
            if (q.received == "PING\r\n") {
                q.Send("PONG\r\n");
            }
        };
    };
    const std::uint16_t port = RelayTo(server);
    auto doomed = Client(port);
    auto healthy = Client(port);
    ASSERT_TRUE(
        Run([&] { return doomed->received == "* OK\r\n" && healthy->received == "* OK\r\n"; }));
    trace_.failOn = "BOOM";  // tracing this block fails as if memory had run out
    doomed->Send("BOOM\r\n");
    ASSERT_TRUE(Run([&] { return doomed->closed; }));
    ASSERT_TRUE(Run([&] { return NoticesSaying(RelaySession::kFailedText) == 1; }));
    healthy->Send("PING\r\n");
    ASSERT_TRUE(Run([&] { return healthy->received == "* OK\r\nPONG\r\n"; }));
    EXPECT_EQ(Engine().SessionCount(), 1u);
    EXPECT_TRUE(test::Accepts(*loop_, port));
}

}  // namespace
}  // namespace vantel
