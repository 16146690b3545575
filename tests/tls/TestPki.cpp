#include "tls/TestPki.h"

#include <arpa/inet.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <stdexcept>

#include "platform/TlsFailure.h"

namespace vantel::test {

namespace {

struct Free {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(X509* certificate) const { X509_free(certificate); }
    void operator()(BIO* bio) const { BIO_free(bio); }
    void operator()(BIGNUM* number) const { BN_free(number); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Certificate = std::unique_ptr<X509, Free>;
using Bio = std::unique_ptr<BIO, Free>;

void Check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("TestPki: ") + what + " failed");
    }
}

bool IsAddress(const std::string& text) {
    unsigned char bytes[16];
    return inet_pton(AF_INET, text.c_str(), bytes) == 1 ||
           inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

Key NewKey() {
    Key key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "making a key");
    return key;
}

std::string Pem(X509* certificate) {
    Bio bio(BIO_new(BIO_s_mem()));
    Check(bio && PEM_write_bio_X509(bio.get(), certificate) == 1, "writing a certificate");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

std::string Pem(EVP_PKEY* key) {
    Bio bio(BIO_new(BIO_s_mem()));
    Check(
        bio && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "writing a key");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

Certificate ReadCertificate(const std::string& pem) {
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Certificate certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    Check(certificate != nullptr, "reading the CA certificate");
    return certificate;
}

Key ReadKey(const std::string& pem) {
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Key key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    Check(key != nullptr, "reading the CA key");
    return key;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    Check(extension != nullptr, "making an extension");
    const int added = X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
    Check(added == 1, "adding an extension");
}

/// DNS names and addresses as a subjectAltName, the names byte for byte; null when none.
GENERAL_NAMES* RawAlternatives(const std::vector<std::string>& dnsNames,
                               const std::vector<std::string>& ipAddresses) {
    if (dnsNames.empty() && ipAddresses.empty()) {
        return nullptr;
    }
    GENERAL_NAMES* names = sk_GENERAL_NAME_new_null();
    Check(names != nullptr, "making names");
    for (const std::string& dns : dnsNames) {
        ASN1_IA5STRING* text = ASN1_IA5STRING_new();
        Check(
            text != nullptr && ASN1_STRING_set(text, dns.data(), static_cast<int>(dns.size())) == 1,
            "making a DNS name");
        GENERAL_NAME* name = GENERAL_NAME_new();
        Check(name != nullptr, "making a name");
        GENERAL_NAME_set0_value(name, GEN_DNS, text);
        sk_GENERAL_NAME_push(names, name);
    }
    for (const std::string& address : ipAddresses) {
        ASN1_OCTET_STRING* bytes = a2i_IPADDRESS(address.c_str());
        Check(bytes != nullptr, "reading an address");
        GENERAL_NAME* name = GENERAL_NAME_new();
        Check(name != nullptr, "making a name");
        GENERAL_NAME_set0_value(name, GEN_IPADD, bytes);
        sk_GENERAL_NAME_push(names, name);
    }
    return names;
}

enum class Kind { Authority, Server, SelfSigned };

/// A certificate for `key` named `commonName`, signed by `issuerKey` (with `issuer`'s name;
/// itself when `issuer` is null).
Certificate Make(Kind kind, const std::string& commonName, EVP_PKEY* key, X509* issuer,
                 EVP_PKEY* issuerKey, const std::string& alternativeNames, int notBeforeDays,
                 int notAfterDays, GENERAL_NAMES* rawAlternatives = nullptr) {
    Certificate certificate(X509_new());
    Check(certificate != nullptr, "making a certificate");
    X509* made = certificate.get();
    Check(X509_set_version(made, 2) == 1, "setting the version");

    unsigned char random[8];
    Check(RAND_bytes(random, sizeof random) == 1, "drawing a serial number");
    random[0] &= 0x7f;  // positive
    std::unique_ptr<BIGNUM, Free> serial(BN_bin2bn(random, sizeof random, nullptr));
    Check(serial && BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(made)) != nullptr,
          "setting the serial number");

    constexpr long kDay = 24 * 60 * 60;
    Check(X509_gmtime_adj(X509_getm_notBefore(made), notBeforeDays * kDay) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(made), notAfterDays * kDay) != nullptr,
          "setting the dates");

    X509_NAME* subject = X509_get_subject_name(made);
    Check(X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                                     reinterpret_cast<const unsigned char*>("Vantel tests"), -1, -1,
                                     0) == 1 &&
              (commonName.empty() ||
               X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                          reinterpret_cast<const unsigned char*>(commonName.data()),
                                          static_cast<int>(commonName.size()), -1, 0) == 1),
          "naming the certificate");
    Check(X509_set_issuer_name(made, issuer != nullptr ? X509_get_subject_name(issuer) : subject) ==
              1,
          "naming the issuer");
    Check(X509_set_pubkey(made, key) == 1, "setting the key");

    X509* signer = issuer != nullptr ? issuer : made;
    AddExtension(made, signer, NID_subject_key_identifier, "hash");
    AddExtension(made, signer, NID_authority_key_identifier, "keyid:always");
    if (kind == Kind::Authority) {
        AddExtension(made, signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(made, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else if (kind == Kind::SelfSigned) {
        AddExtension(made, signer, NID_basic_constraints, "critical,CA:TRUE");
    } else {
        AddExtension(made, signer, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(made, signer, NID_key_usage, "critical,digitalSignature");
        AddExtension(made, signer, NID_ext_key_usage, "serverAuth");
    }
    if (!alternativeNames.empty()) {
        AddExtension(made, signer, NID_subject_alt_name, alternativeNames);
    }
    if (rawAlternatives != nullptr) {
        const int added =
            X509_add1_ext_i2d(made, NID_subject_alt_name, rawAlternatives, 0, X509V3_ADD_DEFAULT);
        GENERAL_NAMES_free(rawAlternatives);
        Check(added == 1, "adding the names");
    }
    Check(X509_sign(made, issuerKey, EVP_sha256()) > 0, "signing");
    return certificate;
}

TestCertificate Finish(X509* certificate, EVP_PKEY* key) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    Check(X509_digest(certificate, EVP_sha256(), digest, &size) == 1, "taking the fingerprint");
    return {Pem(certificate), Pem(key),
            FormatFingerprint(std::vector<std::uint8_t>(digest, digest + size))};
}

}  // namespace

TestPki::TestPki() {
    static std::atomic<unsigned> counter{0};
    Key key = NewKey();
    Certificate ca = Make(Kind::Authority, "Vantel Test CA " + std::to_string(++counter), key.get(),
                          nullptr, key.get(), "", -1, 3650);
    caPem_ = Pem(ca.get());
    caKeyPem_ = Pem(key.get());
}

TestCertificate TestPki::Issue(const std::vector<std::string>& dnsNames,
                               const std::vector<std::string>& ipAddresses, int notBeforeDays,
                               int notAfterDays) const {
    std::string alternatives;
    for (const std::string& name : dnsNames) {
        alternatives += (alternatives.empty() ? "DNS:" : ",DNS:") + name;
    }
    for (const std::string& address : ipAddresses) {
        alternatives += (alternatives.empty() ? "IP:" : ",IP:") + address;
    }
    const std::string commonName = !dnsNames.empty()      ? dnsNames.front()
                                   : !ipAddresses.empty() ? ipAddresses.front()
                                                          : "Vantel test server";
    Certificate ca = ReadCertificate(caPem_);
    Key caKey = ReadKey(caKeyPem_);
    Key key = NewKey();
    Certificate certificate = Make(Kind::Server, commonName, key.get(), ca.get(), caKey.get(),
                                   alternatives, notBeforeDays, notAfterDays);
    return Finish(certificate.get(), key.get());
}

TestCertificate TestPki::IssueNamed(const std::string& commonName,
                                    const std::vector<std::string>& dnsNames,
                                    const std::vector<std::string>& ipAddresses) const {
    Certificate ca = ReadCertificate(caPem_);
    Key caKey = ReadKey(caKeyPem_);
    Key key = NewKey();
    Certificate certificate = Make(Kind::Server, commonName, key.get(), ca.get(), caKey.get(), "",
                                   -1, 30, RawAlternatives(dnsNames, ipAddresses));
    return Finish(certificate.get(), key.get());
}

TestCertificate TestPki::SelfSigned(const std::string& name, int notBeforeDays, int notAfterDays) {
    Key key = NewKey();
    Certificate certificate =
        Make(Kind::SelfSigned, name, key.get(), nullptr, key.get(),
             (IsAddress(name) ? "IP:" : "DNS:") + name, notBeforeDays, notAfterDays);
    return Finish(certificate.get(), key.get());
}

std::string DayFromNow(int days) {
    const std::time_t when = std::time(nullptr) + static_cast<std::time_t>(days) * 24 * 60 * 60;
    std::tm day{};
    gmtime_r(&when, &day);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &day);
    return text;
}

}  // namespace vantel::test
