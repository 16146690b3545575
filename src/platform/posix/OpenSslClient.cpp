#include "platform/posix/OpenSslClient.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace vantel {

namespace {

constexpr std::size_t kWriteChunk = 64 * 1024;
constexpr const char* kProtocolVersion =
    "protocol version (the server offers neither TLS 1.2 nor 1.3)";
constexpr const char* kNotTls = "not a TLS server";

std::string Lower(std::string text) {
    for (char& c : text) {
        c = c == '_' ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string FingerprintOf(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &size) != 1) {
        return "";
    }
    return FormatFingerprint(std::vector<std::uint8_t>(digest, digest + size));
}

/// "2026-01-02 12:00:00 UTC".
std::string TimeOf(const ASN1_TIME* time) {
    std::tm when{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &when) != 1) {
        return "an unreadable date";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", when.tm_year + 1900,
                  when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
    return text;
}

/// A distinguished name on one line, the narrowest part first ("CN=mail.example.org,
/// O=Example"): RFC 2253 escaping of separators and control characters, but UTF-8 kept as it
/// is rather than escaped byte by byte.
std::string NameText(const X509_NAME* name) {
    constexpr unsigned long kFlags =
        ((XN_FLAG_RFC2253 & ~XN_FLAG_SEP_MASK) | XN_FLAG_SEP_CPLUS_SPC) & ~ASN1_STRFLGS_ESC_MSB;
    BIO* bio = BIO_new(BIO_s_mem());
    if (name == nullptr || bio == nullptr) {
        BIO_free(bio);
        return "";
    }
    std::string text;
    if (X509_NAME_print_ex(bio, name, 0, kFlags) >= 0) {
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        text.assign(data, static_cast<std::size_t>(std::max(size, 0L)));
    }
    BIO_free(bio);
    ERR_clear_error();
    return text;
}

std::string AddressText(const ASN1_OCTET_STRING* bytes) {
    const int size = ASN1_STRING_length(bytes);
    const int family = size == 4 ? AF_INET : size == 16 ? AF_INET6 : 0;
    char text[INET6_ADDRSTRLEN];
    if (family == 0 ||
        inet_ntop(family, ASN1_STRING_get0_data(bytes), text, sizeof text) == nullptr) {
        return "";
    }
    return text;
}

/// The certificate's DNS and IP subjectAltNames, in its order.
std::vector<CertificateName> AlternativeNames(X509* certificate) {
    std::vector<CertificateName> names;
    auto* alternatives = static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; i < sk_GENERAL_NAME_num(alternatives); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives, i);
        CertificateName entry;
        if (name->type == GEN_DNS) {
            const ASN1_STRING* dns = name->d.dNSName;
            entry.text.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)),
                              static_cast<std::size_t>(ASN1_STRING_length(dns)));
        } else if (name->type == GEN_IPADD) {
            entry.address = true;
            entry.text = AddressText(name->d.iPAddress);
        }
        if (!entry.text.empty()) {
            names.push_back(std::move(entry));
        }
    }
    GENERAL_NAMES_free(alternatives);
    return names;
}

/// The subject's first common name, in UTF-8.
std::string CommonNameOf(X509* certificate) {
    const X509_NAME* subject = X509_get_subject_name(certificate);
    const int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    unsigned char* common = nullptr;
    const int size =
        index < 0 ? -1
                  : ASN1_STRING_to_UTF8(
                        &common, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
    std::string name;
    if (size > 0) {
        name.assign(reinterpret_cast<char*>(common), static_cast<std::size_t>(size));
    }
    OPENSSL_free(common);
    return name;
}

/// Seconds since 1970 (UTC). An unreadable date is never reached: X509_verify_cert refuses
/// the chain for it first.
std::int64_t SecondsOf(const ASN1_TIME* time) {
    std::tm when{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &when) != 1) {
        return 0;
    }
    return static_cast<std::int64_t>(timegm(&when));
}

bool IsSelfSigned(int code) {
    return code == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT ||
           code == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN;
}

