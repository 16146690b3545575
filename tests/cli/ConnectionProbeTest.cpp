// The connection probe over real loopback connections: plain servers, TLS from the first
// byte and STARTTLS with trusted, refused and pinned certificates, and servers that refuse,
// stay silent or send garbage. The servers are TlsTestServer's threads.
#include "cli/ConnectionProbe.h"

#include <openssl/ssl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <future>
#include <mutex>
#include <regex>
#include <string>

#include "LoopbackPeer.h"
#include "cli/ProbeReportText.h"
#include "tls/TestPki.h"
#include "tls/TlsTestServer.h"

namespace vantel {
namespace {

using test::DayFromNow;
using test::TestCertificate;
using test::TestPki;
using test::TlsTestConnection;
using test::TlsTestServer;
using test::TlsTestServerOptions;

constexpr std::uint32_t kTimeoutMs = 10000;

/// What a server's handler heard, complete once `done` is ready.
struct Heard {
    std::mutex mutex;
    std::string lines;
    bool tls = false;
    bool closeNotify = false;
    std::promise<void> finished;
    std::future<void> done = finished.get_future();

    /// Reads lines to the end of the client's stream, then says the handler is done.
    void ReadToEnd(TlsTestConnection& connection) {
        std::string line;
        while (connection.ReadLine(line)) {
            std::lock_guard<std::mutex> lock(mutex);
            lines += line;
        }
        std::lock_guard<std::mutex> lock(mutex);
        tls = connection.tls();
        closeNotify = connection.sawCloseNotify();
    }
    /// Waits for the handler; false if it is still running after 5 s.
    bool Wait() { return done.wait_for(std::chrono::seconds(5)) == std::future_status::ready; }
};

/// A handler that says `greeting`, then hears the client out.
TlsTestServer::Handler Greets(std::string greeting, Heard& heard) {
    return [greeting, &heard](TlsTestConnection& connection) {
        connection.Write(greeting);
        heard.ReadToEnd(connection);
        heard.finished.set_value();
    };
}

class ConnectionProbeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        context_ = CreateTlsContext({pki_.caPem()}, error);
        ASSERT_TRUE(context_) << error;
    }

    static ServerEntry Entry(std::uint16_t port, ServerType type, SecurityMode mode,
                             const std::string& pin = "") {
        ServerEntry entry;
        entry.Name = "localhost";
        entry.RemotePort = port;
        entry.Type = StoredServerType(type);
        entry.Security = StoredSecurityMode(mode);
        entry.Fingerprint = pin;
        return entry;
    }

    ProbeReport Probe(const ServerEntry& entry, std::uint32_t timeoutMs = kTimeoutMs) {
        ConnectionProbe probe(*loop_, context_.get());
        return probe.Run(entry, timeoutMs);
    }

    std::unique_ptr<EventLoop> loop_ = CreateEventLoop();
    TestPki pki_;
    TestCertificate localhost_ = pki_.Issue({"localhost"}, {"127.0.0.1"});
    std::unique_ptr<TlsContext> context_;
};

// --- Plain text --------------------------------------------------------------------------------

