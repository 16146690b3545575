// The Schannel client against the TLS test servers that scripts/wine-ctest.sh starts
// (tests/tls/tls-test-server.py); skipped without them, except what needs no server.
#include "platform/win32/SchannelClient.h"

#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/TlsClient.h"
#include "platform/win32/TlsTestServers.h"

namespace vantel {
namespace {

bool UnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

/// A TCP connection to a test server that carries the bytes between it and a TlsClient.
class Wire {
  public:
    explicit Wire(std::uint16_t port) {
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (socket_ == INVALID_SOCKET ||
            ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            return;
        }
        u_long nonBlocking = 1;
        ioctlsocket(socket_, FIONBIO, &nonBlocking);
        connected_ = true;
    }
    ~Wire() {
        if (socket_ != INVALID_SOCKET) {
            closesocket(socket_);
        }
    }
    Wire(const Wire&) = delete;
    Wire& operator=(const Wire&) = delete;

    bool connected() const { return connected_; }
    /// The server has ended its stream.
    bool ended() const { return ended_; }
    std::size_t unsent() const { return unsent_.size(); }
    /// Waits a moment before each read, so that a flight of records arrives in one piece.
    void ReadLate() { readDelayMs_ = 100; }
    /// Sends `bytes` before anything the client has still to send.
    void Send(const std::string& bytes) { unsent_ += bytes; }
    /// Feeds what arrives to the client `piece` bytes at a time.
    void FeedInPieces(std::size_t piece) { piece_ = piece; }

    /// Sends what the client has to send and feeds it what arrives until `done` (called
    /// between rounds) is true; false when 10 s pass first.
    bool Pump(TlsClient& client, const std::function<bool()>& done) {
        const ULONGLONG deadline = GetTickCount64() + 10000;
        char buffer[65536];
        for (;;) {
            client.TakeOutgoing(unsent_);
            if (done()) {
                return true;
            }
            client.TakeOutgoing(unsent_);
            if (GetTickCount64() > deadline || (ended_ && unsent_.empty())) {
                return false;
            }
            fd_set readable;
            fd_set writable;
            FD_ZERO(&readable);
            FD_ZERO(&writable);
            if (!ended_) {
                FD_SET(socket_, &readable);
            }
            if (!unsent_.empty()) {
                FD_SET(socket_, &writable);
            }
            timeval wait{0, 100000};
            if (::select(0, &readable, &writable, nullptr, &wait) <= 0) {
                continue;
            }
            if (FD_ISSET(socket_, &writable)) {
                const int sent =
                    ::send(socket_, unsent_.data(),
                           static_cast<int>(std::min<std::size_t>(unsent_.size(), 1 << 16)), 0);
                if (sent > 0) {
                    unsent_.erase(0, static_cast<std::size_t>(sent));
                } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
                    unsent_.clear();
                }
            }
            if (FD_ISSET(socket_, &readable)) {
                Sleep(readDelayMs_);
                const int got = ::recv(socket_, buffer, sizeof(buffer), 0);
                if (got > 0) {
                    for (int at = 0; at < got; at += static_cast<int>(piece_)) {
                        client.Feed(std::string_view(
                            buffer + at,
                            std::min<std::size_t>(piece_, static_cast<std::size_t>(got - at))));
                    }
                } else if (got == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
                    ended_ = true;
                    client.EndOfInput();
                }
            }
        }
    }