bool IsIssuerUnknown(int code) {
    return code == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY ||
           code == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT ||
           code == X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE;
}

/// The X509 error a refusal gives the server in its alert.
int AlertCode(const TlsFailure& failure, int chainCode, bool address) {
    switch (failure.problem) {
        case TlsProblem::Untrusted:
            return chainCode;
        case TlsProblem::NameMismatch:
            return address ? X509_V_ERR_IP_ADDRESS_MISMATCH : X509_V_ERR_HOSTNAME_MISMATCH;
        case TlsProblem::Expired:
            return X509_V_ERR_CERT_HAS_EXPIRED;
        case TlsProblem::NotYetValid:
            return X509_V_ERR_CERT_NOT_YET_VALID;
        default:
            return X509_V_ERR_CERT_REJECTED;
    }
}

/// Why a handshake or a record failed, in words, from one queued OpenSSL error.
std::string Words(unsigned long error) {
    const int reason = ERR_GET_REASON(error);
    if (ERR_GET_LIB(error) == ERR_LIB_SSL) {
        if (reason >= SSL_AD_REASON_OFFSET) {  // an alert from the server
            const int alert = reason - SSL_AD_REASON_OFFSET;
            if (alert == SSL_AD_PROTOCOL_VERSION) {
                return kProtocolVersion;
            }
            const char* name = SSL_alert_desc_string_long(alert);
            return name != nullptr && std::string(name) != "unknown"
                       ? Lower(name)
                       : "alert " + std::to_string(alert);
        }
        switch (reason) {
            case SSL_R_UNSUPPORTED_PROTOCOL:
            case SSL_R_UNSUPPORTED_SSL_VERSION:
            case SSL_R_WRONG_SSL_VERSION:
            case SSL_R_VERSION_TOO_LOW:
            case SSL_R_VERSION_TOO_HIGH:
            case SSL_R_NO_PROTOCOLS_AVAILABLE:
                return kProtocolVersion;
            case SSL_R_DECRYPTION_FAILED:
            case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC:
                return "bad record mac";
            case SSL_R_WRONG_VERSION_NUMBER:
            case SSL_R_PACKET_LENGTH_TOO_LONG:
            case SSL_R_RECORD_LENGTH_MISMATCH:
            case SSL_R_ENCRYPTED_LENGTH_TOO_LONG:
            case SSL_R_UNKNOWN_PROTOCOL:
            case SSL_R_HTTP_REQUEST:
            case SSL_R_HTTPS_PROXY_REQUEST:
                return kNotTls;
            default:
                break;
        }
    }
    const char* text = ERR_reason_error_string(error);
    return text != nullptr ? Lower(text) : "OpenSSL error " + std::to_string(error);
}

}  // namespace

std::string TakeOpenSslErrors() {
    const unsigned long error = ERR_get_error();
    ERR_clear_error();
    if (error == 0) {
        return "unknown error";
    }
    const char* text = ERR_reason_error_string(error);
    return text != nullptr ? Lower(text) : "OpenSSL error " + std::to_string(error);
}

OpenSslClient::OpenSslClient(SSL_CTX* context, const TlsClientOptions& options,
                             const std::string& unusable) {
    const CertificateHost host = ReadCertificateHost(options.host);
    entryHost_ = options.host;
    host_ = host.text;
    address_ = host.address;
    uncheckable_ = UncheckableHostReason(host);
    pin_ = options.pinnedSha256;

    ERR_clear_error();
    ssl_ = SSL_new(context);
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    if (ssl_ == nullptr || in_ == nullptr || out_ == nullptr) {
        BIO_free(in_);
        BIO_free(out_);
        in_ = out_ = nullptr;
        Fail(TlsProblem::Handshake, "OpenSSL could not start a connection: " + TakeOpenSslErrors());
        return;
    }
    // An empty input is "more to come", never the end: EndOfInput says when it ends.
    BIO_set_mem_eof_return(in_, -1);
    SSL_set_bio(ssl_, in_, out_);
    SSL_set_connect_state(ssl_);
    SSL_set_app_data(ssl_, this);
    if (!unusable.empty()) {
        Fail(TlsProblem::Handshake, unusable);
    }
}

