#include "platform/win32/SchannelClient.h"

#include <schannel.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/win32/CertificateNames.h"
#include "platform/win32/SchannelDetails.h"
#include "platform/win32/WideText.h"

namespace vantel {
namespace {

constexpr ULONG kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                           ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                           ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_USE_SUPPLIED_CREDS |
                           ISC_REQ_MANUAL_CRED_VALIDATION;

constexpr std::size_t kHeaderSize = 5;
constexpr std::size_t kMaxRecordBody = 16384 + 2048;  // the largest TLS 1.2 ciphertext
constexpr unsigned char kAlert = 21;
constexpr unsigned char kHandshake = 22;
constexpr std::size_t kNotTls = std::string::npos;
constexpr unsigned char kServerHello = 2;
// Far more than any handshake with a long certificate chain: a server that goes on sending
// is not heard out (Schannel may hold what it has taken).
constexpr std::size_t kMaxHandshakeBytes = 256 * 1024;

unsigned char Byte(std::string_view data, std::size_t at) {
    return static_cast<unsigned char>(data[at]);
}

/// How many bytes at the start of `data` are whole TLS records (so Schannel is called only
/// when one has arrived, however the bytes were cut); kNotTls once a header is not TLS.
std::size_t WholeRecords(std::string_view data) {
    std::size_t at = 0;
    while (at < data.size()) {
        const std::size_t left = data.size() - at;
        const unsigned char type = Byte(data, at);
        if (type < 20 || type > 23 || (left > 1 && Byte(data, at + 1) != 3)) {
            return kNotTls;
        }
        if (left < kHeaderSize) {
            break;
        }
        const std::size_t body = std::size_t{Byte(data, at + 3)} << 8 | Byte(data, at + 4);
        if (body > kMaxRecordBody) {
            return kNotTls;
        }
        if (left - kHeaderSize < body) {
            break;
        }
        at += kHeaderSize + body;
    }
    return at;
}

std::string AlertText(unsigned char description) {
    switch (description) {
        case 10:
            return "unexpected message";
        case 20:
            return "bad record mac";
        case 22:
            return "record overflow";
        case 40:
            return "handshake failure";
        case 42:
            return "bad certificate";
        case 43:
            return "unsupported certificate";
        case 44:
            return "certificate revoked";
        case 45:
            return "certificate expired";
        case 46:
            return "certificate unknown";
        case 47:
            return "illegal parameter";
        case 48:
            return "unknown CA";
        case 49:
            return "access denied";
        case 50:
            return "decode error";
        case 51:
            return "decrypt error";
        case 70:
            return "protocol version";
        case 71:
            return "insufficient security";
        case 80:
            return "internal error";
        case 86:
            return "inappropriate fallback";
        case 90:
            return "user canceled";
        case 109:
            return "missing extension";
        case 110:
            return "unsupported extension";
        case 112:
            return "unrecognized name";
        case 116:
            return "certificate required";
        case 120:
            return "no application protocol";
        default:
            return "alert " + std::to_string(description);
    }
}

std::string StatusText(SECURITY_STATUS status) {
    switch (status) {
        case SEC_E_ILLEGAL_MESSAGE:
            return "malformed message";
        case SEC_E_ALGORITHM_MISMATCH:
            return "no cipher in common";
        case SEC_E_UNSUPPORTED_FUNCTION:
            return "not supported by Schannel";
        case SEC_E_DECRYPT_FAILURE:
            return "decryption failed";
        case SEC_E_MESSAGE_ALTERED:
            return "message altered";
        case SEC_E_INVALID_TOKEN:
            return "unexpected data";
        case SEC_E_INTERNAL_ERROR:
            return "Schannel internal error";
        case SEC_E_INSUFFICIENT_MEMORY:
            return "out of memory";
        case SEC_E_CONTEXT_EXPIRED:
            return "session ended";
        case SEC_E_OUT_OF_SEQUENCE:
            return "record out of sequence";
        default:
            break;
    }
    char text[48];
    std::snprintf(text, sizeof(text), "Schannel status 0x%08lX",
                  static_cast<unsigned long>(status));
    return text;
}

}  // namespace

SchannelClient::SchannelClient(std::shared_ptr<SchannelCredentials> credentials,
                               const TlsClientOptions& options)
    : credentials_(std::move(credentials)), host_(options.host), pin_(options.pinnedSha256) {
    const CertificateHost host = ReadCertificateHost(host_);
    uncheckable_ = UncheckableHostReason(host);
    if (!host.address) {
        serverName_ = Widen(host.text);
    }
}

SchannelClient::~SchannelClient() {
    if (haveContext_) {
        DeleteSecurityContext(&context_);
    }
}

SECURITY_STATUS SchannelClient::Step(SecBufferDesc* input) {
    SecBuffer out[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 2, out};
    ULONG attributes = 0;
    const SECURITY_STATUS status =
        InitializeSecurityContextW(credentials_->handle(), haveContext_ ? &context_ : nullptr,
                                   serverName_.empty() ? nullptr : serverName_.data(), kRequest, 0,
                                   0, input, 0, &context_, &outDesc, &attributes, nullptr);
    if (!FAILED(status)) {
        haveContext_ = true;
    }
    // A failure may come with an alert for the server: it goes out too.
    for (SecBuffer& buffer : out) {
        if (buffer.pvBuffer != nullptr) {
            if (buffer.BufferType == SECBUFFER_TOKEN) {
                outgoing_.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
            }
            FreeContextBuffer(buffer.pvBuffer);
        }
    }
    return status;
}

void SchannelClient::Start() {
    if (haveContext_ || state_ != TlsState::Handshaking) {
        return;
    }
    if (pin_.empty() && !uncheckable_.empty()) {
        Fail(TlsProblem::Handshake, uncheckable_);  // before a byte is sent
        return;
    }
    const SECURITY_STATUS status = Step(nullptr);
    if (status != SEC_I_CONTINUE_NEEDED) {
        Fail(TlsProblem::Handshake, StatusText(status));
        return;
    }
    Negotiate(false);
}

void SchannelClient::Feed(std::string_view ciphertext) {
    if (state_ == TlsState::Failed || state_ == TlsState::Closed) {
        return;
    }
    received_.append(ciphertext);
    if (state_ == TlsState::Handshaking || renegotiating_) {
        negotiated_ += ciphertext.size();
    }
    if (!haveContext_) {
        return;  // before Start
    }
    if (state_ == TlsState::Handshaking || renegotiating_) {
        Negotiate(false);
    } else {
        Decrypt();
    }
}

void SchannelClient::EndOfInput() {
    if (state_ == TlsState::Handshaking) {
        Fail(TlsProblem::Closed, "");
    } else if (state_ == TlsState::Open) {
        state_ = TlsState::Closed;
        received_.clear();
    }
}

void SchannelClient::TakeOutgoing(std::string& ciphertext) {
    ciphertext += outgoing_;
    outgoing_.clear();
}

void SchannelClient::TakeIncoming(std::string& plaintext) {
    plaintext += plaintext_;
    plaintext_.clear();
}

void SchannelClient::Negotiate(bool force) {
    while (state_ == TlsState::Handshaking || renegotiating_) {
        const std::size_t whole = WholeRecords(received_);
        if (whole == kNotTls || (state_ == TlsState::Handshaking && !FirstRecordFits())) {
            Fail(TlsProblem::Handshake,
                 state_ == TlsState::Handshaking ? "not a TLS server" : "malformed record");
            return;
        }
        if (negotiated_ > kMaxHandshakeBytes) {
            Fail(TlsProblem::Handshake, "handshake too long");
            return;
        }
        if (!force && (whole == 0 || whole <= triedLength_)) {
            return;
        }
        force = false;
        SecBuffer in[2] = {{static_cast<ULONG>(whole), SECBUFFER_TOKEN, received_.data()},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
        const SECURITY_STATUS status = Step(&inDesc);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            triedLength_ = whole;  // a message goes on in a record still to come
            return;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
            Fail(TlsProblem::Handshake, status == SEC_I_INCOMPLETE_CREDENTIALS
                                            ? "the server asks for a client certificate"
                                            : HandshakeFault(status));
            return;
        }
        // Bytes Schannel left are the next messages; after the last handshake message, the
        // first application records.
        const std::size_t left = in[1].BufferType == SECBUFFER_EXTRA ? in[1].cbBuffer : 0;
        const std::size_t taken = whole - std::min<std::size_t>(left, whole);
        received_.erase(0, taken);
        // Nothing taken: Schannel waits for more, however it worded that.
        triedLength_ = taken == 0 ? whole : 0;
        if (status == SEC_E_OK) {
            if (state_ == TlsState::Handshaking) {
                FinishHandshake();
            } else {
                FinishRenegotiation();
            }
            return;
        }
    }
}

void SchannelClient::FinishHandshake() {
    PCCERT_CONTEXT certificate = RemoteCertificate();
    if (certificate == nullptr) {
        Fail(TlsProblem::Handshake, "no certificate from the server");
        return;
    }
    KeepCertificate(certificate);
    CertificateFacts facts;
    facts.fingerprint = fingerprint_;
    const CertificateNames names(certificate);
    facts.names = names.names();
    facts.commonName = names.commonName();
    facts.notBefore = SecondsOf(certificate->pCertInfo->NotBefore);
    facts.notAfter = SecondsOf(certificate->pCertInfo->NotAfter);
    facts.now = static_cast<std::int64_t>(std::time(nullptr));
    if (pin_.empty()) {
        credentials_->CheckChain(certificate, facts);  // a pin needs no chain
    }
    const TlsFailure check = DecideCertificate(facts, host_, pin_);
    CertFreeCertificateContext(certificate);

    SecPkgContext_ConnectionInfo info{};
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK) {
        if (info.dwProtocol & SP_PROT_TLS1_3) {
            version_ = "TLSv1.3";
        } else if (info.dwProtocol & SP_PROT_TLS1_2) {
            version_ = "TLSv1.2";
        }
    }
    if (version_.empty()) {
        // Should the system have let an older protocol through regardless.
        Fail(TlsProblem::Handshake, "protocol version");
        return;
    }
    if (check.problem != TlsProblem::None) {
        Fail(check.problem, check.detail);
        return;
    }
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK ||
        sizes_.cbMaximumMessage == 0) {
        Fail(TlsProblem::Handshake, "no record sizes from Schannel");
        return;
    }
    cipher_ = CipherSuiteName(&context_);
    state_ = TlsState::Open;
    Decrypt();
}