  private:
    SOCKET socket_ = INVALID_SOCKET;
    bool connected_ = false;
    bool ended_ = false;
    std::size_t piece_ = 1 << 16;
    DWORD readDelayMs_ = 0;
    std::string unsent_;
};

class SchannelClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!servers_.Load(why)) {
            GTEST_SKIP() << why;
        }
        caPem_ = servers_.caPem();
    }

    std::uint16_t Port(const std::string& name) const { return servers_.Port(name); }

    /// A context trusting the test CA alone, or (`testRoots` false) the system's roots.
    std::unique_ptr<TlsContext> Context(bool testRoots = true) {
        std::string error;
        TlsContextOptions options;
        if (testRoots) {
            options.exclusiveRootsPem = caPem_;
        }
        std::unique_ptr<TlsContext> context = CreateTlsContext(options, error);
        EXPECT_TRUE(context) << error;
        return context;
    }

    /// Runs the handshake with one server; the client ends Open, Failed or Closed.
    static std::unique_ptr<TlsClient> Connect(TlsContext& context, Wire& wire,
                                              const std::string& host,
                                              const std::string& pin = "") {
        std::unique_ptr<TlsClient> client = context.CreateClient({host, pin});
        EXPECT_TRUE(wire.connected());
        client->Start();
        EXPECT_TRUE(wire.Pump(*client, [&] { return client->state() != TlsState::Handshaking; }))
            << "the handshake with " << host << " did not end";
        return client;
    }

    /// Why the handshake with the server `name` failed, expecting that it did.
    TlsFailure Refusal(TlsContext& context, const std::string& name, const std::string& host,
                       const std::string& pin = "") {
        Wire wire(Port(name));
        const std::unique_ptr<TlsClient> client = Connect(context, wire, host, pin);
        EXPECT_EQ(client->state(), TlsState::Failed) << name << " as " << host;
        EXPECT_EQ(client->failure().fingerprint, client->fingerprint());
        return client->failure();
    }

    test::TlsTestServers servers_;
    std::string caPem_;
};

std::string Pattern(std::size_t size) {
    std::mt19937 random(7);
    std::string data(size, '\0');
    for (char& c : data) {
        c = static_cast<char>(random());
    }
    return data;
}

TEST_F(SchannelClientTest, TrustedServerEchoesMegabytesAndBothSidesCloseNotify) {
    const std::unique_ptr<TlsContext> context = Context();
    Wire wire(Port("trusted"));
    const std::unique_ptr<TlsClient> client = Connect(*context, wire, "localhost");
    ASSERT_EQ(client->state(), TlsState::Open)
        << DescribeTlsFailure(client->failure(), "localhost");
    if (UnderWine()) {
        EXPECT_EQ(client->version(), "TLSv1.2");  // all that Wine 8 offers
    } else {
        EXPECT_TRUE(client->version() == "TLSv1.2" || client->version() == "TLSv1.3")
            << client->version();
    }
    EXPECT_EQ(client->fingerprint().size(), 32u * 3 - 1);

    // More than the server's socket buffers hold, in writes of every size.
    const std::string sent = Pattern(20 << 20);
    std::string echoed;
    std::size_t written = 0;
    std::size_t piece = 1;
    ASSERT_TRUE(wire.Pump(*client,
                          [&] {
                              if (written < sent.size() && wire.unsent() < (1 << 18)) {
                                  const std::size_t n = std::min(piece, sent.size() - written);
                                  client->Write(std::string_view(sent).substr(written, n));
                                  written += n;
                                  piece = std::min<std::size_t>(piece * 4, 300000);
                              }
                              client->TakeIncoming(echoed);
                              return echoed.size() >= sent.size() ||
                                     client->state() != TlsState::Open;
                          }))
        << echoed.size() << " of " << sent.size() << " bytes came back";
    EXPECT_TRUE(echoed == sent) << "the echo differs from what was sent";

    // The server answers the client's close_notify with its own.
    client->Close();
    std::string closing;
    client->TakeOutgoing(closing);
    ASSERT_GE(closing.size(), 5u);
    EXPECT_EQ(closing[0], '\x15') << "not an alert record";
    wire.Send(closing);
    client->Write("after the close");
    closing.clear();
    client->TakeOutgoing(closing);
    EXPECT_TRUE(closing.empty()) << "written after close_notify";
    EXPECT_TRUE(wire.Pump(*client, [&] { return client->state() != TlsState::Open; }));
    EXPECT_EQ(client->state(), TlsState::Closed)
        << DescribeTlsFailure(client->failure(), "localhost");
}