OpenSslClient::~OpenSslClient() {
    X509_free(peer_);
    SSL_free(ssl_);
}

void OpenSslClient::Start() {
    if (started_ || state_ != TlsState::Handshaking) {
        return;
    }
    started_ = true;
    // The name is checked by DecideCertificate, not by OpenSSL; what no certificate can be
    // for is refused before a byte is sent.
    if (pin_.empty() && !uncheckable_.empty()) {
        Fail(TlsProblem::Handshake, uncheckable_);
        return;
    }
    if (!address_ && !host_.empty() && SSL_set_tlsext_host_name(ssl_, host_.c_str()) != 1) {
        ERR_clear_error();  // a name too long for SNI: the server has to do without it
    }
    Pump();
}

void OpenSslClient::Feed(std::string_view ciphertext) {
    if (in_ == nullptr || state_ == TlsState::Failed || state_ == TlsState::Closed) {
        return;
    }
    while (!ciphertext.empty()) {
        const std::size_t piece = std::min<std::size_t>(ciphertext.size(), 1 << 30);
        BIO_write(in_, ciphertext.data(), static_cast<int>(piece));
        ciphertext.remove_prefix(piece);
    }
    if (started_) {
        Pump();
    }
}

void OpenSslClient::EndOfInput() {
    if (state_ == TlsState::Handshaking) {
        Fail(TlsProblem::Closed, "");
    } else if (state_ == TlsState::Open) {
        state_ = TlsState::Closed;
    }
}

void OpenSslClient::TakeOutgoing(std::string& ciphertext) {
    Drain();
    if (ciphertext.empty()) {
        ciphertext.swap(outgoing_);
    } else {
        ciphertext += outgoing_;
    }
    outgoing_.clear();
}

void OpenSslClient::Write(std::string_view plaintext) {
    while (state_ == TlsState::Open && !closeSent_ && !plaintext.empty()) {
        const std::size_t piece = std::min(plaintext.size(), kWriteChunk);
        std::size_t written = 0;
        ERR_clear_error();
        const int result = SSL_write_ex(ssl_, plaintext.data(), piece, &written);
        if (result != 1) {
            FailFromOpenSsl(result, false);
        } else {
            plaintext.remove_prefix(written);
        }
        Drain();
    }
}

void OpenSslClient::TakeIncoming(std::string& plaintext) {
    if (plaintext.empty()) {
        plaintext.swap(incoming_);
    } else {
        plaintext += incoming_;
    }
    incoming_.clear();
}

void OpenSslClient::Close() {
    if (closeSent_ || (state_ != TlsState::Open && state_ != TlsState::Closed)) {
        return;
    }
    closeSent_ = true;
    ERR_clear_error();
    SSL_shutdown(ssl_);  // 0: sent, the server's not yet seen; 1: both done
    ERR_clear_error();
    Drain();
}

std::string OpenSslClient::version() const {
    if (state_ != TlsState::Open && state_ != TlsState::Closed) {
        return "";
    }
    return SSL_get_version(ssl_);
}

std::string OpenSslClient::cipher() const {
    const SSL_CIPHER* suite = state_ == TlsState::Open || state_ == TlsState::Closed
                                  ? SSL_get_current_cipher(ssl_)
                                  : nullptr;
    if (suite == nullptr) {
        return "";
    }
    // The standard name, as Schannel gives it, rather than OpenSSL's own for TLS 1.2 suites.
    const char* name = SSL_CIPHER_standard_name(suite);
    return name != nullptr ? name : SSL_CIPHER_get_name(suite);
}

CertificateInfo OpenSslClient::certificate() const {
    CertificateInfo info;
    if (peer_ == nullptr) {
        return info;
    }
    info.subject = NameText(X509_get_subject_name(peer_));
    for (CertificateName& name : AlternativeNames(peer_)) {
        info.names.push_back(std::move(name.text));
    }
    info.issuer = NameText(X509_get_issuer_name(peer_));
    info.notBefore = TimeOf(X509_get0_notBefore(peer_));
    info.notAfter = TimeOf(X509_get0_notAfter(peer_));
    info.fingerprint = fingerprint_;
    return info;
}

