// The Linux TlsContext: one OpenSSL SSL_CTX that every OpenSslClient of the program shares.
// Included only by the POSIX sources.
//
// The context allows TLS 1.2 and 1.3 only, refuses renegotiation, and trusts either OpenSSL's
// default paths (which honour SSL_CERT_FILE and SSL_CERT_DIR, read when the first client is
// made: parsing the system's roots takes longer than the rest of the start, and a relay without
// encrypted entries never needs them) or, for tests, only the roots given in
// TlsContextOptions::exclusiveRootsPem. It checks the
// server's certificate itself, inside the handshake, through OpenSslClient (see there for what
// is checked and which failure wins).
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>

#include "platform/TlsClient.h"

namespace vantel {

class OpenSslContext : public TlsContext {
  public:
    /// nullptr with `error` set when OpenSSL cannot make the context or the roots are unusable.
    static std::unique_ptr<OpenSslContext> Create(const TlsContextOptions& options,
                                                  std::string& error);
    ~OpenSslContext() override;
    OpenSslContext(const OpenSslContext&) = delete;
    OpenSslContext& operator=(const OpenSslContext&) = delete;

    std::unique_ptr<TlsClient> CreateClient(const TlsClientOptions& options) override;

  private:
    explicit OpenSslContext(SSL_CTX* context) : context_(context) {}

    SSL_CTX* context_;
    bool rootsLoaded_ = false;
    std::string rootsProblem_;  ///< why the default roots could not be loaded
};

}  // namespace vantel