TEST_F(SchannelClientTest, ServerCloseNotifyEndsTheStream) {
    const std::unique_ptr<TlsContext> context = Context();
    Wire wire(Port("bye"));
    // The server's last handshake records, its greeting and its close_notify come in one
    // read: what follows the handshake in it is application data.
    wire.ReadLate();
    const std::unique_ptr<TlsClient> client = Connect(*context, wire, "localhost");
    std::string said;
    EXPECT_TRUE(wire.Pump(*client, [&] {
        client->TakeIncoming(said);
        return client->state() != TlsState::Open;
    }));
    EXPECT_EQ(client->state(), TlsState::Closed);
    EXPECT_EQ(said, "bye\r\n");
    // The server waits for the answer before it hangs up.
    client->Close();
    EXPECT_TRUE(wire.Pump(*client, [&] { return wire.ended(); })) << "the server did not hang up";
}

TEST_F(SchannelClientTest, ServerBytesOneAtATimeAndAnAddressForName) {
    const std::unique_ptr<TlsContext> context = Context();
    Wire wire(Port("trusted"));
    wire.FeedInPieces(1);
    // The certificate's IP address entry covers 127.0.0.1; no server name is sent for it.
    const std::unique_ptr<TlsClient> client = Connect(*context, wire, "127.0.0.1");
    ASSERT_EQ(client->state(), TlsState::Open)
        << DescribeTlsFailure(client->failure(), "127.0.0.1");
    client->Write("ping\r\n");
    std::string echoed;
    EXPECT_TRUE(wire.Pump(*client, [&] {
        client->TakeIncoming(echoed);
        return echoed.size() >= 6;
    }));
    EXPECT_EQ(echoed, "ping\r\n");
}

TEST_F(SchannelClientTest, RefusesCertificatesItCannotTrustOrOutOfDate) {
    const std::unique_ptr<TlsContext> testRoots = Context();
    const std::unique_ptr<TlsContext> systemRoots = Context(false);
    struct Case {
        TlsContext& context;
        const char* server;
        TlsProblem problem;
        const char* detail;
    } cases[] = {
        {*testRoots, "selfsigned", TlsProblem::Untrusted, "self-signed"},
        {*systemRoots, "trusted", TlsProblem::Untrusted, "issuer unknown"},
        {*testRoots, "expired", TlsProblem::Expired, "2021-01-02"},
        {*testRoots, "notyet", TlsProblem::NotYetValid, "2099-01-01"},
    };
    for (const Case& c : cases) {
        const TlsFailure failure = Refusal(c.context, c.server, "localhost");
        EXPECT_EQ(failure.problem, c.problem) << c.server;
        EXPECT_EQ(failure.detail, c.detail) << c.server;
        EXPECT_EQ(failure.fingerprint.size(), 32u * 3 - 1) << c.server;
    }
}

TEST_F(SchannelClientTest, AnIssuerOutOfItsDatesMakesTheChainUntrustedWhateverTheName) {
    const std::unique_ptr<TlsContext> context = Context();
    for (const char* host : {"localhost", "elsewhere.example"}) {
        const TlsFailure failure = Refusal(*context, "oldissuer", host);
        EXPECT_EQ(failure.problem, TlsProblem::Untrusted) << host;
        EXPECT_EQ(failure.detail, "an issuer's certificate expired on 2021-01-02") << host;
    }
}

TEST_F(SchannelClientTest, NameMustBeOneTheCertificateIsFor) {
    const std::unique_ptr<TlsContext> context = Context();
    {
        Wire wire(Port("wrongname"));
        const std::unique_ptr<TlsClient> client = Connect(*context, wire, "SMTP.example.net");
        EXPECT_EQ(client->state(), TlsState::Open) << "*.example.net covers it";
    }
    const struct {
        const char* server;
        const char* host;
        const char* names;
    } cases[] = {
        {"wrongname", "localhost", "mail.example.net, *.example.net"},
        {"wrongname", "a.b.example.net", "mail.example.net, *.example.net"},
        {"trusted", "127.0.0.2", "localhost, 127.0.0.1"},
        {"trusted", "localhost.example.net", "localhost, 127.0.0.1"},
        {"commonname", "localhost", "192.0.2.1"},
    };
    for (const auto& c : cases) {
        const TlsFailure failure = Refusal(*context, c.server, c.host);
        EXPECT_EQ(failure.problem, TlsProblem::NameMismatch) << c.host;
        EXPECT_EQ(failure.detail, c.names) << c.host;
    }
}