void SchannelClient::FinishRenegotiation() {
    renegotiating_ = false;
    // The certificate checked at the start must stay the server's.
    if (RemoteFingerprint() != fingerprint_) {
        Fail(TlsProblem::Handshake, "the server changed its certificate");
        return;
    }
    Decrypt();
}

void SchannelClient::Decrypt() {
    std::size_t at = 0;
    while (state_ == TlsState::Open && !renegotiating_) {
        const std::size_t whole = WholeRecords(std::string_view(received_).substr(at));
        if (whole == kNotTls) {
            Fail(TlsProblem::Handshake, "malformed record");
            return;
        }
        if (whole == 0) {
            break;
        }
        const unsigned char type = Byte(received_, at);
        SecBuffer buffers[4] = {{static_cast<ULONG>(whole), SECBUFFER_DATA, received_.data() + at},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            break;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED && status != SEC_I_RENEGOTIATE) {
            Fail(TlsProblem::Handshake, StatusText(status));
            return;
        }
        std::size_t left = 0;
        bool data = false;
        for (const SecBuffer& buffer : buffers) {
            if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) {
                plaintext_.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
                data = true;
            } else if (buffer.BufferType == SECBUFFER_EXTRA) {
                left = std::min<std::size_t>(buffer.cbBuffer, whole);
            }
        }
        at += whole - left;
        // Windows reports the server's close_notify as an expired context; Wine as an alert
        // record that decrypts to nothing.
        if (status == SEC_I_CONTEXT_EXPIRED || (status == SEC_E_OK && !data && type == kAlert)) {
            state_ = TlsState::Closed;
            received_.clear();
            return;
        }
        if (status == SEC_I_RENEGOTIATE) {
            // TLS 1.3 session tickets and key updates come this way, as does a TLS 1.2
            // renegotiation: the rest goes back to InitializeSecurityContext.
            received_.erase(0, at);
            renegotiating_ = true;
            Negotiate(true);
            return;
        }
    }
    received_.erase(0, at);
}

