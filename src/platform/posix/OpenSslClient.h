// The Linux TlsClient: OpenSSL 3 on two memory BIOs, so the owner carries every byte.
// Included only by the POSIX sources.
//
// What it checks, inside the handshake (a refusal ends the handshake with an alert to the
// server, which TakeOutgoing then holds, and the state Failed): DecideCertificate, on the
// facts read from the server's certificate and from X509_verify_cert's verdict on its chain
// (which is not built at all for a pinned entry). A pin that is not 32 bytes of hex is
// PinMismatch with detail "the pinned fingerprint is not 32 bytes of hex". Without a pin, a
// host that no certificate can be for (empty, or with a colon yet no IPv6 literal) fails in
// Start, before a byte is sent. failure().fingerprint (and fingerprint(), certificate()) is
// set whenever the server sent a certificate.
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

#include "platform/CertificateDecision.h"
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
        std::int64_t time;  ///< the date that failed, for expired and not-yet-valid certificates
    };

    static int CollectError(int ok, X509_STORE_CTX* store);
    bool Verify(X509_STORE_CTX* store);
    /// Builds and checks the chain into facts.chain; the X509 error that makes it untrusted,
    /// X509_V_OK for none.
    int CheckChain(X509_STORE_CTX* store, CertificateFacts& facts);
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
    BIO* in_ = nullptr;      // from the server; SSL_free frees both
    BIO* out_ = nullptr;     // to the server
    std::string entryHost_;  // as the entry holds it
    std::string host_;       // without brackets, a zone or a final dot
    bool address_ = false;
    std::string uncheckable_;  // why no certificate can be for host_; empty: one can
    std::string pin_;          // as the user gave it; empty: none
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