TEST_F(SchannelClientTest, PinnedFingerprintReplacesChainAndName) {
    const std::unique_ptr<TlsContext> context = Context();
    const std::string print = Refusal(*context, "selfsigned", "localhost").fingerprint;
    ASSERT_FALSE(print.empty());

    // As a user might paste it: lower case, no colons; and the name no longer matters.
    std::string pasted = print;
    pasted.erase(std::remove(pasted.begin(), pasted.end(), ':'), pasted.end());
    std::transform(pasted.begin(), pasted.end(), pasted.begin(),
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    Wire wire(Port("selfsigned"));
    const std::unique_ptr<TlsClient> client = Connect(*context, wire, "other.example", pasted);
    ASSERT_EQ(client->state(), TlsState::Open);
    client->Write("x");
    std::string echoed;
    EXPECT_TRUE(wire.Pump(*client, [&] {
        client->TakeIncoming(echoed);
        return !echoed.empty();
    }));

    for (const std::string& pin : {std::string(64, '0'), std::string("not a fingerprint")}) {
        const TlsFailure failure = Refusal(*context, "selfsigned", "localhost", pin);
        EXPECT_EQ(failure.problem, TlsProblem::PinMismatch) << pin;
        EXPECT_EQ(failure.fingerprint, print);
    }
    // A pin replaces the check of a trusted server too.
    EXPECT_EQ(Refusal(*context, "trusted", "localhost", std::string(64, 'a')).problem,
              TlsProblem::PinMismatch);
}

TEST_F(SchannelClientTest, BrokenServersFailInWords) {
    const std::unique_ptr<TlsContext> context = Context();
    const struct {
        const char* server;
        TlsProblem problem;
        const char* detail;
    } cases[] = {
        {"tls11", TlsProblem::Handshake, "protocol version"},
        {"garbage", TlsProblem::Handshake, "not a TLS server"},
        {"midclose", TlsProblem::Closed, ""},
    };
    for (const auto& c : cases) {
        const TlsFailure failure = Refusal(*context, c.server, "localhost");
        EXPECT_EQ(failure.problem, c.problem) << c.server;
        EXPECT_EQ(failure.detail, c.detail) << c.server;
    }
}

TEST_F(SchannelClientTest, CertificateIsReadableTrustedOrNotAndTheCipherOnceOpen) {
    const std::unique_ptr<TlsContext> context = Context();
    {
        Wire wire(Port("trusted"));
        const std::unique_ptr<TlsClient> client = Connect(*context, wire, "localhost");
        ASSERT_EQ(client->state(), TlsState::Open);
        if (UnderWine()) {
            // Wine names no whole suite, only its algorithms.
            EXPECT_EQ(client->cipher(), "ECDHE, AES-256, SHA-384");
        } else {
            EXPECT_EQ(client->cipher().rfind("TLS_", 0), 0u) << client->cipher();
        }
        const CertificateInfo certificate = client->certificate();
        EXPECT_EQ(certificate.subject, "CN=localhost");
        EXPECT_EQ(certificate.names, (std::vector<std::string>{"localhost", "127.0.0.1"}));
        EXPECT_EQ(certificate.issuer, "CN=Vantel Test CA");
        EXPECT_EQ(certificate.fingerprint, client->fingerprint());
    }
    // Refused certificates are the ones a user most needs to see; their dates come as issued.
    const struct {
        const char* server;
        const char* issuer;
        const char* notBefore;
        const char* notAfter;
    } cases[] = {
        {"selfsigned", "CN=localhost", nullptr, nullptr},
        {"expired", "CN=Vantel Test CA", "2020-01-01 00:00:00 UTC", "2021-01-02 00:00:00 UTC"},
        {"wrongname", "CN=Vantel Test CA", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        Wire wire(Port(c.server));
        const std::unique_ptr<TlsClient> client = Connect(*context, wire, "localhost");
        ASSERT_EQ(client->state(), TlsState::Failed) << c.server;
        EXPECT_EQ(client->cipher(), "") << c.server;
        const CertificateInfo certificate = client->certificate();
        EXPECT_EQ(certificate.issuer, c.issuer) << c.server;
        EXPECT_EQ(certificate.fingerprint, client->failure().fingerprint) << c.server;
        EXPECT_FALSE(certificate.fingerprint.empty()) << c.server;
        if (c.notBefore != nullptr) {
            EXPECT_EQ(certificate.notBefore, c.notBefore);
            EXPECT_EQ(certificate.notAfter, c.notAfter);
        }
    }
    Wire wire(Port("wrongname"));
    const std::unique_ptr<TlsClient> elsewhere = Connect(*context, wire, "localhost");
    EXPECT_EQ(elsewhere->certificate().subject, "CN=mail.example.net");
    EXPECT_EQ(elsewhere->certificate().names,
              (std::vector<std::string>{"mail.example.net", "*.example.net"}));
}

/// A TLS 1.2 record of `type` around `body`.
std::string Record(char type, const std::string& body) {
    return std::string{type, '\x03', '\x03', static_cast<char>(body.size() >> 8),
                       static_cast<char>(body.size() & 0xff)} +
           body;
}

// No server needed: what a hostile peer sends is fed directly, one byte at a time.
TEST(SchannelClientInputTest, HostileBytesFailTheHandshakeCleanly) {
    std::string error;
    const std::unique_ptr<TlsContext> context = CreateTlsContext({}, error);
    ASSERT_TRUE(context) << error;

    // A ServerHello (type 2, its length, version 3.3) of random content, and one that claims
    // 16 MB and is followed by records without end.
    std::string hello = std::string("\x02\x00\x01\x24\x03\x03", 6) + Pattern(290);
    std::string endless = Record('\x16', std::string("\x02\xff\xff\xff", 4) + Pattern(16000));
    while (endless.size() < 300000) {
        endless += Record('\x16', Pattern(16000));
    }
    const struct {
        std::string bytes;
        bool end;
        TlsProblem problem;
        const char* detail;
    } cases[] = {
        {Record('\x16', "\x0b" + Pattern(100)), false, TlsProblem::Handshake, "not a TLS server"},
        {"\x16\x03\x03\xff\xff", false, TlsProblem::Handshake, "not a TLS server"},
        {std::string("\x16\x03\x03\x00", 4), true, TlsProblem::Closed, ""},
        {"", true, TlsProblem::Closed, ""},
        {Record('\x16', hello), false, TlsProblem::Handshake, nullptr},
        {endless, false, TlsProblem::Handshake, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes.substr(0, 16)));
        const std::unique_ptr<TlsClient> client = context->CreateClient({"mail.example.net", ""});
        client->Start();
        std::string clientHello;
        client->TakeOutgoing(clientHello);
        ASSERT_GE(clientHello.size(), 5u);
        EXPECT_EQ(clientHello.substr(0, 2), "\x16\x03") << "no ClientHello";
        for (std::size_t i = 0; i < c.bytes.size() && client->state() == TlsState::Handshaking;
             ++i) {
            client->Feed(std::string_view(c.bytes).substr(i, 1));
        }
        if (c.end) {
            client->EndOfInput();
        }
        EXPECT_EQ(client->state(), TlsState::Failed);
        EXPECT_EQ(client->failure().problem, c.problem);
        if (c.detail != nullptr) {
            EXPECT_EQ(client->failure().detail, c.detail);
        }
        // A failed client takes nothing more and gives nothing.
        client->Write("data");
        client->Feed(clientHello);
        std::string after;
        client->TakeIncoming(after);
        EXPECT_TRUE(after.empty());
    }
}

}  // namespace
}  // namespace vantel
