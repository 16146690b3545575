// Reaching a server over real loopback connections: the addresses of a name tried in turn,
// each way of failing in the words the notices use, and (natively) TLS from the first byte and
// STARTTLS on the test TLS server.
#include "core/relay/ServerConnector.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FaultyLoop.h"
#include "LoopRunner.h"
#include "LoopbackPeer.h"

#ifndef _WIN32
#include "tls/TestPki.h"
#include "tls/TlsTestServer.h"
#endif

namespace vantel {
namespace {

using Kind = ServerFailure::Kind;

/// A loop whose lookups answer what the test says, when it says anything.
class AnsweringLoop : public test::FaultyLoop {
  public:
    using FaultyLoop::FaultyLoop;
    void Resolve(const std::string& host, std::uint16_t port, ResolveCallback done) override {
        if (!answer) {
            FaultyLoop::Resolve(host, port, std::move(done));
            return;
        }
        Post([done = std::move(done), addresses = *answer, error = answerError] {
            done(addresses, error);
        });
    }
    std::optional<std::vector<SocketAddress>> answer;
    std::string answerError;
};

/// What the connector told, and the connection it handed over.
class Recorder : public ServerConnector::Events, public SocketEvents {
  public:
    void OnServerReached() override { ++reached; }
    void OnPlainText(std::string_view bytes) override { plainText.append(bytes); }
    void OnServerConnected(std::unique_ptr<AsyncSocket> connected,
                           const TlsClient* client) override {
        socket = std::move(connected);
        tls = client;
        ++reports;
    }
    void OnServerFailed(const ServerFailure& failed) override {
        failure = failed;
        ++reports;
    }
    void OnReceive() override {
        char block[256];
        for (long n; (n = socket->Receive(block, sizeof block)) > 0;) {
            received.append(block, static_cast<std::size_t>(n));
        }
    }

    int reached = 0;
    int reports = 0;
    std::string plainText;
    std::string received;
    std::unique_ptr<AsyncSocket> socket;
    const TlsClient* tls = nullptr;
    std::optional<ServerFailure> failure;
};

SocketAddress Loopback(std::uint16_t port) {
    SocketAddress address;
    SocketAddress::ParseIPv4("127.0.0.1", port, address);
    return address;
}

class ServerConnectorTest : public ::testing::Test {
  protected:
    ServerConnectorTest() { loop_.wrapSockets = false; }

    static ServerEntry Entry(std::uint16_t port, SecurityMode mode = SecurityMode::None,
                             ServerType type = ServerType::Smtp) {
        ServerEntry entry;
        entry.Name = "localhost";
        entry.RemotePort = port;
        entry.Type = StoredServerType(type);
        entry.Security = StoredSecurityMode(mode);
        return entry;
    }
    /// Starts `connector` and runs the loop until it has reported.
    bool Reach(ServerConnector& connector, const Recorder& recorder) {
        connector.Start();
        return test::RunUntil(loop_, [&] { return recorder.reports > 0; });
    }

