// The names a server certificate is for, as DecideCertificate weighs them. Schannel is left no
// name check of its own: under Wine it matches no address literal. Included only by the
// Windows sources.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <string>
#include <vector>

#include "platform/CertificateDecision.h"

namespace vantel {

class CertificateNames {
  public:
    /// Reads the subjectAltName DNS names and IP addresses and the subject's common name.
    explicit CertificateNames(PCCERT_CONTEXT certificate);

    /// The DNS names and addresses in the certificate's order.
    const std::vector<CertificateName>& names() const { return names_; }
    const std::string& commonName() const { return commonName_; }
    /// The names' texts, in the same order.
    std::vector<std::string> listed() const;

  private:
    std::vector<CertificateName> names_;
    std::string commonName_;
};

}  // namespace vantel
