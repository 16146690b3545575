// The Linux TlsClient: OpenSSL 3 on two memory BIOs, so the owner carries every byte.
// Included only by the POSIX sources.
//
// What it checks, inside the handshake (a refusal ends the handshake with an alert to the
// server, which TakeOutgoing then holds, and the state Failed):
//  - With a pinned fingerprint, only that the server certificate's SHA-256 is the pinned one:
//    the chain, the name and the dates are not checked, since a pin is the user's trust in that
//    very certificate. A mismatch is PinMismatch. A pin that is not 32 bytes of hex matches no
//    certificate: PinMismatch too, with detail "the pinned fingerprint is not 32 bytes of hex"
//    (and the server's fingerprint, which is what the user needs to pin). It never falls back
//    to checking the chain.
//  - Without a pin: the chain against the context's roots, the validity dates, and the name:
//    a host name against the certificate's DNS names (a wildcard stands for one whole label),
//    an IPv4 or IPv6 literal (brackets allowed) against its IP addresses.
// When several checks fail, the one reported is, in order:
//  1. Untrusted: the chain ends at no trusted root ("self-signed", "issuer unknown", an
//     issuer's dates, or OpenSSL's words for anything else). A certificate nobody vouches for
//     says nothing true about its name or dates, and pinning it (the user's remedy) skips
//     those checks anyway.
//  2. NameMismatch: detail is what the certificate is for: its DNS and IP subjectAltNames
//     joined by ", " (the first ten, then "and N more"), else its common name. A certificate
//     for another server is the wrong one whatever its dates.
//  3. Expired (the day of notAfter, "2026-01-02") and NotYetValid (the day of notBefore).
// failure().fingerprint (and fingerprint(), certificate()) is set whenever the server sent a
// certificate.
//
// Other failures:
//  - A failed handshake is Handshake with the reason in words: "protocol version (...)" for a
//    server with no TLS 1.2 or 1.3, "not a TLS server" when what comes back is no TLS record,
//    the alert's name when the server sends one ("handshake failure"), else OpenSSL's reason.
//  - EndOfInput before the handshake is done: Closed.
//  - An error after the handshake (a record that fails to decrypt, garbage, a fatal alert):
//    Failed, problem Handshake, detail "TLS record failed: <words>" (there is no TlsProblem of
//    its own for it). Plaintext decrypted before it stays for TakeIncoming.
//
// The stream: the server's close_notify makes the state Closed; plaintext that came before it
// is still handed out by TakeIncoming. EndOfInput after the handshake also makes it Closed
// (the end of the plaintext stream; the protocols carried mark their own ends, so a missing
// close_notify is not treated as an error). Close() queues close_notify once; the state stays
// Open until the server's own close_notify arrives, and what the server still sends is read.
// Write() while not Open, or after Close(), is ignored; so is Close() before the handshake is
// done (the owner then just drops the connection). Feed() after Failed or Closed is ignored.
#pragma once

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "platform/TlsClient.h"

namespace vantel {

class OpenSslClient : public TlsClient {
  public:
    /// `context` is the program's (OpenSslContext's), which must outlive this client.
    /// `unusable`, when not empty, is why the context cannot verify anything: the client is
    /// Failed from the start, with that as the reason.
    OpenSslClient(SSL_CTX* context, const TlsClientOptions& options,
                  const std::string& unusable = "");
    ~OpenSslClient() override;
    OpenSslClient(const OpenSslClient&) = delete;
    OpenSslClient& operator=(const OpenSslClient&) = delete;

    void Start() override;
    void Feed(std::string_view ciphertext) override;
    void EndOfInput() override;
    void TakeOutgoing(std::string& ciphertext) override;
    void Write(std::string_view plaintext) override;
    void TakeIncoming(std::string& plaintext) override;
    void Close() override;

    TlsState state() const override { return state_; }
    const TlsFailure& failure() const override { return failure_; }
    std::string fingerprint() const override { return fingerprint_; }
    std::string version() const override;
    std::string cipher() const override;
    CertificateInfo certificate() const override;

    /// The context's certificate check (SSL_CTX_set_cert_verify_callback): runs the checks
    /// above for the client the handshake belongs to; 0 refuses the server.
    static int VerifyServer(X509_STORE_CTX* store, void* unused);

  private:
    /// One problem X509_verify_cert found, with what a notice needs of it.
    struct CertificateError {
        int code;
        int depth;
        std::string day;  ///< the date that failed, for expired and not-yet-valid certificates
    };

    static int CollectError(int ok, X509_STORE_CTX* store);
    bool Verify(X509_STORE_CTX* store);
    /// Sets failure_ from the collected errors; the X509 error chosen, X509_V_OK for none.
    int ChooseFailure(X509* leaf);
    /// Runs the handshake and reads records as far as the input allows.
    void Pump();
    void ReadRecords();
    /// Moves what OpenSSL wrote into outgoing_.
    void Drain();
    /// Holds on to the server's certificate for certificate(); the first one given stays.
    void KeepPeer(X509* certificate);
    void Fail(TlsProblem problem, std::string detail);
    /// Fails from OpenSSL's error queue after a call returned `result`.
    void FailFromOpenSsl(int result, bool handshake);

    SSL* ssl_ = nullptr;
    BIO* in_ = nullptr;   // from the server; SSL_free frees both
    BIO* out_ = nullptr;  // to the server
    std::string host_;    // without brackets or a final dot
    bool address_ = false;
    bool pinned_ = false;
    std::string pin_;  // normalized; empty when the pin given is not a fingerprint
    TlsState state_ = TlsState::Handshaking;
    TlsFailure failure_;
    std::string fingerprint_;
    X509* peer_ = nullptr;  // the server's certificate, once received; owned
    std::vector<CertificateError> errors_;
    bool started_ = false;
    bool refused_ = false;  // VerifyServer refused the certificate: failure_ says why
    bool closeSent_ = false;
    std::string outgoing_;
    std::string incoming_;
};

/// The reason of the first error in OpenSSL's queue, in lower case, and empties the queue.
std::string TakeOpenSslErrors();

}  // namespace vantel