void OpenSslClient::KeepPeer(X509* certificate) {
    if (peer_ == nullptr && certificate != nullptr && X509_up_ref(certificate) == 1) {
        peer_ = certificate;
    }
}

int OpenSslClient::VerifyServer(X509_STORE_CTX* store, void* /*unused*/) {
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* client = ssl == nullptr ? nullptr : static_cast<OpenSslClient*>(SSL_get_app_data(ssl));
    if (client == nullptr) {
        X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
        return 0;
    }
    if (client->Verify(store)) {
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }
    client->refused_ = true;
    return 0;
}

int OpenSslClient::CollectError(int ok, X509_STORE_CTX* store) {
    if (ok == 1) {
        return 1;
    }
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* client = ssl == nullptr ? nullptr : static_cast<OpenSslClient*>(SSL_get_app_data(ssl));
    if (client == nullptr) {
        return 0;
    }
    const int code = X509_STORE_CTX_get_error(store);
    X509* certificate = X509_STORE_CTX_get_current_cert(store);
    std::int64_t time = 0;
    if (code == X509_V_ERR_CERT_HAS_EXPIRED && certificate != nullptr) {
        time = SecondsOf(X509_get0_notAfter(certificate));
    } else if (code == X509_V_ERR_CERT_NOT_YET_VALID && certificate != nullptr) {
        time = SecondsOf(X509_get0_notBefore(certificate));
    }
    client->errors_.push_back({code, X509_STORE_CTX_get_error_depth(store), time});
    return 1;  // go on: every check is to be heard before one is chosen
}

bool OpenSslClient::Verify(X509_STORE_CTX* store) {
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    KeepPeer(leaf);  // OpenSSL keeps the certificate of a session it refuses nowhere
    fingerprint_ = FingerprintOf(leaf);
    CertificateFacts facts;
    facts.fingerprint = fingerprint_;
    if (leaf != nullptr) {
        facts.names = AlternativeNames(leaf);
        facts.commonName = CommonNameOf(leaf);
        facts.notBefore = SecondsOf(X509_get0_notBefore(leaf));
        facts.notAfter = SecondsOf(X509_get0_notAfter(leaf));
    }
    facts.now = static_cast<std::int64_t>(std::time(nullptr));
    // A pin needs no chain: it is not even built then.
    const int chainCode = pin_.empty() ? CheckChain(store, facts) : X509_V_OK;
    failure_ = DecideCertificate(facts, entryHost_, pin_);
    if (failure_.problem == TlsProblem::None) {
        return true;
    }
    X509_STORE_CTX_set_error(store, AlertCode(failure_, chainCode, address_));
    return false;
}

int OpenSslClient::CheckChain(X509_STORE_CTX* store, CertificateFacts& facts) {
    errors_.clear();
    X509_STORE_CTX_set_verify_cb(store, &OpenSslClient::CollectError);
    const int verified = X509_verify_cert(store);
    // What makes the chain untrusted: the first reason that says it ends at no trusted root,
    // else the first of any other. The leaf's own dates are the facts' to judge.
    const CertificateError* chain = nullptr;
    for (const CertificateError& error : errors_) {
        if (error.depth == 0 && (error.code == X509_V_ERR_CERT_HAS_EXPIRED ||
                                 error.code == X509_V_ERR_CERT_NOT_YET_VALID)) {
            continue;
        }
        if (chain == nullptr || ((IsSelfSigned(error.code) || IsIssuerUnknown(error.code)) &&
                                 !IsSelfSigned(chain->code) && !IsIssuerUnknown(chain->code))) {
            chain = &error;
        }
    }
    if (chain == nullptr) {
        if (verified == 1) {
            facts.chain = ChainTrust::Trusted;
            return X509_V_OK;
        }
        // Refused without a reason given to the callback.
        facts.chain = ChainTrust::Other;
        facts.chainWords = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
        return X509_V_ERR_UNSPECIFIED;
    }
    if (IsSelfSigned(chain->code)) {
        facts.chain = ChainTrust::SelfSigned;
    } else if (IsIssuerUnknown(chain->code)) {
        facts.chain = ChainTrust::IssuerUnknown;
    } else if (chain->code == X509_V_ERR_CERT_HAS_EXPIRED) {
        facts.chain = ChainTrust::IssuerExpired;
        facts.issuerTime = chain->time;
    } else if (chain->code == X509_V_ERR_CERT_NOT_YET_VALID) {
        facts.chain = ChainTrust::IssuerNotYetValid;
        facts.issuerTime = chain->time;
    } else {
        facts.chain = ChainTrust::Other;
        facts.chainWords = X509_verify_cert_error_string(chain->code);
    }
    return chain->code;
}

