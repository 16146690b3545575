// One relayed connection: a client accepted on a listener and the connection to its server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/ServerEntry.h"
#include "core/protocol/LoginHost.h"
#include "core/protocol/ProtocolFramer.h"
#include "core/relay/RelaySocket.h"
#include "core/relay/ServerConnector.h"
#include "core/relay/SessionContext.h"

namespace vantel {

/// Owns both ends and relays between them with one routine for both directions: read a
/// block, rewrite it, trace it, queue it on the other end; stop reading while the other end
/// has too much queued. The end of one direction is passed on as the end of that direction
/// only (the other keeps flowing); the session is over when both directions have ended and
/// everything read has been sent. The server entry is copied at the accept, so edits and
/// reloads of the settings never change where a running session goes or which login it
/// sends. Runs on the loop's thread; whatever fails inside it ends this session alone.
class RelaySession final : private ServerConnector::Events, private LoginHost {
  public:
    /// Bytes read in one call while tracing: the blocks the trace shows.
    static constexpr std::size_t kReceiveBlock = 2048;
    /// A side whose peer has gone may take this long to send what it still holds.
    static constexpr std::uint64_t kDrainTimeoutMs = 30000;
    /// A server may take this long over STARTTLS and the TLS handshake when no ConnectTimeout
    /// is set: the relay conducts them itself, so nobody else could end a server that stalls.
    static constexpr std::uint64_t kSecuringLimitMs = 20000;
    /// Blocks one receive event relays before queueing them on the other end together.
    static constexpr int kBlocksPerEvent = 32;
    /// An end stops reading while the other end has this much unsent...
    static constexpr std::size_t kHighWater = 256 * 1024;
    /// ... and reads again when it is down to this.
    static constexpr std::size_t kLowWater = 64 * 1024;
    static_assert(kHighWater >= kReceiveBlock * kBlocksPerEvent, "a traced event's read fits");
    /// The notice when a session fails inside (an exception, no memory).
    static constexpr std::string_view kFailedText = "Relayed connection ended by an error";
    /// The notice when the entry signs in in a way this version does not know.
    static constexpr std::string_view kUnknownSignInText = "Entry not relayed";
    /// The notice when the entry's stored login cannot be sent as it is.
    static constexpr std::string_view kUnsafeLoginText = "Stored login not sent to host";
    /// The notices when the server cannot be reached, when this computer has no socket for
    /// it, and when its connection cannot be secured.
    static constexpr std::string_view kConnectFailedText = "Error connecting to host";
    static constexpr std::string_view kSocketFailedText = "Could not create new socket";
    static constexpr std::string_view kTlsFailedText = "Error securing the connection to host";

    /// `entry` is a copy nobody changes (sessions of one entry share it);
    /// `connectTimeoutSeconds` 0 waits for ever.
    RelaySession(SessionContext& engine, std::uint64_t id, std::shared_ptr<const ServerEntry> entry,
                 int connectTimeoutSeconds);
    RelaySession(const RelaySession&) = delete;
    RelaySession& operator=(const RelaySession&) = delete;

    /// The end that accepts the client's connection (Accept reports to it).
    RelaySocket& clientEnd() { return client_; }
    /// Takes the accepted client connection and starts connecting to the server.
    void Start(std::unique_ptr<AsyncSocket> client);
    /// The relay stops: read nothing more, send on what was read, then end both directions.
    void Stop();
    /// Ends at once.
    void Abort();
    /// Ends the session when one of its deadlines has passed; a server that takes too long to
    /// get the connection secured is refused like one that failed at it.
    void Sweep(std::uint64_t now);

    std::uint64_t id() const { return id_; }
    const ServerEntry& entry() const { return entry_; }
    bool finished() const { return finished_; }

    // From the ends.
    void Readable(RelaySocket& end);
    void Sent(RelaySocket& end, std::size_t backlog);
    void Closed(RelaySocket& end, int error);

