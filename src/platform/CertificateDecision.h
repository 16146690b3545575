// Whether a server's certificate is taken, decided once for every TLS library: each backend
// only reads the facts out of its own certificate and chain structures.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/TlsFailure.h"

namespace vantel {

/// What the TLS library found of the chain from the server's certificate to a root.
enum class ChainTrust {
    NoChain,            ///< no chain could be built (or none was looked at)
    Trusted,            ///< it ends at a trusted root, and every issuer is in its dates
    SelfSigned,         ///< the certificate is its own issuer, and not a trusted root
    IssuerUnknown,      ///< it ends at a certificate that no trusted root issued
    IssuerExpired,      ///< an issuer's certificate expired (issuerTime: its notAfter)
    IssuerNotYetValid,  ///< an issuer's certificate is not valid yet (issuerTime: its notBefore)
    Other,              ///< any other fault, in the library's words (chainWords: "revoked")
};

/// One subjectAltName entry of a kind that names a server.
struct CertificateName {
    bool address = false;  ///< an IP address entry; else a DNS name
    /// The DNS name as the certificate holds it, or the address as text ("192.0.2.1",
    /// "2001:db8::25").
    std::string text;
};

/// Times are seconds since 1970-01-01 00:00:00 UTC.
struct CertificateFacts {
    /// SHA-256 of the DER encoding, "AB:CD:…" (FormatFingerprint); empty when unknown.
    std::string fingerprint;
    ChainTrust chain = ChainTrust::NoChain;
    std::string chainWords;
    std::int64_t issuerTime = 0;
    /// The DNS and IP subjectAltNames, in the certificate's order.
    std::vector<CertificateName> names;
    /// The subject's common name: only ever shown, never taken for the server's name.
    std::string commonName;
    std::int64_t notBefore = 0;
    std::int64_t notAfter = 0;
    std::int64_t now = 0;
};

/// The certificate for `host` (the entry's: a name, or an address literal, brackets allowed)
/// with `pin` (as the user gave it; empty: none). With a pin, only the fingerprint counts.
/// Without, the first fault in this order: the chain (Untrusted: "self-signed", ...), the name
/// (NameMismatch: what the certificate is for, its first ten subjectAltNames joined by ", "
/// and "and N more", else "<common name> in its common name only", else "no name"), the dates
/// (Expired, NotYetValid: the day, "2026-01-02"). An address literal is matched against the
/// IP entries, a name against the DNS entries. problem None: taken. The failure's fingerprint
/// is the facts'.
TlsFailure DecideCertificate(const CertificateFacts& facts, std::string_view host,
                             std::string_view pin);

/// Whether the DNS name `pattern` covers the name `host`, ignoring case and a final dot; a
/// wildcard stands for exactly one whole leftmost label ("*.example.net").
bool CertificateNameMatches(std::string_view pattern, std::string_view host);

/// The host as a certificate is checked for it and sent as the server name: without brackets,
/// and without an address's zone ("%eth0") or a name's final dot.
struct CertificateHost {
    std::string text;
    bool address = false;  ///< an IPv4 or IPv6 literal (text: without brackets or zone)
    /// Nothing a certificate could be for: empty, or with a colon yet no IPv6 literal.
    bool uncheckable = false;
};
CertificateHost ReadCertificateHost(std::string_view host);
/// Why no certificate can be checked for `host`, as a handshake failure's detail; empty when
/// one can. Such a host is refused before a byte is sent (unless the entry is pinned).
std::string UncheckableHostReason(const CertificateHost& host);

/// "2026-01-02" (UTC) for a time in seconds since 1970.
std::string CertificateDay(std::int64_t time);

}  // namespace vantel
