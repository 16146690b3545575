// TLS to a server without any I/O of its own: the owner carries the bytes between it and the
// socket, so one relay routine serves every platform's TLS library.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/CertificateInfo.h"
#include "platform/TlsFailure.h"

namespace vantel {

struct TlsClientOptions {
    /// The server's host name or address literal as the entry holds it: the certificate must
    /// be for it, and a name (not an address) is sent as the server name (SNI).
    std::string host;
    /// The SHA-256 fingerprint the server's certificate must have, in any form
    /// NormalizeFingerprint reads; empty: the chain and the name are checked instead.
    std::string pinnedSha256;
};

enum class TlsState {
    Handshaking,  ///< Start was called; the handshake is under way
    Open,         ///< the server is verified: plaintext flows
    Closed,       ///< the server sent its close_notify: nothing more comes from it
    Failed,       ///< the handshake or the check failed; failure() says why
};

/// One connection's TLS client. TLS 1.2 and 1.3 only. Every call may leave bytes to send in
/// TakeOutgoing; the owner sends them after each call.
class TlsClient {
  public:
    virtual ~TlsClient() = default;

    /// Begins the handshake.
    virtual void Start() = 0;
    /// Bytes received from the server, cut anywhere.
    virtual void Feed(std::string_view ciphertext) = 0;
    /// The server's stream ended. Before the handshake is done that is a failure
    /// (TlsProblem::Closed); after it, the end of the plaintext stream too.
    virtual void EndOfInput() = 0;
    /// Appends what is to go to the server and forgets it here.
    virtual void TakeOutgoing(std::string& ciphertext) = 0;
    /// Encrypts `plaintext` for the server; only while Open.
    virtual void Write(std::string_view plaintext) = 0;
    /// Appends what the server sent, decrypted, and forgets it here.
    virtual void TakeIncoming(std::string& plaintext) = 0;
    /// Sends close_notify; nothing is written after it.
    virtual void Close() = 0;

    virtual TlsState state() const = 0;
    /// Why it failed, once Failed.
    virtual const TlsFailure& failure() const = 0;
    /// The server certificate's SHA-256 fingerprint ("AB:CD:…") once it has been received.
    virtual std::string fingerprint() const = 0;
    /// The protocol agreed on ("TLSv1.3"), once Open.
    virtual std::string version() const = 0;
    /// The cipher suite agreed on, once Open: its standard (IANA) name on every platform
    /// ("TLS_AES_256_GCM_SHA384", "TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256"), or where the
    /// system names no suite (Schannel under Wine) its algorithms ("ECDHE, AES-256, SHA-384").
    virtual std::string cipher() const = 0;
    /// The server's certificate as soon as it has been received, also when it was refused
    /// (that is when a user most needs to see it); every field empty before.
    virtual CertificateInfo certificate() const = 0;
};

struct TlsContextOptions {
    /// Tests only: PEM certificates that are then the only trusted roots. Empty: the system's
    /// trust store (the certificate store on Windows; OpenSSL's default paths, which honour
    /// SSL_CERT_FILE, on Linux).
    std::string exclusiveRootsPem;
};

/// What the clients of one program share (the trust store, loaded once).
class TlsContext {
  public:
    virtual ~TlsContext() = default;
    virtual std::unique_ptr<TlsClient> CreateClient(const TlsClientOptions& options) = 0;
};

/// This platform's TLS: OpenSSL on Linux, Schannel on Windows. nullptr with `error` set when
/// the system cannot provide it.
std::unique_ptr<TlsContext> CreateTlsContext(const TlsContextOptions& options, std::string& error);

}  // namespace vantel
