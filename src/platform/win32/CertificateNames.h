// The names a server certificate is for, and whether the host an entry holds is one of them.
// Schannel is left no name check of its own: under Wine it matches no address literal.
// Included only by the Windows sources.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <string>
#include <string_view>
#include <vector>

namespace vantel {

class CertificateNames {
  public:
    /// Reads the subjectAltName DNS names and IP addresses and the subject's common name.
    explicit CertificateNames(PCCERT_CONTEXT certificate);

    /// Whether the certificate is for `host`: an address literal against the IP addresses, a
    /// name against the DNS names; never against the common name.
    bool Matches(std::string_view host) const;
    /// "mail.example.net, 192.0.2.1": the DNS names and addresses, else "mail.example.net in
    /// its common name only".
    std::string Describe() const;
    /// The DNS names and addresses (as text) in the certificate's order.
    const std::vector<std::string>& listed() const { return listed_; }

    /// Whether the DNS name `pattern` covers the name `host`, ignoring case; a wildcard
    /// stands for exactly one whole leftmost label ("*.example.net").
    static bool NameMatches(std::string_view pattern, std::string_view host);

  private:
    std::vector<std::string> dnsNames_;
    std::vector<std::string> addresses_;  // 4 or 16 bytes each, network order
    std::string commonName_;
    std::vector<std::string> listed_;
};

}  // namespace vantel
