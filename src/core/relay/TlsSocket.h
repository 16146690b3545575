// A server connection that speaks TLS: plaintext to the session, ciphertext on the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/protocol/StartTlsDialogue.h"
#include "platform/AsyncSocket.h"
#include "platform/EventLoop.h"
#include "platform/TlsClient.h"

namespace vantel {

/// What a TlsSocket tells its owner beyond the events of any socket.
class TlsSocketEvents : public SocketEvents {
  public:
    /// The connection could not be secured (`reason` in words); nothing was relayed. `news`:
    /// the server greeted as a news server. The owner is expected to destroy the socket.
    virtual void OnTlsFailed(const std::string& reason, bool news) {
        (void)reason;
        (void)news;
    }
    /// The TCP connection stands: the STARTTLS dialogue or the handshake begins. May come from
    /// inside Connect; only to take note of it, the socket must not be destroyed in it.
    virtual void OnSecuring() {}
    /// Bytes the server sent in plain text (the STARTTLS dialogue), as received, up to its
    /// go-ahead; only to look at, the socket must not be destroyed in it.
    virtual void OnPlainText(std::string_view bytes) { (void)bytes; }
};

/// Wraps the plain socket to the server and a TlsClient. To its owner it is a socket whose
/// connection stands only once the server is verified (OnConnect comes then), which reads
/// and writes plaintext, whose backlog counts the ciphertext still queued, and whose end of
/// stream is sent as close_notify. With a StartTlsDialogue, the plain-text start of the
/// connection is conducted first and the server's greeting is the first plaintext read.
class TlsSocket : public AsyncSocket, private SocketEvents {
  public:
    /// Ciphertext queued on the wire above this holds back further encryption.
    static constexpr std::size_t kWireHighWater = 64 * 1024;
    /// Decrypted bytes read ahead of the owner before the wire is left unread.
    static constexpr std::size_t kReadAhead = 64 * 1024;
    /// The error the owner's OnClose gets when a record fails once the session runs.
    static constexpr int kBrokenRecord = -1;

    /// `host`: the server as the entry names it, for the reasons given. `dialogue` null: TLS
    /// from the first byte.
    TlsSocket(TlsSocketEvents& events, EventLoop& loop, std::string host,
              std::unique_ptr<TlsClient> tls, std::unique_ptr<StartTlsDialogue> dialogue);
    ~TlsSocket() override;

    /// Makes the plain socket; false when the system has none.
    bool Open();

    bool Listen(const std::string& address, std::uint16_t port, std::string& error) override;
    std::unique_ptr<AsyncSocket> Accept(SocketEvents& events, int& error) override;
    ConnectResult Connect(const SocketAddress& address, int& error) override;
    long Receive(void* buffer, std::size_t size) override;
    void PauseReceive(bool paused) override;
    void SetNoDelay() override;
    SocketAddress LocalAddress() const override;
    std::size_t Backlog() const override;
    /// The server's stream ended without its close_notify.
    bool Truncated() const override;

    /// The TCP connection stands and the STARTTLS dialogue or the handshake is under way.
    bool Securing() const { return phase_ == Phase::Dialogue || phase_ == Phase::Handshake; }
    /// The STARTTLS dialogue is under way (Securing, before the handshake).
    bool InDialogue() const { return phase_ == Phase::Dialogue; }
    /// NowMs when the TCP connection came to stand; 0 before.
    std::uint64_t securingSince() const { return securingSince_; }
    /// The server took longer than `limit` (in words: "5 s") to get the connection secured:
    /// the securing fails, and the owner hears of it from the loop as of any other failure.
    void GiveUp(const std::string& limit);
    /// After a failure: whether the server's stream ended before TLS began (it hung up in the
    /// STARTTLS dialogue), and how it ended (0: a plain end, else the error).
    bool closedBeforeTls() const { return closedBeforeTls_; }
    int wireError() const { return endError_; }
    /// The TLS client, for what it found: the certificate, the protocol agreed on, why it failed.
    const TlsClient& tls() const { return *tls_; }

  protected:
    long SendSome(const char* data, std::size_t size, int& error) override;
    void ShutDownNow() override;
    /// The wire is reset as it is: no close_notify.
    void ResetNow() override;
    bool CanSend() const override;
    void ReportFailureLater(int error) override;

  private:
    enum class Phase { Connecting, Dialogue, Handshake, Open, Failed };

    // Events of the plain socket.
    void OnConnect(int error) override;
    void OnReceive() override;
    void OnSent(std::size_t backlog) override;
    void OnClose(int error) override;

    void StartHandshake();
    /// Reads what the wire holds (at most `limit` bytes; all of it with `all`).
    void ReadWire(bool all);
    void Process(std::string_view bytes);
    /// Sends what the TLS client has for the wire.
    void FlushWire();
    void WireEnded(int error);
    void Fail(std::string reason);
    /// Tells the owner what has happened; call last in an event, as the owner may destroy
    /// this socket in it.
    void Report();
    /// Asks the loop for a Report, when the owner has a failure or something to read it has
    /// not been told about.
    void ReportLater();
    std::size_t Unread() const { return incoming_.size() - incomingAt_; }

    TlsSocketEvents& owner_;
    EventLoop& loop_;
    const std::string host_;
    std::unique_ptr<TlsClient> tls_;
    std::unique_ptr<StartTlsDialogue> dialogue_;
    std::unique_ptr<AsyncSocket> wire_;
    Phase phase_ = Phase::Connecting;
    std::string incoming_;  ///< plaintext for the owner, from incomingAt_ on
    std::size_t incomingAt_ = 0;
    std::string outgoing_;  ///< scratch for ciphertext on its way to the wire
    bool paused_ = false;
    bool openPending_ = false;     ///< the owner is yet to hear that the connection stands
    bool failurePending_ = false;  ///< ... or that it failed (failure_)
    std::string failure_;
    bool wireEnded_ = false;    ///< nothing more comes from the server
    bool closeNotify_ = false;  ///< ... because it said so
    bool closedBeforeTls_ = false;
    std::uint64_t securingSince_ = 0;
    int endError_ = 0;
    bool closeReported_ = false;
    bool reportPosted_ = false;
    bool wantWritable_ = false;  ///< SendSome held back; Writable is owed
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vantel