    std::unique_ptr<EventLoop> real_ = CreateEventLoop();
    AnsweringLoop loop_{*real_};
};

TEST_F(ServerConnectorTest, EachAddressIsTriedInTurnAndEachFailureIsWorded) {
    test::LoopbackServer server(loop_);
    ASSERT_TRUE(server.listening());
    const std::uint16_t refused = test::FreePort(loop_);
    const std::uint16_t alsoRefused = test::FreePort(loop_);
    const std::string serverAddress = Loopback(server.port()).ToString();
    const std::string lastRefused = Loopback(alsoRefused).ToString();
    const struct {
        const char* what;
        std::vector<SocketAddress> addresses;
        std::string lookupError;
        int failingCreates;
        bool connects;
        Kind kind;
        std::string address;  ///< reported: connected to, or tried last
        std::string reason;
    } cases[] = {
        {"refused, then taken",
         {Loopback(refused), Loopback(server.port())},
         "",
         0,
         true,
         Kind::Unreachable,
         serverAddress,
         ""},
        {"all refused",
         {Loopback(refused), Loopback(alsoRefused)},
         "",
         0,
         false,
         Kind::Unreachable,
         lastRefused,
         "connection refused"},
        {"no such name", {}, "", 0, false, Kind::Unreachable, "", "no such host"},
        {"the lookup's own reason",
         {},
         "name server not answering",
         0,
         false,
         Kind::Unreachable,
         "",
         "name server not answering"},
        {"no socket left",
         {Loopback(server.port())},
         "",
         1,
         false,
         Kind::NoSocket,
         serverAddress,
         "the system has no socket left"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        loop_.answer = c.addresses;
        loop_.answerError = c.lookupError;
        loop_.failingCreates = c.failingCreates;
        const ServerEntry entry = Entry(server.port());
        Recorder recorder;
        ServerConnector connector(loop_, nullptr, entry, recorder, recorder);
        ASSERT_TRUE(Reach(connector, recorder));
        EXPECT_EQ(connector.address(), c.address);
        if (c.connects) {
            ASSERT_TRUE(recorder.socket);
            EXPECT_EQ(recorder.tls, nullptr);
            EXPECT_EQ(recorder.reached, 1);
            EXPECT_EQ(connector.stage(), ServerConnector::Stage::Connected);
            // The connection handed over is the server's, its events the owner's.
            ASSERT_TRUE(test::RunUntil(loop_, [&] { return !server.connections.empty(); }));
            server.connections.back()->Send("220 here\r\n");
            EXPECT_TRUE(test::RunUntil(loop_, [&] { return recorder.received == "220 here\r\n"; }));
            continue;
        }
        ASSERT_TRUE(recorder.failure);
        EXPECT_EQ(recorder.failure->kind, c.kind);
        EXPECT_EQ(recorder.failure->address, c.address);
        EXPECT_EQ(recorder.failure->reason, c.reason);
        EXPECT_EQ(recorder.reached, 0);
        EXPECT_EQ(connector.stage(), ServerConnector::Stage::Failed);
    }
}

TEST_F(ServerConnectorTest, GivingUpOnASlowLookupFailsOnceAndItsLateAnswerIsIgnored) {
    test::LoopbackServer server(loop_);
    loop_.resolveDelayMs = 100;
    const ServerEntry entry = Entry(server.port());
    Recorder recorder;
    ServerConnector connector(loop_, nullptr, entry, recorder, recorder);
    connector.Start();
    EXPECT_EQ(connector.stage(), ServerConnector::Stage::Resolving);
    connector.GiveUp("5 s");
    ASSERT_TRUE(recorder.failure);
    EXPECT_EQ(recorder.failure->kind, Kind::Unreachable);
    EXPECT_EQ(recorder.failure->reason, "timed out after 5 s");
    EXPECT_EQ(recorder.failure->address, "");
    // The answer comes, and nothing follows from it.
    EXPECT_FALSE(test::RunUntil(
        loop_, [&] { return recorder.reports > 1; }, 400));
    EXPECT_TRUE(server.connections.empty());

    // Once connected, giving up changes nothing.
    Recorder connected;
    ServerConnector again(loop_, nullptr, entry, connected, connected);
    ASSERT_TRUE(Reach(again, connected));
    again.GiveUp("5 s");
    EXPECT_EQ(connected.reports, 1);
    EXPECT_TRUE(connected.socket);
}

#ifndef _WIN32

/// The TLS cases need the test TLS server, which runs natively only.
class ServerConnectorTlsTest : public ServerConnectorTest {
  protected:
    void SetUp() override {
        std::string error;
        context_ = CreateTlsContext({pki_.caPem()}, error);
        ASSERT_TRUE(context_) << error;
    }
    test::TestPki pki_;
    test::TestCertificate localhost_ = pki_.Issue({"localhost"}, {"127.0.0.1"});
    std::unique_ptr<TlsContext> context_;
};

TEST_F(ServerConnectorTlsTest, EncryptedEntriesAreHandedOverOnlyOnceVerified) {
    using test::TlsTestConnection;
    const auto smtpUpgrade = [](TlsTestConnection& c) {
        std::string line;
        return c.Write("220 mx\r\n") && c.ReadLine(line) && c.Write("250-mx\r\n250 STARTTLS\r\n") &&
               c.ReadLine(line) && line == "STARTTLS\r\n" && c.Write("220 go\r\n") && c.StartTls();
    };
    const auto noUpgrade = [](TlsTestConnection& c) {
        std::string line;
        if (c.Write("220 mx\r\n") && c.ReadLine(line) && c.Write("250 mx\r\n")) {
            c.ReadToEnd();
        }
        return false;
    };
    const auto silent = [](TlsTestConnection& c) {
        std::string ignored;
        c.ReadExactly(1 << 20, ignored);
        return false;
    };
    const test::TestCertificate self = test::TestPki::SelfSigned("localhost");
    const struct {
        const char* what;
        SecurityMode mode;
        const test::TestCertificate& certificate;
        std::function<bool(TlsTestConnection&)> plainStart;  ///< null: TLS from the first byte
        const char* giveUpAfter;  ///< given up once the securing has begun
        bool connects;
        std::string reason;
        TlsProblem problem;
        std::string plainText;  ///< what the connector passed on of the plain-text start
    } cases[] = {
        {"TLS from the first byte", SecurityMode::SslTls, localhost_, nullptr, nullptr, true, "",
         TlsProblem::None, ""},
        {"STARTTLS", SecurityMode::StartTls, localhost_, smtpUpgrade, nullptr, true, "",
         TlsProblem::None, "220 mx\r\n250-mx\r\n250 STARTTLS\r\n220 go\r\n"},
        {"STARTTLS not offered", SecurityMode::StartTls, localhost_, noUpgrade, nullptr, false,
         "server does not offer STARTTLS", TlsProblem::None, "220 mx\r\n250 mx\r\n"},
        {"untrusted certificate", SecurityMode::SslTls, self, nullptr, nullptr, false,
         "certificate not trusted (self-signed); its SHA-256 fingerprint is " + self.fingerprint,
         TlsProblem::Untrusted, ""},
        {"silent before STARTTLS", SecurityMode::StartTls, localhost_, silent, "2 s", false,
         "the server did not get to STARTTLS within 2 s", TlsProblem::None, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TlsTestServer server(
            c.certificate,
            [&](TlsTestConnection& connection) {
                if (c.plainStart && !c.plainStart(connection)) {
                    return;
                }
                connection.Write("secured\r\n");
                connection.ReadToEnd();
            },
            test::TlsTestServerOptions{c.plainStart == nullptr});
        loop_.answer = std::vector<SocketAddress>{Loopback(server.port())};
        const ServerEntry entry = Entry(server.port(), c.mode);
        Recorder recorder;
        ServerConnector connector(loop_, context_.get(), entry, recorder, recorder);
        connector.Start();
        if (c.giveUpAfter != nullptr) {
            ASSERT_TRUE(test::RunUntil(loop_, [&] { return connector.Securing(); }));
            EXPECT_NE(connector.securingSince(), 0u);
            connector.GiveUp(c.giveUpAfter);
            EXPECT_EQ(recorder.reports, 0) << "told from the loop";
        }
        ASSERT_TRUE(test::RunUntil(loop_, [&] { return recorder.reports > 0; }));
        EXPECT_EQ(recorder.reached, 1) << "the TCP connection stood";
        EXPECT_EQ(recorder.plainText, c.plainText);
        if (c.connects) {
            ASSERT_TRUE(recorder.socket);
            ASSERT_NE(recorder.tls, nullptr);
            EXPECT_EQ(recorder.tls->state(), TlsState::Open);
            EXPECT_EQ(recorder.tls->certificate().fingerprint, localhost_.fingerprint);
            // What is read is plaintext, and the STARTTLS greeting comes first.
            const std::string expected =
                std::string(c.mode == SecurityMode::StartTls ? "220 mx\r\n" : "") + "secured\r\n";
            EXPECT_TRUE(test::RunUntil(loop_, [&] { return recorder.received == expected; }))
                << recorder.received;
            recorder.socket.reset();
            continue;
        }
        ASSERT_TRUE(recorder.failure);
        EXPECT_EQ(recorder.failure->kind, Kind::Insecure);
        EXPECT_EQ(recorder.failure->address, Loopback(server.port()).ToString());
        EXPECT_EQ(recorder.failure->reason, c.reason);
        EXPECT_EQ(recorder.failure->tls.problem, c.problem);
        EXPECT_FALSE(recorder.failure->closedBeforeTls);
        EXPECT_EQ(recorder.failure->certificate.fingerprint,
                  c.problem == TlsProblem::None ? "" : c.certificate.fingerprint);
        connector.Cancel();
    }
}

TEST_F(ServerConnectorTlsTest, AServerThatHangsUpBeforeTlsIsToldApart) {
    test::TlsTestServer server(
        localhost_, [](test::TlsTestConnection& c) { c.Write("220-mx\r\n"); },
        test::TlsTestServerOptions{false});
    loop_.answer = std::vector<SocketAddress>{Loopback(server.port())};
    const ServerEntry entry = Entry(server.port(), SecurityMode::StartTls);
    Recorder recorder;
    ServerConnector connector(loop_, context_.get(), entry, recorder, recorder);
    ASSERT_TRUE(Reach(connector, recorder));
    ASSERT_TRUE(recorder.failure);
    EXPECT_EQ(recorder.failure->reason, "server closed the connection before TLS");
    EXPECT_TRUE(recorder.failure->closedBeforeTls);
    EXPECT_EQ(recorder.failure->endError, 0);
    EXPECT_EQ(recorder.plainText, "220-mx\r\n");
}

#endif

}  // namespace
}  // namespace vantel
