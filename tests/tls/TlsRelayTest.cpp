// Sessions to servers that speak TLS, over real connections: implicit TLS and STARTTLS for
// each protocol, large transfers with the rewriting and the login swap, and every way the
// securing can fail, each told to the user and to the client.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/config/CredentialCodec.h"
#include "core/config/StoredKludges.h"
#include "core/notice/LogNotifier.h"
#include "core/relay/RelayFixture.h"
#include "platform/TlsClient.h"
#include "tls/TestPki.h"
#include "tls/TlsTestServer.h"

namespace vantel {
namespace {

using test::LoopbackPeer;
using test::TestCertificate;
using test::TlsTestConnection;
using test::TlsTestServer;

/// What a server's handler thread found, read by the test once the handler is done.
struct Seen {
    std::mutex mutex;
    std::string lines;          ///< every line the server read, in order
    std::string body;           ///< a message the server received
    std::string serverName;     ///< SNI
    bool tlsForClient = false;  ///< the client's conversation came over TLS
    bool closeNotify = false;
    std::atomic<bool> done{false};

    void Line(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines += line;
    }
};

class TlsRelayTest : public test::RelayFixture {
  protected:
    void SetUp() override {
        std::string error;
        context_ = CreateTlsContext({pki_.caPem()}, error);
        ASSERT_TRUE(context_) << error;
        Engine().SetTls(context_.get(), "");
    }

    /// Relays a fresh local port to `server` as `type` with `mode`.
    std::uint16_t RelayTo(const TlsTestServer& server, ServerType type, SecurityMode mode,
                          const std::string& pin = "") {
        const std::uint16_t port = test::FreePort(*loop_);
        ServerEntry entry;
        entry.Type = StoredServerType(type);
        entry.LocalPort = port;
        entry.RemotePort = server.port();
        entry.Name = "localhost";
        entry.Security = StoredSecurityMode(mode);
        entry.Fingerprint = pin;
        entry_ = entry;
        settings_.ServerList.push_back(entry);
        Engine().StartRelay();
        return port;
    }
    /// Waits until the client has received `text` after what it had at `from`.
    bool Await(LoopbackPeer& client, const std::string& text, std::size_t from = 0) {
        return Run([&] { return client.received.find(text, from) != std::string::npos; });
    }
    /// Sends `line` and waits for `reply`.
    void Ask(LoopbackPeer& client, const std::string& line, const std::string& reply) {
        const std::size_t before = client.received.size();
        client.Send(line);
        ASSERT_TRUE(Await(client, reply, before))
            << "no " << reply << " after " << line << "; got " << client.received.substr(before);
    }

