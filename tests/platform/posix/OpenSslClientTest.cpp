// The Linux TLS client against real servers: TlsTestServer over loopback sockets, and an
// OpenSSL server on memory BIOs where the test decides how the bytes are cut.
#include "platform/posix/OpenSslClient.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/pem.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <future>
#include <optional>

#include "TempDir.h"
#include "platform/TlsClient.h"
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

constexpr int kTimeoutMs = 10000;

std::unique_ptr<TlsContext> Context(const std::string& roots) {
    std::string error;
    auto context = CreateTlsContext(TlsContextOptions{roots}, error);
    EXPECT_NE(context, nullptr) << error;
    return context;
}

/// An environment variable set for the scope, restored after it.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

/// The client's end of one loopback connection: a blocking socket and the TlsClient whose
/// bytes it carries.
class Session {
  public:
    Session(TlsContext& context, std::uint16_t port, const std::string& host,
            const std::string& pin = "")
        : client(context.CreateClient(TlsClientOptions{host, pin})) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Session() { close(fd_); }

    /// Starts the handshake and carries bytes until it is over one way or the other.
    TlsState Handshake() {
        EXPECT_TRUE(connected_);
        client->Start();
        Flush();
        while (client->state() == TlsState::Handshaking && Pump()) {
        }
        return client->state();
    }
    void Send(std::string_view plaintext) {
        client->Write(plaintext);
        Flush();
    }
    /// Carries bytes until `done()` holds; false if the stream ends or time runs out first.
    bool PumpUntil(const std::function<bool()>& done) {
        while (!done()) {
            if (ended || !Pump()) {
                return done();
            }
        }
        return true;
    }
    bool ReadLine(std::string& line) {
        if (!PumpUntil([&] { return received.find('\n') != std::string::npos; })) {
            return false;
        }
        line = received.substr(0, received.find('\n') + 1);
        received.erase(0, line.size());
        return true;
    }
    void Close() {
        client->Close();
        Flush();
    }
    /// Before the handshake (STARTTLS): plain bytes and lines on the socket.
    void SendPlain(std::string_view bytes) {
        EXPECT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    std::string ReadPlainLine() {
        std::string line;
        char c;
        while (line.find('\n') == std::string::npos && recv(fd_, &c, 1, 0) == 1) {
            line += c;
        }
        return line;
    }
    /// Starts the handshake and sends `before` and the ClientHello in one piece.
    void StartWith(std::string_view before) {
        client->Start();
        std::string out(before);
        client->TakeOutgoing(out);
        SendPlain(out);
    }

    std::unique_ptr<TlsClient> client;
    std::string received;  // plaintext from the server
    bool ended = false;    // the server's stream ended

  private:
    void Flush() {
        std::string out;
        client->TakeOutgoing(out);
        std::string_view rest = out;
        while (!rest.empty()) {
            const ssize_t sent = send(fd_, rest.data(), rest.size(), MSG_NOSIGNAL);
            if (sent <= 0) {
                return;
            }
            rest.remove_prefix(static_cast<std::size_t>(sent));
        }
    }
    /// One receive: fed to the client, or the end of input. false after a timeout or the end.
    bool Pump() {
        pollfd ready{fd_, POLLIN, 0};
        if (ended || poll(&ready, 1, kTimeoutMs) != 1) {
            return false;
        }
        char data[16 * 1024];
        const ssize_t size = recv(fd_, data, sizeof data, 0);
        if (size > 0) {
            client->Feed(std::string_view(data, static_cast<std::size_t>(size)));
        } else {
            ended = true;
            client->EndOfInput();
        }
        Flush();
        client->TakeIncoming(received);
        return !ended;
    }

    int fd_;
    bool connected_ = false;
};

/// An OpenSSL server on memory BIOs: the test carries its bytes and decides how they are cut.
class MemoryServer {
  public:
    /// `maxVersion`: 0, or the highest version it speaks (TLS1_1_VERSION: it refuses the
    /// client's TLS 1.2 and 1.3 with a protocol_version alert, as a current OpenSSL would).
    explicit MemoryServer(const TestCertificate& certificate, int maxVersion = 0) {
        context_ = SSL_CTX_new(TLS_server_method());
        if (maxVersion != 0) {
            SSL_CTX_set_security_level(context_, 0);
            SSL_CTX_set_min_proto_version(context_, 0);
            SSL_CTX_set_max_proto_version(context_, maxVersion);
        }
        BIO* bio = BIO_new_mem_buf(certificate.certPem.data(), -1);
        X509* leaf = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        bio = BIO_new_mem_buf(certificate.keyPem.data(), -1);
        EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        EXPECT_EQ(SSL_CTX_use_certificate(context_, leaf), 1);
        EXPECT_EQ(SSL_CTX_use_PrivateKey(context_, key), 1);
        X509_free(leaf);
        EVP_PKEY_free(key);
        ssl_ = SSL_new(context_);
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        BIO_set_mem_eof_return(in_, -1);
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_accept_state(ssl_);
    }
    ~MemoryServer() {
        SSL_free(ssl_);
        SSL_CTX_free(context_);
    }

