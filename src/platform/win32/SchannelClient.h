// One connection's TLS client on Schannel: the owner carries the bytes, Schannel does the
// protocol, and the certificate is checked here (never by Schannel, which under Wine takes a
// self-signed certificate for the wrong name). Included only by the Windows sources.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/TlsClient.h"
#include "platform/win32/SchannelCredentials.h"

namespace vantel {

class SchannelClient : public TlsClient {
  public:
    SchannelClient(std::shared_ptr<SchannelCredentials> credentials,
                   const TlsClientOptions& options);
    ~SchannelClient() override;
    SchannelClient(const SchannelClient&) = delete;
    SchannelClient& operator=(const SchannelClient&) = delete;

    void Start() override;
    void Feed(std::string_view ciphertext) override;
    void EndOfInput() override;
    void TakeOutgoing(std::string& ciphertext) override;
    void Write(std::string_view plaintext) override;
    void TakeIncoming(std::string& plaintext) override;
    void Close() override;

    TlsState state() const override { return state_; }
    const TlsFailure& failure() const override { return failure_; }
    std::string fingerprint() const override { return fingerprint_; }
    std::string version() const override { return version_; }
    std::string cipher() const override { return cipher_; }
    CertificateInfo certificate() const override { return certificate_; }

  private:
    /// One InitializeSecurityContext call; what it gives to send goes to outgoing_.
    SECURITY_STATUS Step(SecBufferDesc* input);
    /// Hands the whole records received so far to the handshake (or a renegotiation) until
    /// it needs more; `force`: call Schannel even with nothing new.
    void Negotiate(bool force);
    void FinishHandshake();
    void FinishRenegotiation();
    /// Decrypts every whole record received so far.
    void Decrypt();
    /// False when the server's first record is neither its ServerHello nor an alert.
    bool FirstRecordFits();
    void Fail(TlsProblem problem, std::string detail);
    /// Why the handshake failed, in words: what the server said or chose, else the status.
    std::string HandshakeFault(SECURITY_STATUS status) const;
    /// The server's certificate as Schannel holds it (the caller frees it); nullptr when none.
    PCCERT_CONTEXT RemoteCertificate();
    std::string RemoteFingerprint();
    /// Reads the server's certificate into certificate_ and fingerprint_, once Schannel has it.
    void KeepCertificate(PCCERT_CONTEXT certificate);

    std::shared_ptr<SchannelCredentials> credentials_;
    std::string host_;
    std::string pin_;
    std::string uncheckable_;  // why no certificate can be for host_; empty: one can
    std::wstring serverName_;  // sent as SNI; empty for an address literal
    CtxtHandle context_{};
    bool haveContext_ = false;
    TlsState state_ = TlsState::Handshaking;
    bool renegotiating_ = false;
    bool closeSent_ = false;
    bool heardServer_ = false;     // the server's first record was looked at
    std::string received_;         // ciphertext Schannel has not taken yet
    std::size_t negotiated_ = 0;   // bytes received during handshakes
    std::size_t triedLength_ = 0;  // whole records Schannel found too few; retried with more
    std::string outgoing_;
    std::string plaintext_;
    SecPkgContext_StreamSizes sizes_{};
    TlsFailure failure_;
    std::string fingerprint_;
    std::string version_;
    std::string cipher_;
    CertificateInfo certificate_;
};

}  // namespace vantel
