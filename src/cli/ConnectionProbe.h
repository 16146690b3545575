// One connection to a server entry's server, made the way the relay makes it (name lookup,
// connect, STARTTLS or TLS from the first byte, the same certificate checks), to show the user
// what the server says and what its certificate is. It sends no login.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/ServerEntry.h"
#include "core/relay/ServerConnector.h"
#include "platform/AsyncSocket.h"
#include "platform/CertificateInfo.h"
#include "platform/EventLoop.h"
#include "platform/TlsClient.h"

namespace vantel {

/// What a probe found. Text from the server (greeting, certificate fields) is kept as received
/// and may hold any bytes: PrintableText (ProbeReportText.h) makes it fit to show.
struct ProbeReport {
    std::string host;  ///< the entry's server name, as the entry holds it
    int port = 0;      ///< the entry's remote port
    bool connected = false;
    /// The address connected to, "127.0.0.1:9465", "[::1]:993"; when none could be, the last
    /// one tried (empty if the name was not found).
    std::string address;
    /// The server's greeting, line ends as received: an SMTP (or news) reply with all its
    /// lines, the first line of POP3 and IMAP. For STARTTLS, the plain-text one.
    std::string greeting;
    /// The server said more than ConnectionProbe::kMaxGreeting bytes before its greeting
    /// ended: `greeting` holds the first of them.
    bool greetingCut = false;
    bool encrypted = false;  ///< TLS stands (and the certificate passed)
    std::string tlsVersion;  ///< "TLSv1.3", once encrypted
    std::string cipher;      ///< "TLS_AES_256_GCM_SHA384", once encrypted
    /// The server sent its certificate: `certificate` holds it, trusted or not.
    bool certificateSeen = false;
    CertificateInfo certificate;
    bool verified = false;
    /// The certificate check in words: "verified: ..." or why it failed, in the words of the
    /// relay's notices; empty when there was no check (no TLS, or it failed before one).
    std::string verification;
    /// Why the relay could not use the server as the entry says (lookup, connection, timeout,
    /// STARTTLS refused, the TLS handshake or certificate); empty when it could. A refused
    /// certificate gives the same words as `verification`.
    std::string error;
};

/// Runs on the program's event loop, one probe at a time; not from inside the loop, as Run
/// drives it itself. The server is reached as the relay reaches it (ServerConnector); the
/// probe adds the greeting and the report.
class ConnectionProbe : private SocketEvents, private ServerConnector::Events {
  public:
    /// Greeting bytes kept; a server that says more is cut off there.
    static constexpr std::size_t kMaxGreeting = 4096;
    /// How long the server may take to answer the goodbye before it is left.
    static constexpr std::uint32_t kGoodbyeMs = 500;

    /// `tls` null: the system has no TLS, `tlsProblem` says why (entries that need it fail
    /// with "TLS is not available: ...", as in the relay). `tls` must outlive the probe.
    ConnectionProbe(EventLoop& loop, TlsContext* tls, std::string tlsProblem = "");
    ~ConnectionProbe() override;
    ConnectionProbe(const ConnectionProbe&) = delete;
    ConnectionProbe& operator=(const ConnectionProbe&) = delete;

    /// Connects to `entry`'s server, reads its greeting (and secures the connection as the
    /// entry says), says goodbye and hangs up. Returns after at most `timeoutMs` (plus the
    /// goodbye), with what it found; running out of time is an error in the report.
    ProbeReport Run(const ServerEntry& entry, std::uint32_t timeoutMs);

  private:
    enum class Phase {
        Reaching,  ///< the connector is at work: lookup, connect, STARTTLS dialogue, handshake
        Greeting,  ///< the connection stands; the greeting comes (over TLS, if any)
        Goodbye,   ///< QUIT or LOGOUT sent; waiting for the server to hang up
        Done,
    };

    // From the connector.
    void OnServerReached() override;
    void OnPlainText(std::string_view bytes) override;
    void OnServerConnected(std::unique_ptr<AsyncSocket> socket, const TlsClient* tls) override;
    void OnServerFailed(const ServerFailure& failure) override;

    // Events of the connection to the server.
    void OnReceive() override;
    void OnClose(int error) override;

    /// TLS stands and the server is verified.
    void Secured();
    void NoteCertificate(CertificateInfo certificate);
    /// Adds greeting bytes to the report; true once the greeting is complete (or cut).
    bool CollectGreeting(std::string_view bytes);
    /// Why the server's stream ended before the probe was done (`error` nonzero: the
    /// connection failed).
    std::string EndedText(int error) const;
    /// Why the greeting did not come in time.
    std::string GreetingTimeoutText(const std::string& after) const;
    /// The server's stream ended (`error` nonzero: the connection failed).
    void Ended(int error);
    void TimedOut();
    void Goodbye();
    /// Ends the probe; `error`, when not empty, goes to the report unless it has one already.
    void Finish(const std::string& error = "");

    EventLoop& loop_;
    TlsContext* tls_;
    const std::string tlsProblem_;

    // One run.
    ServerEntry entry_;
    ProbeReport report_;
    std::uint32_t timeoutMs_ = 0;
    Phase phase_ = Phase::Done;
    std::unique_ptr<ServerConnector> connector_;
    std::unique_ptr<AsyncSocket> socket_;   ///< the connection, once it stands
    const TlsClient* tlsClient_ = nullptr;  ///< under socket_, for an encrypted entry
    bool greetingDone_ = false;
    std::size_t lineStart_ = 0;  ///< where the greeting's last, unfinished line starts
    TimerId deadline_ = 0;
    TimerId goodbyeTimer_ = 0;
};

}  // namespace vantel