void OpenSslClient::Pump() {
    if (state_ == TlsState::Handshaking) {
        ERR_clear_error();
        const int result = SSL_do_handshake(ssl_);
        if (result != 1) {
            if (SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ) {
                FailFromOpenSsl(result, true);
            }
            Drain();
            return;
        }
        X509* certificate = SSL_get0_peer_certificate(ssl_);
        if (certificate == nullptr) {
            Fail(TlsProblem::Handshake, "the server sent no certificate");
            Drain();
            return;
        }
        if (fingerprint_.empty()) {
            fingerprint_ = FingerprintOf(certificate);
        }
        KeepPeer(certificate);
        state_ = TlsState::Open;
    }
    if (state_ == TlsState::Open) {
        ReadRecords();
    }
    Drain();
}

void OpenSslClient::ReadRecords() {
    char buffer[16 * 1024];
    for (;;) {
        std::size_t size = 0;
        ERR_clear_error();
        const int result = SSL_read_ex(ssl_, buffer, sizeof buffer, &size);
        if (result == 1) {
            incoming_.append(buffer, size);
            continue;
        }
        switch (SSL_get_error(ssl_, result)) {
            case SSL_ERROR_WANT_READ:
            case SSL_ERROR_WANT_WRITE:
                return;
            case SSL_ERROR_ZERO_RETURN:
                state_ = TlsState::Closed;
                return;
            default:
                FailFromOpenSsl(result, false);
                return;
        }
    }
}

void OpenSslClient::Drain() {
    if (out_ == nullptr) {
        return;
    }
    const std::size_t pending = BIO_ctrl_pending(out_);
    if (pending == 0) {
        return;
    }
    const std::size_t old = outgoing_.size();
    outgoing_.resize(old + pending);
    const int read = BIO_read(out_, &outgoing_[old], static_cast<int>(pending));
    outgoing_.resize(old + static_cast<std::size_t>(std::max(read, 0)));
}

void OpenSslClient::Fail(TlsProblem problem, std::string detail) {
    state_ = TlsState::Failed;
    failure_.problem = problem;
    failure_.detail = std::move(detail);
    failure_.fingerprint = fingerprint_;
}

void OpenSslClient::FailFromOpenSsl(int result, bool handshake) {
    const int kind = SSL_get_error(ssl_, result);
    unsigned long error = 0;
    // The first error of the SSL library says most; the ones after it only how it got there.
    while (const unsigned long next = ERR_get_error()) {
        if (error == 0 || (ERR_GET_LIB(error) != ERR_LIB_SSL && ERR_GET_LIB(next) == ERR_LIB_SSL)) {
            error = next;
        }
    }
    ERR_clear_error();
    if (handshake && refused_) {
        state_ = TlsState::Failed;  // VerifyServer said why in failure_
        return;
    }
    std::string words = error != 0                  ? Words(error)
                        : kind == SSL_ERROR_SYSCALL ? "the connection failed"
                                                    : "OpenSSL error " + std::to_string(kind);
    Fail(TlsProblem::Handshake, handshake ? words : "TLS record failed: " + words);
}

}  // namespace vantel