  private:
    RelaySocket& Other(RelaySocket& end) { return &end == &client_ ? server_ : client_; }
    /// Runs `work`; anything it throws ends this session with a notice.
    void Guarded(const std::function<void()>& work) override;
    // From the connector.
    void OnServerConnected(std::unique_ptr<AsyncSocket> socket, const TlsClient* tls) override;
    void OnServerFailed(const ServerFailure& failure) override;
    // For the authenticator of an OAuth 2.0 entry.
    AccessTokenSource* tokens() override { return engine_.tokens(); }
    void Emit(const std::string& toServer, const std::string& toClient) override;
    void After(std::uint32_t delayMs, std::function<void()> work) override;
    void Note(std::string_view text) override { engine_.TraceNote(text); }
    std::uint32_t LoginFailed() override { return engine_.LoginFailed(); }
    void LoginSucceeded() override { engine_.LoginSucceeded(); }
    /// The server connection could not be secured: nothing was relayed to it.
    void TlsFailed(const std::string& reason, bool news);
    /// Gives the client `answer`, the protocol's refusal, and ends the session once it is sent.
    void Refuse(const std::string& answer);
    void ServerConnected();
    /// The server cannot be reached at `host`: a notice, and the session ends.
    void Fail(std::string host, std::string reason);
    /// Relays what `from` has to read, as far as the other end's queue allows.
    void Pump(RelaySocket& from);
    /// Whether what `from` sends next may be forwarded to the other end unread.
    bool Forwards(RelaySocket& from);
    /// Frames, rewrites and traces one block read from `from`; appends what goes on to
    /// `batch_` and what goes back to `answers_`.
    void RelayBlock(RelaySocket& from, std::string_view block);
    /// Bytes on their way out through `to`, those the framer holds for it included.
    std::size_t Outgoing(RelaySocket& to) const;
    void Deliver(RelaySocket& to, std::string_view bytes);
    /// Traces and delivers what `from`'s processing still holds when its stream ends.
    void DeliverCarried(RelaySocket& from);
    /// Nothing more comes from `from` (`broken`: its connection failed).
    void EndOfStream(RelaySocket& from, bool broken);
    /// The server's stream broke off in a message: the client's connection is to end with a
    /// reset, and nothing more is read from it.
    void CutClient();
    /// Gives up a server that takes too long over STARTTLS or the TLS handshake; true while
    /// the securing is under way, when the connect deadline does not apply.
    bool SweepSecuring(std::uint64_t now);
    /// Sends the end of the stream through `to` once everything before it is sent.
    void EndDirection(RelaySocket& to);
    /// The end of the stream goes now, if it is wanted and nothing is held before it.
    void SendEndIfDue(RelaySocket& to);
    void ResumeIfDrained(RelaySocket& to);
    void CheckFinished();
    void Finish();

    SessionContext& engine_;  ///< what the engine that runs the session lends it
    const std::uint64_t id_;
    const std::shared_ptr<const ServerEntry> entryCopy_;
    const ServerEntry& entry_;  ///< *entryCopy_
    /// Reaches the server. The server end's socket reports through it: it is made before the
    /// ends and goes after them.
    ServerConnector connector_;
    RelaySocket client_;
    RelaySocket server_;
    int connectTimeoutSeconds_ = 0;
    std::uint64_t securingLimitMs_ = kSecuringLimitMs;  ///< without a ConnectTimeout
    std::uint64_t connectDeadline_ = 0;  ///< NowMs by which the server must have spoken; 0: none
    std::uint64_t drainDeadline_ = 0;    ///< NowMs by which the rest must be sent; 0: none
    bool finished_ = false;
    std::unique_ptr<ProtocolFramer> framer_;
    std::string& batch_;    ///< what the blocks of one event send on (the engine's)
    std::string& answers_;  ///< what they send back: the framer's own answers, released bytes
};

}  // namespace vantel
