// What a Schannel connection and its server certificate tell a person: the cipher suite's
// name and the certificate's names and dates as text. Included only by the Windows sources.
#pragma once

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <windows.h>

#include <security.h>
#include <wincrypt.h>

#include <string>

#include "platform/CertificateInfo.h"

namespace vantel {

/// The subject, names, issuer, dates and fingerprint of `certificate`.
CertificateInfo DescribeCertificate(PCCERT_CONTEXT certificate);

/// The negotiated cipher suite's standard name ("TLS_AES_256_GCM_SHA384"). Where Schannel
/// does not name it (older systems, Wine) the algorithms it reports instead, as "ECDHE,
/// AES-256, SHA-384"; empty when it tells nothing.
std::string CipherSuiteName(CtxtHandle* context);

}  // namespace vantel
