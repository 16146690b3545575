// Certificates for TLS tests, made at test time with OpenSSL (EC P-256 keys: a certificate
// takes well under a millisecond). Native tests only.
//
//   vantel::test::TestPki pki;                                 // a CA of its own
//   TestCertificate server = pki.Issue({"mail.example.test"}, {"127.0.0.1"});
//   TlsContextOptions trust{pki.caPem()};                      // the only trusted root
//   TestCertificate lone = TestPki::SelfSigned("127.0.0.1");   // trusted by nobody
#pragma once

#include <string>
#include <vector>

namespace vantel::test {

/// "2026-01-02" for today + `days` (UTC): the day a certificate Issue()d with that offset
/// begins or ends, as the failure details and the probe's report give it.
std::string DayFromNow(int days);

struct TestCertificate {
    std::string certPem;      ///< the certificate (PEM)
    std::string keyPem;       ///< its private key (PEM, unencrypted)
    std::string fingerprint;  ///< SHA-256 of the DER certificate, "AB:CD:…" (FormatFingerprint)
};

/// A test certificate authority. Every TestPki makes a CA of its own, so the certificates of
/// one are "issuer unknown" to a client that trusts another's caPem(). Throws
/// std::runtime_error when OpenSSL fails. Copies share the CA.
class TestPki {
  public:
    TestPki();

    /// The CA's certificate (PEM), for TlsContextOptions::exclusiveRootsPem or SSL_CERT_FILE.
    const std::string& caPem() const { return caPem_; }

    /// A server certificate signed by the CA, for `dnsNames` and `ipAddresses` ("127.0.0.1",
    /// "::1") in its subjectAltName (the first of them is also its common name), usable for
    /// serverAuth, valid from now + notBeforeDays to now + notAfterDays (days; negative: in
    /// the past), so (-60, -30) is expired and (10, 40) is not yet valid.
    TestCertificate Issue(const std::vector<std::string>& dnsNames,
                          const std::vector<std::string>& ipAddresses = {}, int notBeforeDays = -1,
                          int notAfterDays = 30) const;

    /// A server certificate signed by the CA, its common name (none when empty) and its
    /// subjectAltName DNS names and IP addresses (none: no subjectAltName) given apart and put
    /// in as they are, whatever bytes they hold: what no careful CA would sign.
    TestCertificate IssueNamed(const std::string& commonName,
                               const std::vector<std::string>& dnsNames,
                               const std::vector<std::string>& ipAddresses = {}) const;

    /// A certificate signed by its own key, as `openssl req -x509` makes them: for `name` (an
    /// IP literal becomes an IP subjectAltName, anything else a DNS one, and the common name).
    static TestCertificate SelfSigned(const std::string& name, int notBeforeDays = -1,
                                      int notAfterDays = 30);

  private:
    std::string caPem_;
    std::string caKeyPem_;
};

}  // namespace vantel::test
