// What the Schannel clients of one program share: the credentials handle and, for tests, the
// only roots they trust. Held by the context and each of its clients, so neither has to
// outlive the other. Included only by the Windows sources.
#pragma once

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <windows.h>

#include <security.h>
#include <wincrypt.h>

#include <memory>
#include <string>

#include "platform/CertificateDecision.h"

namespace vantel {

class SchannelCredentials {
  public:
    /// Client credentials for TLS 1.2 and 1.3 with the certificate left to Check; nullptr
    /// with `error` set when Schannel refuses or `exclusiveRootsPem` holds no certificate.
    static std::shared_ptr<SchannelCredentials> Create(const std::string& exclusiveRootsPem,
                                                       std::string& error);
    ~SchannelCredentials();
    SchannelCredentials(const SchannelCredentials&) = delete;
    SchannelCredentials& operator=(const SchannelCredentials&) = delete;

    /// For InitializeSecurityContext, which takes it non-const.
    CredHandle* handle() const { return &handle_; }

    /// Whether `leaf` (with the intermediates the server sent in its store) chains to a
    /// trusted root through issuers in their dates: facts.chain and what goes with it.
    void CheckChain(PCCERT_CONTEXT leaf, CertificateFacts& facts) const;

    /// "AB:CD:…", the SHA-256 of the certificate's DER encoding.
    static std::string Fingerprint(PCCERT_CONTEXT certificate);

  private:
    SchannelCredentials() = default;
    bool Acquire(std::string& error);
    bool LoadRoots(const std::string& pem, std::string& error);
    bool IsExclusiveRoot(PCCERT_CONTEXT certificate) const;

    mutable CredHandle handle_{};
    bool acquired_ = false;
    HCERTSTORE roots_ = nullptr;  // the exclusive roots; nullptr: the system's
};

/// Seconds since 1970 (UTC).
std::int64_t SecondsOf(const FILETIME& time);

}  // namespace vantel
