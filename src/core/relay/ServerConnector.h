// How the relay reaches the server of an entry: the name looked up, each of its addresses tried
// in turn, and the connection secured as the entry says. The relay's sessions and the
// connection probe both reach their servers through it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/ServerEntry.h"
#include "core/relay/TlsSocket.h"
#include "platform/AsyncSocket.h"
#include "platform/CertificateInfo.h"
#include "platform/EventLoop.h"
#include "platform/TlsClient.h"
#include "platform/TlsFailure.h"

namespace vantel {

/// Why a server could not be reached, in the words of the relay's notices.
struct ServerFailure {
    enum class Kind {
        Unreachable,  ///< no such host, no address took the connection, or the time ran out
        NoSocket,     ///< this computer has no socket left, which says nothing about the server
        Insecure,     ///< the connection stood but could not be secured: nothing was sent on it
    };
    Kind kind = Kind::Unreachable;
    std::string address;  ///< the address tried last, "127.0.0.1:25"; empty when none was
    std::string reason;   ///< "connection refused", "no such host", the TLS failure ...
    bool news = false;    ///< Insecure: the server greeted as a news server
    /// Insecure: the server hung up in the STARTTLS dialogue, before TLS began; `endError` is
    /// how its stream ended (0: a plain end).
    bool closedBeforeTls = false;
    int endError = 0;
    /// Insecure: what the TLS client found wrong (problem None when it did not get that far),
    /// and the certificate the server sent, if it sent one.
    TlsFailure tls;
    CertificateInfo certificate;
};

/// One attempt at a time, on the loop's thread. The socket it hands over keeps reporting its
/// events through the connector to `socketEvents`: keep the connector while the socket lives.
class ServerConnector : private TlsSocketEvents {
  public:
    /// What the connector tells its owner. Every call comes from the loop (or from Start and
    /// GiveUp, for what they settle at once); the owner may Cancel in any of them.
    class Events {
      public:
        /// The TCP connection stands; for an encrypted entry the securing begins.
        virtual void OnServerReached() {}
        /// STARTTLS: what the server said in plain text, as received.
        virtual void OnPlainText(std::string_view bytes) { (void)bytes; }
        /// The connection stands (for an encrypted entry: the server is verified) and is the
        /// owner's now. `tls`: the TLS client under it, null for a plain entry; it lives as
        /// long as the socket.
        virtual void OnServerConnected(std::unique_ptr<AsyncSocket> socket,
                                       const TlsClient* tls) = 0;
        virtual void OnServerFailed(const ServerFailure& failure) = 0;
        /// Runs the connector's own work on a loop event: an owner that ends on what it throws
        /// catches it here.
        virtual void Guarded(const std::function<void()>& work) { work(); }

      protected:
        ~Events() = default;
    };

    enum class Stage {
        Idle,        ///< not started, or cancelled
        Resolving,   ///< the name is being looked up
        Connecting,  ///< an address is being connected
        Dialogue,    ///< the STARTTLS dialogue is under way
        Handshake,   ///< the TLS handshake is under way
        Connected,   ///< handed over
        Failed,      ///< reported as failed
    };

    /// `tls` is needed (and must outlive the connector) for encrypted entries only; the
    /// caller has checked that the entry's security can be had (SecurityProblem) and that its
    /// port is in range. `entry` must outlive the connector.
    ServerConnector(EventLoop& loop, TlsContext* tls, const ServerEntry& entry,
                    SocketEvents& socketEvents, Events& events);
    ~ServerConnector() override;
    ServerConnector(const ServerConnector&) = delete;
    ServerConnector& operator=(const ServerConnector&) = delete;

    /// Looks the entry's host up and connects; whatever was under way before is dropped.
    void Start();
    /// The owner's time is up (`limit` in words, "5 s"): before the TCP connection stands the
    /// attempt fails at once, "timed out after 5 s"; while it is being secured it fails as
    /// Insecure, reported from the loop; afterwards nothing happens.
    void GiveUp(const std::string& limit);
    /// Drops what is under way without a word; a socket already handed over stays as it is.
    void Cancel();

    Stage stage() const;
    /// The STARTTLS dialogue or the TLS handshake is under way.
    bool Securing() const { return tlsSocket_ != nullptr && socket_ && tlsSocket_->Securing(); }
    /// NowMs when the TCP connection of the attempt under way came to stand; 0 before.
    std::uint64_t securingSince() const {
        return tlsSocket_ != nullptr && socket_ ? tlsSocket_->securingSince() : 0;
    }
    /// The address being tried, connected or tried last; empty before the first.
    const std::string& address() const { return tried_; }

  private:
    // Events of the socket under way, and of the one handed over (passed on).
    void OnConnect(int error) override;
    void OnReceive() override { socketEvents_.OnReceive(); }
    void OnSent(std::size_t backlog) override { socketEvents_.OnSent(backlog); }
    void OnClose(int error) override { socketEvents_.OnClose(error); }
    void OnTlsFailed(const std::string& reason, bool news) override;
    void OnSecuring() override;
    void OnPlainText(std::string_view bytes) override;

    void Resolved(std::vector<SocketAddress> addresses, const std::string& error);
    /// A socket for the server connection: plain, or TLS as the entry says; null when the
    /// system has none.
    std::unique_ptr<AsyncSocket> CreateSocket();
    /// Tries the next address until one is under way; fails when none is left.
    void ConnectNext();
    void Connected();
    void Fail(ServerFailure failure);
    ServerFailure Failure(ServerFailure::Kind kind, std::string reason) const;

    EventLoop& loop_;
    TlsContext* tls_;
    const ServerEntry& entry_;
    SocketEvents& socketEvents_;
    Events& events_;

    Stage stage_ = Stage::Idle;
    std::vector<SocketAddress> addresses_;  ///< still to try
    std::string tried_;
    std::string failure_;                  ///< why the last address failed, in words
    std::unique_ptr<AsyncSocket> socket_;  ///< the attempt under way
    TlsSocket* tlsSocket_ = nullptr;       ///< socket_, when it is one
    /// Renewed by every Start and Cancel: a lookup answered after it finds its attempt gone.
    std::shared_ptr<bool> attempt_ = std::make_shared<bool>(true);
};

}  // namespace vantel
