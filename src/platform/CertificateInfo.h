// What a server's certificate says about itself, for people to read: the probe shows it
// whether or not the certificate was trusted.
#pragma once

#include <string>
#include <vector>

namespace vantel {

/// Text as the certificate holds it (UTF-8, possibly with any bytes a hostile server put
/// there): make it printable before showing it.
struct CertificateInfo {
    /// One line, the narrowest part first: "CN=mail.example.org, O=Example".
    std::string subject;
    /// The subjectAltName DNS names and IP addresses ("mail.example.org", "192.0.2.1",
    /// "2001:db8::1"), in the certificate's order.
    std::vector<std::string> names;
    std::string issuer;
    /// "2026-12-09 12:00:00 UTC".
    std::string notBefore;
    std::string notAfter;
    /// SHA-256 of the DER encoding, "AB:CD:…" (FormatFingerprint).
    std::string fingerprint;
};

}  // namespace vantel