TEST_F(ConnectionProbeTest, PlainServersGreetAndHearOnlyTheGoodbye) {
    const struct {
        ServerType type;
        const char* says;      ///< the server's first words
        const char* greeting;  ///< what of them is the greeting
        const char* goodbye;
    } cases[] = {
        // SMTP's greeting runs to the reply's last line.
        {ServerType::Smtp, "220-mx.example.test ESMTP\r\n220-no spam\r\n220 ready\r\n250 x\r\n",
         "220-mx.example.test ESMTP\r\n220-no spam\r\n220 ready\r\n", "QUIT\r\n"},
        {ServerType::Smtp, "200 news.example.test ready\r\n", "200 news.example.test ready\r\n",
         "QUIT\r\n"},
        {ServerType::Pop3, "+OK pop ready\r\n+OK more\r\n", "+OK pop ready\r\n", "QUIT\r\n"},
        {ServerType::Imap4, "* OK [CAPABILITY IMAP4rev1] hi\n* more\r\n",
         "* OK [CAPABILITY IMAP4rev1] hi\n", "a LOGOUT\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        Heard heard;
        TlsTestServer server(localhost_, Greets(c.says, heard), TlsTestServerOptions{false});
        const ProbeReport report = Probe(Entry(server.port(), c.type, SecurityMode::None));
        EXPECT_TRUE(report.connected);
        EXPECT_EQ(report.address, "127.0.0.1:" + std::to_string(server.port()));
        EXPECT_EQ(report.greeting, c.greeting);
        EXPECT_FALSE(report.encrypted);
        EXPECT_FALSE(report.certificateSeen);
        EXPECT_EQ(report.verification, "");
        EXPECT_EQ(report.error, "");
        ASSERT_TRUE(heard.Wait());
        EXPECT_EQ(heard.lines, c.goodbye) << "no login, nothing but the goodbye";
    }
}

// --- TLS from the first byte -------------------------------------------------------------------

TEST_F(ConnectionProbeTest, TrustedServerShowsItsCertificateAndTheTlsAgreed) {
    const struct {
        int maxVersion;
        const char* version;
        const char* cipher;
    } cases[] = {
        {0, "TLSv1.3", "TLS_AES_256_GCM_SHA384"},
        // The standard name, not OpenSSL's own ("ECDHE-ECDSA-AES256-GCM-SHA384").
        {TLS1_2_VERSION, "TLSv1.2", "TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        Heard heard;
        TlsTestServer server(localhost_, Greets("220 mx ESMTP\r\n", heard),
                             TlsTestServerOptions{true, c.maxVersion});
        const ProbeReport report =
            Probe(Entry(server.port(), ServerType::Smtp, SecurityMode::SslTls));
        EXPECT_EQ(report.error, "");
        EXPECT_EQ(report.greeting, "220 mx ESMTP\r\n");
        EXPECT_TRUE(report.encrypted);
        EXPECT_EQ(report.tlsVersion, c.version);
        EXPECT_EQ(report.cipher, c.cipher);
        EXPECT_TRUE(report.verified);
        EXPECT_EQ(report.verification, "verified: the certificate is trusted and is for localhost");

        ASSERT_TRUE(report.certificateSeen);
        const CertificateInfo& certificate = report.certificate;
        EXPECT_EQ(certificate.subject, "CN=localhost, O=Vantel tests");
        EXPECT_EQ(certificate.names, (std::vector<std::string>{"localhost", "127.0.0.1"}));
        EXPECT_TRUE(std::regex_match(certificate.issuer,
                                     std::regex("CN=Vantel Test CA [0-9]+, O=Vantel tests")))
            << certificate.issuer;
        const std::regex time("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC");
        EXPECT_TRUE(std::regex_match(certificate.notBefore, time)) << certificate.notBefore;
        EXPECT_EQ(certificate.notBefore.substr(0, 10), DayFromNow(-1));
        EXPECT_EQ(certificate.notAfter.substr(0, 10), DayFromNow(30));
        EXPECT_EQ(certificate.fingerprint, localhost_.fingerprint);

        ASSERT_TRUE(heard.Wait());
        EXPECT_EQ(heard.lines, "QUIT\r\n");
        EXPECT_TRUE(heard.tls);
        EXPECT_TRUE(heard.closeNotify);
    }
}

TEST_F(ConnectionProbeTest, RefusedCertificatesAreShownWithTheRelaysReason) {
    const TestCertificate self = TestPki::SelfSigned("localhost");
    const TestCertificate elsewhere = pki_.Issue({"mail.example.net"});
    const TestCertificate expired = pki_.Issue({"localhost"}, {}, -60, -30);
    const struct {
        const TestCertificate& certificate;
        std::string pin;
        std::string reason;
        const char* subject;
    } cases[] = {
        {self, "", "certificate not trusted (self-signed)", "CN=localhost, O=Vantel tests"},
        {elsewhere, "", "certificate is for mail.example.net, not localhost",
         "CN=mail.example.net, O=Vantel tests"},
        {expired, "", "certificate expired on " + DayFromNow(-30), "CN=localhost, O=Vantel tests"},
        {localhost_, TestPki::SelfSigned("localhost").fingerprint,
         "certificate is not the pinned one", "CN=localhost, O=Vantel tests"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        TlsTestServer server(c.certificate, [](TlsTestConnection& connection) {
            connection.Write("220 should never be read\r\n");
        });
        const ProbeReport report =
            Probe(Entry(server.port(), ServerType::Smtp, SecurityMode::SslTls, c.pin));
        const std::string words =
            c.reason + "; its SHA-256 fingerprint is " + c.certificate.fingerprint;
        EXPECT_TRUE(report.connected);
        EXPECT_FALSE(report.verified);
        EXPECT_EQ(report.verification, words);
        EXPECT_EQ(report.error, words);
        EXPECT_FALSE(report.encrypted);
        EXPECT_EQ(report.greeting, "");
        ASSERT_TRUE(report.certificateSeen);
        EXPECT_EQ(report.certificate.subject, c.subject);
        EXPECT_EQ(report.certificate.fingerprint, c.certificate.fingerprint);
        EXPECT_FALSE(report.certificate.notAfter.empty());
    }

    // The certificate the user would pin is then taken as it is.
    Heard heard;
    TlsTestServer server(self, Greets("220 mx\r\n", heard));
    const ProbeReport pinned =
        Probe(Entry(server.port(), ServerType::Smtp, SecurityMode::SslTls, self.fingerprint));
    EXPECT_EQ(pinned.error, "");
    EXPECT_TRUE(pinned.verified);
    EXPECT_EQ(pinned.verification, "verified: the certificate is the pinned one");
    EXPECT_EQ(pinned.greeting, "220 mx\r\n");
    EXPECT_EQ(pinned.certificate.issuer, "CN=localhost, O=Vantel tests");
    ASSERT_TRUE(heard.Wait());
}

// --- STARTTLS ----------------------------------------------------------------------------------

TEST_F(ConnectionProbeTest, StartTlsKeepsThePlainGreetingAndSecuresTheRest) {
    const struct {
        ServerType type;
        const char* greeting;
        std::function<bool(TlsTestConnection&)> upgrade;  ///< the server's side of it
        const char* goodbye;
    } cases[] = {
        {ServerType::Smtp, "220-mx ESMTP\r\n220 ready\r\n",
         [](TlsTestConnection& c) {
             std::string line;
             return c.ReadLine(line) && line == "EHLO localhost\r\n" &&
                    c.Write("250-mx\r\n250 STARTTLS\r\n") && c.ReadLine(line) &&
                    line == "STARTTLS\r\n" && c.Write("220 go ahead\r\n");
         },
         "QUIT\r\n"},
        {ServerType::Pop3, "+OK pop\r\n",
         [](TlsTestConnection& c) {
             std::string line;
             return c.ReadLine(line) && line == "STLS\r\n" && c.Write("+OK begin\r\n");
         },
         "QUIT\r\n"},
        // The greeting as the server sent it: the capabilities stay in the report.
        {ServerType::Imap4, "* OK [CAPABILITY IMAP4rev1 STARTTLS] hi\r\n",
         [](TlsTestConnection& c) {
             std::string line;
             return c.ReadLine(line) && line == "V1 STARTTLS\r\n" && c.Write("V1 OK begin\r\n");
         },
         "a LOGOUT\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.greeting);
        Heard heard;
        TlsTestServer server(
            localhost_,
            [&](TlsTestConnection& connection) {
                if (connection.Write(c.greeting) && c.upgrade(connection) &&
                    connection.StartTls()) {
                    heard.ReadToEnd(connection);
                }
                heard.finished.set_value();
            },
            TlsTestServerOptions{false});
        const ProbeReport report = Probe(Entry(server.port(), c.type, SecurityMode::StartTls));
        EXPECT_EQ(report.error, "");
        EXPECT_EQ(report.greeting, c.greeting);
        EXPECT_TRUE(report.encrypted);
        EXPECT_EQ(report.tlsVersion, "TLSv1.3");
        EXPECT_TRUE(report.verified);
        EXPECT_EQ(report.certificate.fingerprint, localhost_.fingerprint);
        ASSERT_TRUE(heard.Wait());
        EXPECT_TRUE(heard.tls);
        EXPECT_EQ(heard.lines, c.goodbye);
    }

    // A server that does not offer it is never talked to in plain text beyond the dialogue.
    Heard heard;
    TlsTestServer plainOnly(
        localhost_,
        [&](TlsTestConnection& connection) {
            std::string line;
            if (connection.Write("220 mx\r\n") && connection.ReadLine(line)) {
                connection.Write("250-mx\r\n250 SIZE 100\r\n");
                heard.ReadToEnd(connection);
            }
            heard.finished.set_value();
        },
        TlsTestServerOptions{false});
    const ProbeReport refused =
        Probe(Entry(plainOnly.port(), ServerType::Smtp, SecurityMode::StartTls));
    EXPECT_EQ(refused.error, "server does not offer STARTTLS");
    EXPECT_EQ(refused.greeting, "220 mx\r\n");
    EXPECT_FALSE(refused.encrypted);
    EXPECT_FALSE(refused.certificateSeen);
    EXPECT_EQ(refused.verification, "");
    ASSERT_TRUE(heard.Wait());
    EXPECT_EQ(heard.lines, "");
}

// --- Servers that do not play along -----------------------------------------------------------

TEST_F(ConnectionProbeTest, SilentRefusingAndVanishingServersEndInTimeWithAReason) {
    // Holds the connection open until the probe lets go.
    const auto silent = [](TlsTestConnection& connection) {
        std::string ignored;
        connection.ReadExactly(1 << 20, ignored);
    };
    TlsTestServer mute(localhost_, silent, TlsTestServerOptions{false});
    const struct {
        SecurityMode mode;
        const char* error;
    } cases[] = {
        {SecurityMode::None, "no greeting: timed out after 300 ms"},
        {SecurityMode::StartTls, "no greeting: timed out after 300 ms"},
        {SecurityMode::SslTls, "TLS handshake not finished: timed out after 300 ms"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const std::uint64_t start = loop_->NowMs();
        const ProbeReport report = Probe(Entry(mute.port(), ServerType::Smtp, c.mode), 300);
        EXPECT_LT(loop_->NowMs() - start, 3000u);
        EXPECT_TRUE(report.connected);
        EXPECT_EQ(report.error, c.error);
    }

    TlsTestServer hangsUp(
        localhost_, [](TlsTestConnection&) {}, TlsTestServerOptions{false});
    EXPECT_EQ(Probe(Entry(hangsUp.port(), ServerType::Pop3, SecurityMode::None)).error,
              "server closed the connection without a greeting");
    EXPECT_EQ(Probe(Entry(hangsUp.port(), ServerType::Pop3, SecurityMode::SslTls)).error,
              "server closed the connection during the TLS handshake");
    TlsTestServer hangsUpMidway(
        localhost_, [](TlsTestConnection& c) { c.Write("220-mx\r\n220-more"); },
        TlsTestServerOptions{false});
    const ProbeReport midway =
        Probe(Entry(hangsUpMidway.port(), ServerType::Smtp, SecurityMode::None));
    EXPECT_EQ(midway.error, "server closed the connection during its greeting");
    EXPECT_EQ(midway.greeting, "220-mx\r\n220-more");

    const ProbeReport refused =
        Probe(Entry(test::FreePort(*loop_), ServerType::Smtp, SecurityMode::None));
    EXPECT_FALSE(refused.connected);
    EXPECT_EQ(refused.error, "connection refused");
    // "localhost" may stand for ::1 too: the last address tried is reported.
    EXPECT_NE(refused.address, "");
}

TEST_F(ConnectionProbeTest, HostileGreetingsAreCutAndKeptAsBytes) {
    // A megabyte without a line end, and a line of NULs and an escape sequence.
    const std::string endless(1 << 20, 'x');
    const std::string controls = std::string("220 a\0b\x1b[2J\x9b\r\n", 14);
    TlsTestServer floods(
        localhost_, [&](TlsTestConnection& c) { c.Write(endless); }, TlsTestServerOptions{false});
    const ProbeReport cut = Probe(Entry(floods.port(), ServerType::Smtp, SecurityMode::None));
    EXPECT_EQ(cut.greeting, endless.substr(0, ConnectionProbe::kMaxGreeting));
    EXPECT_TRUE(cut.greetingCut);
    EXPECT_EQ(cut.error, "");
    // STARTTLS gives up on such a server as the relay does.
    EXPECT_EQ(Probe(Entry(floods.port(), ServerType::Smtp, SecurityMode::StartTls)).error,
              "server sent no proper answer before TLS");

    Heard heard;
    TlsTestServer garbled(localhost_, Greets(controls, heard), TlsTestServerOptions{false});
    const ProbeReport raw = Probe(Entry(garbled.port(), ServerType::Smtp, SecurityMode::None));
    EXPECT_EQ(raw.greeting, controls);
    EXPECT_NE(FormatProbeReport(raw).find("Greeting: 220 a?b?[2J?\n"), std::string::npos)
        << FormatProbeReport(raw);
    ASSERT_TRUE(heard.Wait());
}

TEST_F(ConnectionProbeTest, EntriesTheRelayWouldRefuseAreNotConnected) {
    Heard heard;
    TlsTestServer server(localhost_, Greets("220 mx\r\n", heard), TlsTestServerOptions{false});
    ServerEntry unknown = Entry(server.port(), ServerType::Smtp, SecurityMode::None);
    unknown.Security = 7;
    EXPECT_EQ(Probe(unknown).error, "security mode 7 is not known to this version of Vantel");

    ConnectionProbe withoutTls(*loop_, nullptr, "no TLS library");
    const ProbeReport report =
        withoutTls.Run(Entry(server.port(), ServerType::Smtp, SecurityMode::StartTls), 1000);
    EXPECT_EQ(report.error, "TLS is not available: no TLS library");
    EXPECT_FALSE(report.connected);

    ServerEntry noPort = Entry(0, ServerType::Smtp, SecurityMode::None);
    EXPECT_EQ(Probe(noPort).error, "the remote port is out of range");
    EXPECT_EQ(server.accepted(), 0u);
}

}  // namespace
}  // namespace vantel