    test::TestPki pki_;
    TestCertificate localhost_ = pki_.Issue({"localhost"}, {"127.0.0.1"});
    std::unique_ptr<TlsContext> context_;
    ServerEntry entry_;
};

/// Reads a line into `seen` and checks it starts with `expected`.
bool Expect(TlsTestConnection& connection, Seen& seen, const std::string& expected) {
    std::string line;
    if (!connection.ReadLine(line)) {
        return false;
    }
    seen.Line(line);
    return line.rfind(expected, 0) == 0;
}

// --- STARTTLS, one protocol after the other -------------------------------------------------

struct Upgrade {
    const char* name;
    ServerType type;
    /// The server's side, up to its go-ahead.
    std::function<bool(TlsTestConnection&, Seen&)> before;
    /// The server's side once TLS stands.
    std::function<bool(TlsTestConnection&, Seen&)> after;
    const char* greeting;  ///< what the client is to read first
    const char* question;  ///< what the client asks once greeted
    const char* answer;    ///< what it must get, capabilities filtered
};

TEST_F(TlsRelayTest, StartTlsForEachProtocolGreetsTheClientAndFiltersTheUpgradeOffers) {
    const Upgrade upgrades[] = {
        {"SMTP", ServerType::Smtp,
         [](TlsTestConnection& c, Seen& s) {
             return c.Write("220 mx ESMTP\r\n") && Expect(c, s, "EHLO ") &&
                    c.Write("250-mx\r\n250-STARTTLS\r\n250 SIZE 100\r\n") &&
                    Expect(c, s, "STARTTLS\r\n") && c.Write("220 go ahead\r\n");
         },
         [](TlsTestConnection& c, Seen& s) {
             // A careless server offers STARTTLS again over TLS.
             return Expect(c, s, "EHLO client") &&
                    c.Write("250-mx\r\n250-STARTTLS\r\n250 8BITMIME\r\n");
         },
         "220 mx ESMTP\r\n", "EHLO client\r\n", "250-mx\r\n250 8BITMIME\r\n"},
        {"POP3", ServerType::Pop3,
         [](TlsTestConnection& c, Seen& s) {
             return c.Write("+OK pop ready\r\n") && Expect(c, s, "STLS\r\n") &&
                    c.Write("+OK begin TLS\r\n");
         },
         [](TlsTestConnection& c, Seen& s) {
             return Expect(c, s, "CAPA") && c.Write("+OK\r\nUSER\r\nSTLS\r\nUIDL\r\n.\r\n");
         },
         "+OK pop ready\r\n", "CAPA\r\n", "+OK\r\nUSER\r\nUIDL\r\n.\r\n"},
        {"IMAP", ServerType::Imap4,
         [](TlsTestConnection& c, Seen& s) {
             return c.Write("* OK [CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED] hi\r\n") &&
                    Expect(c, s, "V1 STARTTLS\r\n") && c.Write("V1 OK begin TLS\r\n");
         },
         [](TlsTestConnection& c, Seen& s) {
             return Expect(c, s, "a1 CAPABILITY") &&
                    c.Write(
                        "* CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED AUTH=PLAIN\r\n"
                        "a1 OK done\r\n");
         },
         "* OK hi\r\n", "a1 CAPABILITY\r\n", "* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\na1 OK"},
        {"news", ServerType::Smtp,
         [](TlsTestConnection& c, Seen& s) {
             return c.Write("200 news ready\r\n") && Expect(c, s, "STARTTLS\r\n") &&
                    c.Write("382 continue\r\n");
         },
         [](TlsTestConnection& c, Seen& s) {
             return Expect(c, s, "CAPABILITIES") &&
                    c.Write("101 list\r\nVERSION 2\r\nSTARTTLS\r\nREADER\r\n.\r\n");
         },
         "200 news ready\r\n", "CAPABILITIES\r\n", "101 list\r\nVERSION 2\r\nREADER\r\n.\r\n"},
        // Commands sent together, answered together: each answer is known by its command.
        {"SMTP, EHLO behind RSET", ServerType::Smtp,
         [](TlsTestConnection& c, Seen& s) {
             return c.Write("220 mx ESMTP\r\n") && Expect(c, s, "EHLO ") &&
                    c.Write("250-mx\r\n250 STARTTLS\r\n") && Expect(c, s, "STARTTLS\r\n") &&
                    c.Write("220 go ahead\r\n");
         },
         [](TlsTestConnection& c, Seen& s) {
             return Expect(c, s, "RSET") && Expect(c, s, "EHLO client") &&
                    c.Write("250 ok\r\n250-mx\r\n250-STARTTLS\r\n250 8BITMIME\r\n");
         },
         "220 mx ESMTP\r\n", "RSET\r\nEHLO client\r\n", "250 ok\r\n250-mx\r\n250 8BITMIME\r\n"},
        {"news, CAPABILITIES behind MODE READER", ServerType::Smtp,
         [](TlsTestConnection& c, Seen& s) {
             return c.Write("200 news ready\r\n") && Expect(c, s, "STARTTLS\r\n") &&
                    c.Write("382 continue\r\n");
         },
         [](TlsTestConnection& c, Seen& s) {
             return Expect(c, s, "MODE READER") && Expect(c, s, "CAPABILITIES") &&
                    c.Write("200 reader\r\n101 list\r\nVERSION 2\r\nSTARTTLS\r\n.\r\n");
         },
         "200 news ready\r\n", "MODE READER\r\nCAPABILITIES\r\n",
         "200 reader\r\n101 list\r\nVERSION 2\r\n.\r\n"},
    };
    for (const Upgrade& upgrade : upgrades) {
        SCOPED_TRACE(upgrade.name);
        auto seen = std::make_shared<Seen>();
        TlsTestServer server(localhost_,
                             [&upgrade, seen](TlsTestConnection& c) {
                                 if (upgrade.before(c, *seen) && c.StartTls()) {
                                     seen->serverName = c.serverName();
                                     seen->tlsForClient = upgrade.after(c, *seen) && c.tls();
                                     c.ReadToEnd();
                                     seen->closeNotify = c.sawCloseNotify();
                                 }
                                 seen->done = true;
                             },
                             {false});
        settings_.ServerList.clear();
        const std::uint16_t port = RelayTo(server, upgrade.type, SecurityMode::StartTls);
        auto client = Client(port);
        ASSERT_TRUE(Await(*client, upgrade.greeting)) << client->received;
        EXPECT_EQ(client->received, upgrade.greeting);
        Ask(*client, upgrade.question, upgrade.answer);
        client->ShutDownSend();
        ASSERT_TRUE(Run([&] { return seen->done.load(); }));
        EXPECT_TRUE(seen->tlsForClient);
        EXPECT_EQ(seen->serverName, "localhost");
        EXPECT_TRUE(seen->closeNotify) << "the client's end reaches the server as close_notify";
        EXPECT_TRUE(notifier_.notices.empty());
        ASSERT_TRUE(Run([&] { return Engine().SessionCount() == 0; }));
    }
}

TEST_F(TlsRelayTest, ImapOverTlsFromTheFirstByteKeepsItsGreetingButNotItsUpgradeOffer) {
    TlsTestServer server(localhost_, [](TlsTestConnection& c) {
        std::string line;
        c.Write("* OK [CAPABILITY IMAP4rev1 STARTTLS AUTH=PLAIN] hi\r\n");
        while (c.ReadLine(line)) {
            c.Write(line.substr(0, line.find(' ')) + " OK done\r\n");
        }
    });
    auto client = Client(RelayTo(server, ServerType::Imap4, SecurityMode::SslTls));
    ASSERT_TRUE(Await(*client, "hi\r\n"));
    EXPECT_EQ(client->received, "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] hi\r\n");
    Ask(*client, "a1 NOOP\r\n", "a1 OK done\r\n");
}

// --- Large transfers --------------------------------------------------------------------

std::string BigBody(std::size_t bytes) {
    std::string body;
    body.reserve(bytes + 100);
    for (int n = 0; body.size() < bytes; ++n) {
        body += "line " + std::to_string(n) + " of a large message, relayed byte for byte\r\n";
    }
    return body;
}

TEST_F(TlsRelayTest, TwentyMegabytesEachWayArriveRewrittenAndWhole) {
    // The same rewrite of mail sent (type 0) and of mail retrieved (type 1).
    settings_.Kludges = PairKludges({"0 X-Mailer:", "1 X-Mailer:"}, {"0 Vantel", "0 Vantel"});
    const std::string body = BigBody(20 * 1024 * 1024);
    const std::string header = "X-Mailer: Other\r\nSubject: big\r\n\r\n";
    const std::string rewritten = "X-Mailer:  Vantel\r\nSubject: big\r\n\r\n";

    // Up: an SMTP message through SSL/TLS.
    auto upSeen = std::make_shared<Seen>();
    TlsTestServer smtp(localhost_, [upSeen](TlsTestConnection& c) {
        std::string line;
        if (c.Write("220 mx\r\n") && Expect(c, *upSeen, "MAIL") && c.Write("250 ok\r\n") &&
            Expect(c, *upSeen, "DATA") && c.Write("354 go\r\n")) {
            while (c.ReadLine(line) && line != ".\r\n") {
                upSeen->body += line;
            }
            c.Write("250 queued\r\n");
        }
        c.ReadToEnd();
        upSeen->done = true;
    });
    const std::uint16_t smtpPort = RelayTo(smtp, ServerType::Smtp, SecurityMode::SslTls);
    auto sender = Client(smtpPort);
    ASSERT_TRUE(Await(*sender, "220 mx\r\n"));
    Ask(*sender, "MAIL FROM:<a@b>\r\n", "250 ok");
    Ask(*sender, "DATA\r\n", "354 go");
    sender->Send(header + body + ".\r\n");
    ASSERT_TRUE(Await(*sender, "250 queued", 0)) << sender->received;
    sender->ShutDownSend();
    ASSERT_TRUE(Run([&] { return upSeen->done.load(); }, 60000));
    EXPECT_EQ(upSeen->body.size(), rewritten.size() + body.size());
    EXPECT_TRUE(upSeen->body == rewritten + body) << "the message changed beyond its header";

    // Down: a POP3 message retrieved through SSL/TLS, with the stored login sent for the
    // client's.
    auto downSeen = std::make_shared<Seen>();
    TlsTestServer pop(localhost_, [&, downSeen](TlsTestConnection& c) {
        if (c.Write("+OK pop\r\n") && Expect(c, *downSeen, "USER") && c.Write("+OK\r\n") &&
            Expect(c, *downSeen, "PASS") && c.Write("+OK in\r\n") &&
            Expect(c, *downSeen, "RETR 1")) {
            c.Write("+OK message\r\n" + header + body + ".\r\n");
        }
        c.ReadToEnd();
        downSeen->done = true;
    });
    const std::uint16_t popPort = test::FreePort(*loop_);
    ServerEntry entry;
    entry.Type = StoredServerType(ServerType::Pop3);
    entry.LocalPort = popPort;
    entry.RemotePort = pop.port();
    entry.Name = "localhost";
    entry.Security = StoredSecurityMode(SecurityMode::SslTls);
    CredentialBlock block{};
    entry.CredentialLength = PackCredentials(block, "stored", "secret");
    entry.Credentials = block;
    settings_.ServerList.push_back(entry);
    Engine().StartRelay();
    auto reader = Client(popPort);
    ASSERT_TRUE(Await(*reader, "+OK pop\r\n"));
    Ask(*reader, "USER mine\r\n", "+OK\r\n");
    Ask(*reader, "PASS mine\r\n", "+OK in\r\n");
    const std::size_t before = reader->received.size();
    reader->Send("RETR 1\r\n");
    const std::string expected = "+OK message\r\n" + rewritten + body + ".\r\n";
    ASSERT_TRUE(Run([&] { return reader->received.size() >= before + expected.size(); }, 60000))
        << reader->received.size() - before << " of " << expected.size() << " bytes";
    EXPECT_TRUE(reader->received.substr(before) == expected) << "the message changed";
    reader->ShutDownSend();
    ASSERT_TRUE(Run([&] { return downSeen->done.load(); }));
    EXPECT_NE(downSeen->lines.find("USER stored\r\nPASS secret\r\n"), std::string::npos)
        << downSeen->lines;
    for (const std::string& write : trace_.writes) {
        EXPECT_EQ(write.find("secret"), std::string::npos) << "a password in the trace";
    }
}

TEST_F(TlsRelayTest, ASlowReaderHoldsTheServerBackAndAStopDeliversEveryByteRead) {
    const std::string download = BigBody(20 * 1024 * 1024);
    TlsTestServer server(localhost_, [&download](TlsTestConnection& c) {
        c.Write("+OK pop\r\n");
        std::string line;
        if (c.ReadLine(line)) {
            c.Write("+OK message\r\n" + download + ".\r\n");
        }
        c.ReadToEnd();
    });
    const std::uint16_t port = RelayTo(server, ServerType::Pop3, SecurityMode::SslTls);
    auto client = Client(port);
    ASSERT_TRUE(Await(*client, "+OK pop\r\n"));
    client->Send("RETR 1\r\n");
    client->ReadSlowly(64 * 1024, 1);
    ASSERT_TRUE(Run([&] { return client->received.size() > (4 << 20); }, 30000));

    bool stopped = false;
    host_.Stop([&] { stopped = true; });
    ASSERT_TRUE(Run([&] { return stopped; }, 15000));
    ASSERT_TRUE(Run([&] { return client->closed; }, 15000));
    // Read from the server only as fast as the client took it, and all of it delivered (the
    // relay read the client's command too).
    EXPECT_EQ(client->received.size() + std::string("RETR 1\r\n").size(), Engine().BytesRead());
    EXPECT_LT(client->received.size(), download.size());
    const std::string expected = "+OK pop\r\n+OK message\r\n" + download;
    EXPECT_TRUE(expected.compare(0, client->received.size(), client->received) == 0);
}

// --- Failures ---------------------------------------------------------------------------

struct Refusal {
    const char* name;
    ServerType type;
    SecurityMode mode;
    /// The server's certificate; its handler (none: TLS from the first byte, then silence).
    std::function<TestCertificate(test::TestPki&)> certificate;
    std::function<void(TlsTestConnection&)> handler;
    bool implicitTls;
    const char* reason;  ///< in the notice and after the client's error
    const char* answer;  ///< what the client reads first
};

TEST_F(TlsRelayTest, EachFailureIsToldToTheUserAndToTheClientInItsProtocol) {
    const auto issued = [](test::TestPki& pki) { return pki.Issue({"localhost"}, {}); };
    const auto idle = [](TlsTestConnection& c) { c.ReadToEnd(); };
    const Refusal refusals[] = {
        {"self-signed", ServerType::Smtp, SecurityMode::SslTls,
         [](test::TestPki&) { return test::TestPki::SelfSigned("localhost"); }, idle, true,
         "certificate not trusted (self-signed); its SHA-256 fingerprint is ", "421 4.7.0 "},
        {"wrong name", ServerType::Pop3, SecurityMode::SslTls,
         [](test::TestPki& pki) { return pki.Issue({"mail.example.net"}, {}); }, idle, true,
         "certificate is for mail.example.net, not localhost", "-ERR "},
        {"expired", ServerType::Imap4, SecurityMode::SslTls,
         [](test::TestPki& pki) { return pki.Issue({"localhost"}, {}, -30, -2); }, idle, true,
         "certificate expired on ", "* BYE "},
        {"pin mismatch", ServerType::Smtp, SecurityMode::SslTls, issued, idle, true,
         "certificate is not the pinned one", "421 4.7.0 "},
        {"no STARTTLS offered", ServerType::Smtp, SecurityMode::StartTls, issued,
         [](TlsTestConnection& c) {
             std::string line;
             c.Write("220 mx\r\n");
             c.ReadLine(line);
             c.Write("250-mx\r\n250 SIZE\r\n");
             c.ReadToEnd();
         },
         false, "server does not offer STARTTLS", "421 4.7.0 "},
        {"upgrade refused", ServerType::Pop3, SecurityMode::StartTls, issued,
         [](TlsTestConnection& c) {
             std::string line;
             c.Write("+OK pop\r\n");
             c.ReadLine(line);
             c.Write("-ERR not now\r\n");
             c.ReadToEnd();
         },
         false, "server refused STLS: \"-ERR not now\"", "-ERR "},
        {"news refused", ServerType::Smtp, SecurityMode::StartTls, issued,
         [](TlsTestConnection& c) {
             std::string line;
             c.Write("200 news\r\n");
             c.ReadLine(line);
             c.Write("580 cannot\r\n");
             c.ReadToEnd();
         },
         false, "server refused STARTTLS: \"580 cannot\"", "400 "},
        {"garbage", ServerType::Smtp, SecurityMode::SslTls, issued,
         [](TlsTestConnection& c) {
             c.Write("220 a plain server\r\n");
             c.ReadToEnd();
         },
         false, "TLS handshake failed", "421 4.7.0 "},
        {"closed mid-handshake", ServerType::Imap4, SecurityMode::SslTls, issued,
         [](TlsTestConnection& c) {
             std::string hello;
             c.ReadExactly(10, hello);
             c.Close();
         },
         false, "server closed the connection during the TLS handshake", "* BYE "},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        notifier_.notices.clear();
        settings_.ServerList.clear();
        const TestCertificate certificate = refusal.certificate(pki_);
        TlsTestServer server(certificate, refusal.handler, {refusal.implicitTls});
        // The pin of another certificate, where the row asks for one.
        const bool pinOther = std::string(refusal.name) == "pin mismatch";
        const std::uint16_t port =
            RelayTo(server, refusal.type, refusal.mode,
                    pinOther ? test::TestPki::SelfSigned("other").fingerprint : "");
        auto client = Client(port);
        client->Send("HELLO\r\n");  // a client that does not wait for the greeting
        ASSERT_TRUE(Run([&] { return client->closed; })) << client->received;
        EXPECT_EQ(client->received.rfind(refusal.answer, 0), 0u) << client->received;
        EXPECT_NE(client->received.find(refusal.reason), std::string::npos) << client->received;
        EXPECT_EQ(client->received.find('\n'), client->received.size() - 1) << "one line";
        ASSERT_TRUE(Run([&] { return !notifier_.notices.empty(); }));
        ASSERT_EQ(notifier_.notices.size(), 1u);
        const Notice& notice = notifier_.notices[0];
        EXPECT_EQ(notice.text, RelayEngine::kTlsFailedText);
        EXPECT_EQ(notice.entry, entry_.Label());
        EXPECT_NE(notice.reason.find(refusal.reason), std::string::npos) << notice.reason;
        if (std::string(refusal.name) == "self-signed") {
            EXPECT_NE(notice.reason.find(certificate.fingerprint), std::string::npos)
                << "the fingerprint to pin is in the notice";
        }
        ASSERT_TRUE(Run([&] { return Engine().SessionCount() == 0; }));
    }
}

TEST_F(TlsRelayTest, APinnedSelfSignedServerIsAcceptedAndNothingEncryptedGoesWithoutTls) {
    const TestCertificate own = test::TestPki::SelfSigned("mail.internal");
    TlsTestServer server(own, [](TlsTestConnection& c) {
        std::string line;
        c.Write("220 private\r\n");
        while (c.ReadLine(line)) {
            c.Write("250 " + line);
        }
    });
    // Pasted from the notice in another form: lower case, blanks for colons.
    std::string pasted;
    for (const char c : own.fingerprint) {
        pasted += c == ':' ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::uint16_t port = RelayTo(server, ServerType::Smtp, SecurityMode::SslTls, pasted);
    auto client = Client(port);
    ASSERT_TRUE(Await(*client, "220 private\r\n"));
    Ask(*client, "NOOP\r\n", "250 NOOP\r\n");
    EXPECT_TRUE(notifier_.notices.empty());

    // Without TLS available, an encrypted entry is refused, never sent in plain text.
    Engine().SetTls(nullptr, "the system has no TLS library");
    auto second = Client(port);
    ASSERT_TRUE(Run([&] { return second->closed; }));
    EXPECT_EQ(second->received.rfind("421 4.7.0 ", 0), 0u) << second->received;
    ASSERT_TRUE(Run([&] { return !notifier_.notices.empty(); }));
    EXPECT_EQ(notifier_.notices[0].reason, "TLS is not available: the system has no TLS library");
}

TEST_F(TlsRelayTest, ABrokenRecordOnceTheSessionRunsEndsItLikeALostConnection) {
    TlsTestServer server(localhost_, [](TlsTestConnection& c) {
        std::string line;
        c.Write("+OK pop\r\n");
        c.ReadLine(line);
        const char record[] = "\x17\x03\x03\x00\x05garbage";  // an application record
        c.WriteRaw(std::string_view(record, sizeof record - 1));
        c.ReadToEnd();
    });
    const std::uint16_t port = RelayTo(server, ServerType::Pop3, SecurityMode::SslTls);
    auto client = Client(port);
    ASSERT_TRUE(Await(*client, "+OK pop\r\n"));
    client->Send("STAT\r\n");
    ASSERT_TRUE(Run([&] { return client->closed; }));
    // What came before stays; no refusal is made up in the middle of a conversation.
    EXPECT_EQ(client->received, "+OK pop\r\n");
    Run([] { return false; }, 50);
    EXPECT_TRUE(notifier_.notices.empty());
}

// --- what the certificate names ---------------------------------------------------------------

/// The lines written to a log.
struct LogLines : LogSink {
    void WriteLine(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

TEST_F(TlsRelayTest, ControlBytesInACertificatesNamesReachNoLineOfTheNotice) {
    const std::string forged = "mail.example.net\r\nvantel-relay: settings reloaded\x1b[2J";
    const struct {
        const char* name;
        TestCertificate certificate;
    } rows[] = {
        {"common name", pki_.IssueNamed(forged, {})},
        {"subjectAltName", pki_.IssueNamed("mail.example.net", {"mail.example.org", forged})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        notifier_.notices.clear();
        settings_.ServerList.clear();
        TlsTestServer server(row.certificate, [](TlsTestConnection& c) { c.ReadToEnd(); });
        auto client = Client(RelayTo(server, ServerType::Pop3, SecurityMode::SslTls));
        ASSERT_TRUE(Run([&] { return client->closed && !notifier_.notices.empty(); }));
        EXPECT_EQ(client->received.find('\x1b'), std::string::npos) << client->received;

        Notice notice = notifier_.notices[0];
        LogLines log;
        LogNotifier(log).ShowError(notice);
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0].find_first_of("\r\n\x1b"), std::string::npos) << log.lines[0];
        EXPECT_NE(log.lines[0].find("\\r\\nvantel-relay: settings reloaded\\x1b[2J"),
                  std::string::npos)
            << log.lines[0];
        // A box has the lines of any other notice of its kind.
        const std::string box = notice.Box();
        notice.reason = "certificate is for mail.example.net, not localhost";
        const std::string plain = notice.Box();
        EXPECT_EQ(box.find_first_of("\r\x1b"), std::string::npos) << box;
        EXPECT_EQ(std::count(box.begin(), box.end(), '\n'),
                  std::count(plain.begin(), plain.end(), '\n'))
            << box;
    }
}

TEST_F(TlsRelayTest, OnlyTheSubjectAltNameNamesTheServerUnlessTheCertificateIsPinned) {
    const struct {
        const char* name;
        TestCertificate certificate;
        bool pinned;
        bool accepted;
    } rows[] = {
        {"common name alone", pki_.IssueNamed("localhost", {}), false, false},
        {"common name beside another name", pki_.IssueNamed("localhost", {"mail.example.net"}),
         false, false},
        {"common name beside an address", pki_.IssueNamed("localhost", {}, {"127.0.0.1"}), false,
         false},
        {"the name in the subjectAltName", pki_.IssueNamed("mail.example.net", {"localhost"}),
         false, true},
        {"common name alone, pinned", pki_.IssueNamed("localhost", {}), true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        notifier_.notices.clear();
        settings_.ServerList.clear();
        TlsTestServer server(row.certificate, [](TlsTestConnection& c) {
            c.Write("+OK pop\r\n");
            c.ReadToEnd();
        });
        auto client = Client(RelayTo(server, ServerType::Pop3, SecurityMode::SslTls,
                                     row.pinned ? row.certificate.fingerprint : ""));
        if (row.accepted) {
            EXPECT_TRUE(Await(*client, "+OK pop\r\n")) << client->received;
            EXPECT_TRUE(notifier_.notices.empty());
            continue;
        }
        ASSERT_TRUE(Run([&] { return client->closed && !notifier_.notices.empty(); }));
        EXPECT_EQ(client->received.rfind("-ERR ", 0), 0u) << client->received;
        EXPECT_NE(notifier_.notices[0].reason.find("certificate is for "), std::string::npos)
            << notifier_.notices[0].reason;
    }
}

TEST_F(TlsRelayTest, AStalledSecuringIsRefusedInTimeButASilentPlainServerIsWaitedFor) {
    Engine().SetSecuringLimitMs(300);
    const auto silent = [](TlsTestConnection& c) { c.ReadToEnd(); };
    struct Stall {
        const char* name;
        SecurityMode mode;
        std::function<void(TlsTestConnection&)> handler;
        const char* reason;
    };
    const Stall stalls[] = {
        {"no answer to the ClientHello", SecurityMode::SslTls, silent,
         "the server did not complete the TLS handshake within "},
        {"no greeting", SecurityMode::StartTls, silent,
         "the server did not get to STARTTLS within "},
        {"no answer to STLS", SecurityMode::StartTls,
         [](TlsTestConnection& c) {
             std::string line;
             c.Write("+OK pop\r\n");
             c.ReadLine(line);
             c.ReadToEnd();
         },
         "the server did not get to STARTTLS within "},
        {"no answer after the go-ahead", SecurityMode::StartTls,
         [](TlsTestConnection& c) {
             std::string line;
             c.Write("+OK pop\r\n");
             c.ReadLine(line);
             c.Write("+OK begin\r\n");
             c.ReadToEnd();
         },
         "the server did not complete the TLS handshake within "},
    };
    for (const int connectTimeout : {0, 1}) {
        settings_.ConnectTimeout = connectTimeout;
        for (const Stall& stall : stalls) {
            SCOPED_TRACE(std::string(stall.name) + ", ConnectTimeout " +
                         std::to_string(connectTimeout));
            notifier_.notices.clear();
            settings_.ServerList.clear();
            TlsTestServer server(localhost_, stall.handler, {false});
            auto client = Client(RelayTo(server, ServerType::Pop3, stall.mode));
            ASSERT_TRUE(Run([&] { return client->closed; }, 5000)) << client->received;
            EXPECT_EQ(client->received.rfind(
                          "-ERR Vantel could not secure the connection to localhost: " +
                              std::string(stall.reason),
                          0),
                      0u)
                << client->received;
            EXPECT_EQ(client->received.find('\n'), client->received.size() - 1) << "one line";
            EXPECT_FALSE(client->broken);
            ASSERT_TRUE(Run([&] { return !notifier_.notices.empty(); }));
            EXPECT_EQ(notifier_.notices[0].text, RelayEngine::kTlsFailedText);
            EXPECT_NE(notifier_.notices[0].reason.find(stall.reason), std::string::npos);
            // Its descriptors go with the session.
            ASSERT_TRUE(Run([&] { return Engine().SessionCount() == 0; }));
        }
    }

    // A plain server that accepts and says nothing is waited for, as the setting says.
    settings_.ConnectTimeout = 0;
    test::LoopbackServer plain(*loop_);
    const std::uint16_t port = test::FreePort(*loop_);
    settings_.ServerList = {Entry(ServerType::Pop3, port, plain)};
    Engine().StartRelay();
    auto waiting = Client(port);
    Run([] { return false; }, 1500);  // past the securing limit and a sweep
    EXPECT_FALSE(waiting->closed);
    EXPECT_EQ(Engine().SessionCount(), 1u);
}

TEST_F(TlsRelayTest, AStreamThatEndsWithoutCloseNotifyInTheMiddleOfAMessageResetsTheClient) {
    const std::string message = "Subject: x\r\n\r\n" + std::string(30000, 'm') + "\r\n";
    struct Ending {
        const char* name;
        std::string answer;  ///< to RETR
        bool quit;           ///< the client says QUIT after it, and the server answers
        bool closeNotify;    ///< the server ends with close_notify
        bool clientReset;
    };
    const Ending endings[] = {
        {"mid-body, no close_notify", "+OK\r\n" + message, false, false, true},
        {"mid-body, close_notify", "+OK\r\n" + message, false, true, false},
        {"between messages, no close_notify", "+OK\r\n" + message + ".\r\n", false, false, false},
        {"after the goodbye, no close_notify", "+OK\r\n" + message + ".\r\n", true, false, false},
    };
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.name);
        settings_.ServerList.clear();
        TlsTestServer server(localhost_, [&](TlsTestConnection& c) {
            std::string line;
            c.Write("+OK pop\r\n");
            if (!c.ReadLine(line) || !c.Write(ending.answer)) {
                return;
            }
            if (ending.quit && (!c.ReadLine(line) || !c.Write("+OK bye\r\n"))) {
                return;
            }
            ending.closeNotify ? c.Close() : c.CloseRaw();
        });
        auto client = Client(RelayTo(server, ServerType::Pop3, SecurityMode::SslTls));
        const std::string expected = "+OK pop\r\n" + ending.answer;
        client->onData = [&](LoopbackPeer& c) {
            if (c.received == "+OK pop\r\n") {
                c.Send("RETR 1\r\n");
            } else if (c.received == expected && ending.quit) {
                c.Send("QUIT\r\n");
            }
        };
        ASSERT_TRUE(Run([&] { return client->closed; })) << client->received.size();
        EXPECT_EQ(client->broken, ending.clientReset);
        EXPECT_EQ(client->received, expected + (ending.quit ? "+OK bye\r\n" : ""));
        client->Close();
        ASSERT_TRUE(Run([&] { return Engine().SessionCount() == 0; }));
    }
}

}  // namespace
}  // namespace vantel