    void Feed(std::string_view bytes) {
        BIO_write(in_, bytes.data(), static_cast<int>(bytes.size()));
        if (!open && !failed) {
            const int result = SSL_do_handshake(ssl_);
            if (result == 1) {
                open = true;
                const char* name = SSL_get_servername(ssl_, TLSEXT_NAMETYPE_host_name);
                serverName = name != nullptr ? name : "";
            } else if (SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ) {
                failed = true;
            }
        }
        char data[16 * 1024];
        std::size_t size = 0;
        while (open && SSL_read_ex(ssl_, data, sizeof data, &size) == 1) {
            received.append(data, size);
        }
        if (open && SSL_get_error(ssl_, 0) == SSL_ERROR_ZERO_RETURN) {
            sawCloseNotify = true;
        }
        ERR_clear_error();
    }
    std::string TakeOutgoing() {
        std::string bytes(BIO_ctrl_pending(out_), '\0');
        bytes.resize(static_cast<std::size_t>(
            std::max(BIO_read(out_, bytes.data(), static_cast<int>(bytes.size())), 0)));
        return bytes;
    }
    void Write(std::string_view bytes) {
        std::size_t written = 0;
        EXPECT_EQ(SSL_write_ex(ssl_, bytes.data(), bytes.size(), &written), 1);
    }
    void Close() { SSL_shutdown(ssl_); }

    bool open = false;
    bool failed = false;
    bool sawCloseNotify = false;
    std::string serverName;
    std::string received;