void SchannelClient::Write(std::string_view plaintext) {
    if (state_ != TlsState::Open || closeSent_) {
        return;
    }
    while (!plaintext.empty()) {
        const std::size_t piece = std::min<std::size_t>(plaintext.size(), sizes_.cbMaximumMessage);
        const std::size_t start = outgoing_.size();
        outgoing_.resize(start + sizes_.cbHeader + piece + sizes_.cbTrailer);
        char* record = outgoing_.data() + start;
        std::memcpy(record + sizes_.cbHeader, plaintext.data(), piece);
        SecBuffer buffers[4] = {
            {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record},
            {static_cast<ULONG>(piece), SECBUFFER_DATA, record + sizes_.cbHeader},
            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record + sizes_.cbHeader + piece},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = EncryptMessage(&context_, 0, &desc, 0);
        if (status != SEC_E_OK) {
            outgoing_.resize(start);
            Fail(TlsProblem::Handshake, StatusText(status));
            return;
        }
        // The trailer may come out shorter than its room.
        outgoing_.resize(start + buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        plaintext.remove_prefix(piece);
    }
}

void SchannelClient::Close() {
    if (closeSent_ || !haveContext_ || (state_ != TlsState::Open && state_ != TlsState::Closed)) {
        return;
    }
    closeSent_ = true;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer token{sizeof(type), SECBUFFER_TOKEN, &type};
    SecBufferDesc desc{SECBUFFER_VERSION, 1, &token};
    if (ApplyControlToken(&context_, &desc) == SEC_E_OK) {
        Step(nullptr);
    }
}

void SchannelClient::Fail(TlsProblem problem, std::string detail) {
    if (problem == TlsProblem::Handshake && fingerprint_.empty() && haveContext_) {
        if (PCCERT_CONTEXT certificate = RemoteCertificate()) {
            KeepCertificate(certificate);
            CertFreeCertificateContext(certificate);
        }
    }
    state_ = TlsState::Failed;
    renegotiating_ = false;
    received_.clear();
    failure_.problem = problem;
    failure_.detail = std::move(detail);
    failure_.fingerprint = fingerprint_;
}

bool SchannelClient::FirstRecordFits() {
    if (heardServer_ || received_.size() <= kHeaderSize) {
        return true;
    }
    heardServer_ = true;
    // A server answers the ClientHello with its ServerHello or an alert.
    const unsigned char type = Byte(received_, 0);
    return type == kAlert || (type == kHandshake && Byte(received_, kHeaderSize) == kServerHello);
}

std::string SchannelClient::HandshakeFault(SECURITY_STATUS status) const {
    // Before the keys are agreed the server's records are readable: a refusal it stated, or
    // an older protocol it chose, says more than Schannel's status.
    const std::string_view data(received_);
    const std::size_t whole = WholeRecords(data);
    for (std::size_t at = 0; whole != kNotTls && at + kHeaderSize < whole;) {
        const std::size_t body = std::size_t{Byte(data, at + 3)} << 8 | Byte(data, at + 4);
        const unsigned char type = Byte(data, at);
        if (type == kAlert && body == 2) {
            return AlertText(Byte(data, at + 6));
        }
        // ServerHello: type 2, three bytes of length, then the version the server chose.
        if (type == kHandshake && body >= 6 && Byte(data, at + 5) == kServerHello &&
            (Byte(data, at + 9) << 8 | Byte(data, at + 10)) < 0x0303) {
            return "protocol version";
        }
        at += kHeaderSize + body;
    }
    return StatusText(status);
}

void SchannelClient::KeepCertificate(PCCERT_CONTEXT certificate) {
    certificate_ = DescribeCertificate(certificate);
    fingerprint_ = certificate_.fingerprint;
}

PCCERT_CONTEXT SchannelClient::RemoteCertificate() {
    PCCERT_CONTEXT certificate = nullptr;
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
        SEC_E_OK) {
        return nullptr;
    }
    return certificate;
}

std::string SchannelClient::RemoteFingerprint() {
    PCCERT_CONTEXT certificate = RemoteCertificate();
    if (certificate == nullptr) {
        return "";
    }
    std::string print = SchannelCredentials::Fingerprint(certificate);
    CertFreeCertificateContext(certificate);
    return print;
}

}  // namespace vantel