  private:
    SSL_CTX* context_;
    SSL* ssl_;
    BIO* in_;
    BIO* out_;
};

/// Carries bytes both ways until neither side has more, cutting what goes to the client into
/// pieces of `pieces` sizes in turn (the server gets whole flights).
void Carry(TlsClient& client, MemoryServer& server, const std::vector<std::size_t>& pieces = {}) {
    std::size_t turn = 0;
    for (;;) {
        std::string toServer;
        client.TakeOutgoing(toServer);
        if (!toServer.empty()) {
            server.Feed(toServer);
        }
        const std::string toClient = server.TakeOutgoing();
        if (toServer.empty() && toClient.empty()) {
            return;
        }
        std::string_view rest = toClient;
        while (!rest.empty()) {
            const std::size_t size = pieces.empty()
                                         ? rest.size()
                                         : std::min(rest.size(), pieces[turn++ % pieces.size()]);
            client.Feed(rest.substr(0, size));
            rest.remove_prefix(size);
        }
    }
}

/// The outcome of one in-memory handshake with `certificate` for `host`.
struct Outcome {
    TlsState state;
    TlsFailure failure;
    std::string fingerprint;
    std::string serverName;
};

Outcome HandshakeInMemory(TlsContext& context, const TestCertificate& certificate,
                          const std::string& host, const std::string& pin = "") {
    MemoryServer server(certificate);
    auto client = context.CreateClient(TlsClientOptions{host, pin});
    client->Start();
    Carry(*client, server);
    return {client->state(), client->failure(), client->fingerprint(), server.serverName};
}

TEST(OpenSslClientTest, TrustsTheGivenRootsOrTheDefaultPathsAndNothingElse) {
    TestPki pki;
    const TestCertificate certificate = pki.Issue({"localhost"}, {"127.0.0.1"});
    std::promise<std::string> serverName;
    TlsTestServer server(certificate, [&](TlsTestConnection& connection) {
        serverName.set_value(connection.serverName());
        std::string line;
        while (connection.ReadLine(line)) {
            connection.Write("echo " + line);
        }
    });

    auto exclusive = Context(pki.caPem());
    {
        Session session(*exclusive, server.port(), "localhost");
        ASSERT_EQ(session.Handshake(), TlsState::Open) << session.client->failure().detail;
        EXPECT_EQ(session.client->version(), "TLSv1.3");
        EXPECT_EQ(session.client->fingerprint(), certificate.fingerprint);
        session.Send("HELO\r\n");
        std::string line;
        ASSERT_TRUE(session.ReadLine(line));
        EXPECT_EQ(line, "echo HELO\r\n");
    }
    EXPECT_EQ(serverName.get_future().get(), "localhost");

    // Another CA's certificate is "issuer unknown" to the same context.
    const Outcome stranger =
        HandshakeInMemory(*exclusive, TestPki().Issue({"localhost"}), "localhost");
    EXPECT_EQ(stranger.state, TlsState::Failed);
    EXPECT_EQ(stranger.failure.problem, TlsProblem::Untrusted);
    EXPECT_EQ(stranger.failure.detail, "issuer unknown");

    // The default paths: the system's roots do not know the test CA; SSL_CERT_FILE adds it.
    test::TempDir directory;
    const std::string roots = (directory.path() / "roots.pem").string();
    std::ofstream(roots) << pki.caPem();
    auto system = Context("");
    const Outcome unknown = HandshakeInMemory(*system, certificate, "localhost");
    EXPECT_EQ(unknown.failure.problem, TlsProblem::Untrusted);
    EXPECT_EQ(unknown.failure.detail, "issuer unknown");
    EXPECT_EQ(unknown.failure.fingerprint, certificate.fingerprint);
    {
        ScopedEnvironment file("SSL_CERT_FILE", roots);
        auto withFile = Context("");
        const Outcome known = HandshakeInMemory(*withFile, certificate, "localhost");
        EXPECT_EQ(known.state, TlsState::Open) << known.failure.detail;
    }

    // Roots that hold no certificate make no context.
    std::string error;
    EXPECT_EQ(CreateTlsContext(TlsContextOptions{"not a certificate"}, error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(OpenSslClientTest, MatchesAddressesByIpEntriesAndSendsServerNamesOnlyForNames) {
    TestPki pki;
    auto context = Context(pki.caPem());
    const TestCertificate byAddress = pki.Issue({"localhost"}, {"127.0.0.1", "::1"});
    const TestCertificate byNameOnly = pki.Issue({"localhost", "127.0.0.1"});

    std::promise<std::string> serverName;
    {
        TlsTestServer server(byAddress, [&](TlsTestConnection& connection) {
            serverName.set_value(connection.serverName());
            connection.Write("220 ready\r\n");
        });
        Session session(*context, server.port(), "127.0.0.1");
        ASSERT_EQ(session.Handshake(), TlsState::Open) << session.client->failure().detail;
        std::string line;
        EXPECT_TRUE(session.ReadLine(line));
        EXPECT_EQ(line, "220 ready\r\n");
    }
    EXPECT_EQ(serverName.get_future().get(), "");

    for (const std::string host : {"::1", "[::1]"}) {
        const Outcome outcome = HandshakeInMemory(*context, byAddress, host);
        EXPECT_EQ(outcome.state, TlsState::Open) << host << ": " << outcome.failure.detail;
        EXPECT_EQ(outcome.serverName, "") << host;
    }
    const Outcome named = HandshakeInMemory(*context, byAddress, "LocalHost.");
    EXPECT_EQ(named.state, TlsState::Open) << named.failure.detail;
    EXPECT_EQ(named.serverName, "LocalHost");

    // A DNS entry that reads like an address is not an address entry.
    const Outcome refused = HandshakeInMemory(*context, byNameOnly, "127.0.0.1");
    EXPECT_EQ(refused.state, TlsState::Failed);
    EXPECT_EQ(refused.failure.problem, TlsProblem::NameMismatch);
    EXPECT_EQ(refused.failure.detail, "localhost, 127.0.0.1");
    EXPECT_EQ(refused.failure.fingerprint, byNameOnly.fingerprint);
    EXPECT_EQ(refused.serverName, "");
    EXPECT_EQ(HandshakeInMemory(*context, byAddress, "[::2]").failure.problem,
              TlsProblem::NameMismatch);

    // Nothing to check the certificate for: refused before a byte is sent.
    for (const std::string host : {"", "[not:an:address]"}) {
        auto client = context->CreateClient(TlsClientOptions{host, ""});
        client->Start();
        std::string out;
        client->TakeOutgoing(out);
        EXPECT_EQ(client->state(), TlsState::Failed) << host;
        EXPECT_EQ(client->failure().problem, TlsProblem::Handshake) << host;
        EXPECT_EQ(out, "") << host;
    }
}

TEST(OpenSslClientTest, NamesWhatTheCertificateIsForWhenTheNameIsWrong) {
    TestPki pki;
    auto context = Context(pki.caPem());
    const TestCertificate several =
        pki.Issue({"mail.example.test", "*.smtp.example.test"}, {"192.0.2.1", "2001:db8::25"});
    const Outcome wrong = HandshakeInMemory(*context, several, "localhost");
    EXPECT_EQ(wrong.failure.problem, TlsProblem::NameMismatch);
    EXPECT_EQ(wrong.failure.detail,
              "mail.example.test, *.smtp.example.test, 192.0.2.1, 2001:db8::25");
    EXPECT_EQ(wrong.failure.fingerprint, several.fingerprint);

    // A wildcard stands for exactly one label.
    EXPECT_EQ(HandshakeInMemory(*context, several, "a.smtp.example.test").state, TlsState::Open);
    EXPECT_EQ(HandshakeInMemory(*context, several, "a.b.smtp.example.test").failure.problem,
              TlsProblem::NameMismatch);

    // Without subjectAltName: the common name, which names no server, not even its own.
    const Outcome unnamed = HandshakeInMemory(*context, pki.Issue({}), "localhost");
    EXPECT_EQ(unnamed.failure.problem, TlsProblem::NameMismatch);
    EXPECT_EQ(unnamed.failure.detail, "Vantel test server in its common name only");
    const Outcome common =
        HandshakeInMemory(*context, pki.IssueNamed("localhost", {}), "localhost");
    EXPECT_EQ(common.failure.problem, TlsProblem::NameMismatch);
    EXPECT_EQ(common.failure.detail, "localhost in its common name only");

    std::vector<std::string> many;
    for (int i = 0; i < 12; ++i) {
        many.push_back("n" + std::to_string(i) + ".example.test");
    }
    EXPECT_EQ(HandshakeInMemory(*context, pki.Issue(many), "localhost").failure.detail,
              "n0.example.test, n1.example.test, n2.example.test, n3.example.test, "
              "n4.example.test, n5.example.test, n6.example.test, n7.example.test, "
              "n8.example.test, n9.example.test and 2 more");
}

TEST(OpenSslClientTest, GivesTheDatesOfExpiredAndNotYetValidCertificates) {
    TestPki pki;
    auto context = Context(pki.caPem());
    const TestCertificate expired = pki.Issue({"localhost"}, {}, -60, -30);
    const Outcome late = HandshakeInMemory(*context, expired, "localhost");
    EXPECT_EQ(late.state, TlsState::Failed);
    EXPECT_EQ(late.failure.problem, TlsProblem::Expired);
    EXPECT_EQ(late.failure.detail, DayFromNow(-30));
    EXPECT_EQ(late.failure.fingerprint, expired.fingerprint);

    const TestCertificate early = pki.Issue({"localhost"}, {}, 10, 40);
    const Outcome soon = HandshakeInMemory(*context, early, "localhost");
    EXPECT_EQ(soon.failure.problem, TlsProblem::NotYetValid);
    EXPECT_EQ(soon.failure.detail, DayFromNow(10));

    // Which failure is told when several apply: the chain first, then the name, then the
    // dates, as on Windows.
    EXPECT_EQ(HandshakeInMemory(*context, expired, "elsewhere.test").failure.problem,
              TlsProblem::NameMismatch);
    const Outcome stranger =
        HandshakeInMemory(*context, TestPki().Issue({"localhost"}, {}, -60, -30), "elsewhere.test");
    EXPECT_EQ(stranger.failure.problem, TlsProblem::Untrusted);
    EXPECT_EQ(stranger.failure.detail, "issuer unknown");
}

TEST(OpenSslClientTest, RefusesSelfSignedCertificatesUnlessPinned) {
    auto context = Context(TestPki().caPem());
    const TestCertificate self = TestPki::SelfSigned("localhost");
    const Outcome refused = HandshakeInMemory(*context, self, "localhost");
    EXPECT_EQ(refused.state, TlsState::Failed);
    EXPECT_EQ(refused.failure.problem, TlsProblem::Untrusted);
    EXPECT_EQ(refused.failure.detail, "self-signed");
    EXPECT_EQ(refused.failure.fingerprint, self.fingerprint);
    EXPECT_EQ(refused.fingerprint, self.fingerprint);
    // Untrusted is told before a wrong name.
    EXPECT_EQ(HandshakeInMemory(*context, self, "elsewhere.test").failure.detail, "self-signed");

    std::string bare;
    for (const char c : self.fingerprint) {
        if (c != ':') {
            bare += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    for (const std::string& pin : {self.fingerprint, bare, " " + bare + "\n"}) {
        const Outcome pinned = HandshakeInMemory(*context, self, "localhost", pin);
        EXPECT_EQ(pinned.state, TlsState::Open) << pin << ": " << pinned.failure.detail;
    }
    // A pin is trust in that very certificate: its name and dates are not checked either.
    const TestCertificate oldAndElsewhere = TestPki::SelfSigned("elsewhere.test", -60, -30);
    EXPECT_EQ(HandshakeInMemory(*context, oldAndElsewhere, "localhost", oldAndElsewhere.fingerprint)
                  .state,
              TlsState::Open);

    const Outcome other = HandshakeInMemory(*context, self, "localhost",
                                            TestPki::SelfSigned("localhost").fingerprint);
    EXPECT_EQ(other.state, TlsState::Failed);
    EXPECT_EQ(other.failure.problem, TlsProblem::PinMismatch);
    EXPECT_EQ(other.failure.detail, "");
    EXPECT_EQ(other.failure.fingerprint, self.fingerprint);

    // A pin that is no fingerprint pins nothing, and never lets the chain decide instead.
    TestPki pki;
    auto trusting = Context(pki.caPem());
    const TestCertificate trusted = pki.Issue({"localhost"});
    const Outcome garbled = HandshakeInMemory(*trusting, trusted, "localhost", "AB:CD");
    EXPECT_EQ(garbled.failure.problem, TlsProblem::PinMismatch);
    EXPECT_EQ(garbled.failure.detail, "the pinned fingerprint is not 32 bytes of hex");
    EXPECT_EQ(garbled.failure.fingerprint, trusted.fingerprint);
}

TEST(OpenSslClientTest, FailsHandshakesWithOldBrokenAndVanishingServers) {
    TestPki pki;
    auto context = Context(pki.caPem());
    const TestCertificate certificate = pki.Issue({"localhost"});

    {
        TlsTestServer tls12(
            certificate, [](TlsTestConnection& connection) { connection.ReadToEnd(); },
            TlsTestServerOptions{true, TLS1_2_VERSION});
        Session session(*context, tls12.port(), "localhost");
        EXPECT_EQ(session.Handshake(), TlsState::Open);
        EXPECT_EQ(session.client->version(), "TLSv1.2");
    }
    // An old server answers with TLS 1.1; a newer one refuses with an alert.
    {
        TlsTestServer old(
            certificate, [](TlsTestConnection&) {}, TlsTestServerOptions{true, TLS1_1_VERSION});
        Session session(*context, old.port(), "localhost");
        EXPECT_EQ(session.Handshake(), TlsState::Failed);
        EXPECT_EQ(session.client->failure().problem, TlsProblem::Handshake);
        EXPECT_NE(session.client->failure().detail.find("protocol version"), std::string::npos)
            << session.client->failure().detail;
    }
    {
        MemoryServer refusing(certificate, TLS1_1_VERSION);
        auto client = context->CreateClient(TlsClientOptions{"localhost", ""});
        client->Start();
        Carry(*client, refusing);
        EXPECT_EQ(client->failure().problem, TlsProblem::Handshake);
        EXPECT_NE(client->failure().detail.find("protocol version"), std::string::npos)
            << client->failure().detail;
    }
    {
        TlsTestServer plain(
            certificate,
            [](TlsTestConnection& connection) {
                connection.Write("220 mail.example.test ESMTP ready\r\n");
            },
            TlsTestServerOptions{false});
        Session session(*context, plain.port(), "localhost");
        EXPECT_EQ(session.Handshake(), TlsState::Failed);
        EXPECT_EQ(session.client->failure().problem, TlsProblem::Handshake);
        EXPECT_EQ(session.client->failure().detail, "not a TLS server");
    }
    {
        // Closes after the first bytes of the ClientHello, and after half a record.
        TlsTestServer vanishing(
            certificate,
            [](TlsTestConnection& connection) {
                std::string start;
                connection.ReadExactly(5, start);
                connection.CloseRaw();
            },
            TlsTestServerOptions{false});
        Session session(*context, vanishing.port(), "localhost");
        EXPECT_EQ(session.Handshake(), TlsState::Failed);
        EXPECT_EQ(session.client->failure().problem, TlsProblem::Closed);
    }
    {
        TlsTestServer truncated(
            certificate,
            [](TlsTestConnection& connection) {
                std::string start;
                connection.ReadExactly(5, start);
                connection.WriteRaw(std::string("\x16\x03\x03\x00\x40", 5) + "only part of it");
            },
            TlsTestServerOptions{false});
        Session session(*context, truncated.port(), "localhost");
        EXPECT_EQ(session.Handshake(), TlsState::Failed);
        EXPECT_EQ(session.client->failure().problem, TlsProblem::Closed);
    }
    // The client refused the certificate: the server saw the handshake fail.
    TlsTestServer untrusted(TestPki::SelfSigned("localhost"), [](TlsTestConnection&) {
        ADD_FAILURE() << "handler called after a failed handshake";
    });
    {
        Session session(*context, untrusted.port(), "localhost");
        EXPECT_EQ(session.Handshake(), TlsState::Failed);
        EXPECT_EQ(session.client->failure().problem, TlsProblem::Untrusted);
    }
    for (int i = 0; i < 500 && untrusted.failedHandshakes() == 0; ++i) {
        usleep(10 * 1000);
    }
    EXPECT_EQ(untrusted.failedHandshakes(), 1u);
}

TEST(OpenSslClientTest, EndsTheStreamWithCloseNotifyEitherWay) {
    TestPki pki;
    auto context = Context(pki.caPem());
    const TestCertificate certificate = pki.Issue({"localhost"});

    // The client closes: the server sees close_notify after everything sent before it.
    std::promise<std::pair<std::string, bool>> heard;
    {
        TlsTestServer server(certificate, [&](TlsTestConnection& connection) {
            const std::string all = connection.ReadToEnd();
            heard.set_value({all, connection.sawCloseNotify()});
        });
        Session session(*context, server.port(), "localhost");
        ASSERT_EQ(session.Handshake(), TlsState::Open);
        session.Send("QUIT\r\n");
        session.Close();
        session.Send("after close\r\n");  // ignored
        // The server answers with its own close_notify (the handler returns, Close).
        EXPECT_TRUE(session.PumpUntil([&] { return session.client->state() == TlsState::Closed; }));
    }
    const auto [all, closeNotify] = heard.get_future().get();
    EXPECT_EQ(all, "QUIT\r\n");
    EXPECT_TRUE(closeNotify);

    // The server closes: what it sent before close_notify is still handed out.
    {
        TlsTestServer server(certificate, [&](TlsTestConnection& connection) {
            connection.Write("221 bye\r\n");
            connection.Close();
        });
        Session session(*context, server.port(), "localhost");
        ASSERT_EQ(session.Handshake(), TlsState::Open);
        EXPECT_TRUE(session.PumpUntil([&] { return session.client->state() == TlsState::Closed; }));
        EXPECT_EQ(session.received, "221 bye\r\n");
        EXPECT_FALSE(session.ended);   // close_notify came before the end of the stream
        session.Send("too late\r\n");  // ignored: only while Open
        EXPECT_EQ(session.client->state(), TlsState::Closed);
    }
    // The server's stream ends without close_notify: the end of the plaintext too.
    {
        TlsTestServer server(certificate, [&](TlsTestConnection& connection) {
            connection.Write("220 ready\r\n");
            connection.CloseRaw();
        });
        Session session(*context, server.port(), "localhost");
        ASSERT_EQ(session.Handshake(), TlsState::Open);
        EXPECT_TRUE(session.PumpUntil([&] { return session.client->state() == TlsState::Closed; }));
        EXPECT_EQ(session.received, "220 ready\r\n");
        EXPECT_TRUE(session.ended);
    }
}

TEST(OpenSslClientTest, UpgradesAPlainConnectionWhoseClientHelloFollowsTheCommand) {
    TestPki pki;
    auto context = Context(pki.caPem());
    std::promise<bool> upgraded;
    TlsTestServer server(
        pki.Issue({"localhost"}),
        [&](TlsTestConnection& connection) {
            connection.Write("220 ready\r\n");
            std::string line;
            if (!connection.ReadLine(line) || line != "STARTTLS\r\n") {
                ADD_FAILURE() << "expected STARTTLS, got " << line;
                return;
            }
            connection.Write("220 go ahead\r\n");
            upgraded.set_value(connection.StartTls());
            while (connection.ReadLine(line)) {
                connection.Write("250 " + line);
            }
        },
        TlsTestServerOptions{false});

    Session session(*context, server.port(), "localhost");
    EXPECT_EQ(session.ReadPlainLine(), "220 ready\r\n");
    // The server reads the command only: the ClientHello right behind it is the handshake's.
    session.StartWith("STARTTLS\r\n");
    EXPECT_EQ(session.ReadPlainLine(), "220 go ahead\r\n");
    EXPECT_TRUE(
        session.PumpUntil([&] { return session.client->state() != TlsState::Handshaking; }));
    ASSERT_EQ(session.client->state(), TlsState::Open) << session.client->failure().detail;
    EXPECT_TRUE(upgraded.get_future().get());
    session.Send("EHLO relay\r\n");
    std::string line;
    ASSERT_TRUE(session.ReadLine(line));
    EXPECT_EQ(line, "250 EHLO relay\r\n");
}

TEST(OpenSslClientTest, CarriesTheHandshakeAndDataCutAnywhere) {
    TestPki pki;
    auto context = Context(pki.caPem());
    MemoryServer server(pki.Issue({"localhost"}));
    auto client = context->CreateClient(TlsClientOptions{"localhost", ""});
    client->Start();
    client->Write("too early\r\n");  // ignored before Open, and so is Close
    client->Close();
    Carry(*client, server, {1});
    ASSERT_EQ(client->state(), TlsState::Open) << client->failure().detail;
    EXPECT_EQ(server.received, "");

    std::string sent;
    for (std::size_t i = 0; sent.size() < (1u << 20) + 12345; ++i) {
        sent += "line " + std::to_string(i) + " of the message\r\n";
    }
    server.Write(sent.substr(0, 100000));
    Carry(*client, server, {1});
    server.Write(sent.substr(100000));
    server.Close();
    Carry(*client, server, {1, 2, 3, 5, 7, 11, 13, 509, 1021, 4099, 16389, 17000});
    std::string received;
    client->TakeIncoming(received);
    EXPECT_EQ(received.size(), sent.size());
    EXPECT_TRUE(received == sent);
    EXPECT_EQ(client->state(), TlsState::Closed);
}

TEST(OpenSslClientTest, WritesLargePlaintextWhole) {
    TestPki pki;
    auto context = Context(pki.caPem());
    MemoryServer server(pki.Issue({"localhost"}));
    auto client = context->CreateClient(TlsClientOptions{"localhost", ""});
    client->Start();
    Carry(*client, server);
    ASSERT_EQ(client->state(), TlsState::Open);
    EXPECT_EQ(client->version(), "TLSv1.3");

    std::string sent(20u << 20, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<char>('a' + i % 23);
    }
    client->Write(sent);
    client->Close();
    Carry(*client, server);
    EXPECT_EQ(server.received.size(), sent.size());
    EXPECT_TRUE(server.received == sent);
    EXPECT_TRUE(server.sawCloseNotify);
}

TEST(OpenSslClientTest, ARecordThatFailsAfterTheHandshakeFailsTheClient) {
    TestPki pki;
    auto context = Context(pki.caPem());
    MemoryServer server(pki.Issue({"localhost"}));
    auto client = context->CreateClient(TlsClientOptions{"localhost", ""});
    client->Start();
    Carry(*client, server);
    ASSERT_EQ(client->state(), TlsState::Open);
    server.Write("250 ok\r\n");
    std::string record = server.TakeOutgoing();
    record[record.size() - 3] ^= 0x40;
    client->Feed(record);
    EXPECT_EQ(client->state(), TlsState::Failed);
    EXPECT_EQ(client->failure().detail, "TLS record failed: bad record mac");
    std::string plaintext;
    client->TakeIncoming(plaintext);
    EXPECT_TRUE(plaintext.empty()) << "nothing of a forged record is handed on";
}

}  // namespace
}  // namespace vantel
