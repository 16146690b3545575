// What a relayed session reaches of the engine that runs it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/oauth/AccessTokenSource.h"
#include "core/rewrite/MessageRewriter.h"
#include "platform/EventLoop.h"
#include "platform/Notice.h"
#include "platform/TlsClient.h"

namespace vantel {

class RelaySession;
class RelaySocket;

/// Lent by the engine to each of its sessions for the session's life; on the loop's thread.
class SessionContext {
  public:
    virtual EventLoop& loop() = 0;
    virtual MessageRewriter& rewriter() = 0;
    /// What secures the server connections of encrypted entries; null (with `tlsProblem`,
    /// why) where there is none. It outlives the sessions started while it is set.
    virtual TlsContext* tls() const = 0;
    virtual const std::string& tlsProblem() const = 0;
    /// Where OAuth 2.0 entries get their access tokens; null where this program has none.
    virtual AccessTokenSource* tokens() const = 0;
    /// A client gave a wrong local login: how long its answer is to wait. The waits grow with
    /// the failures of all sessions, so that parallel tries are slowed down too.
    virtual std::uint32_t LoginFailed() = 0;
    /// A client logged in with the local password.
    virtual void LoginSucceeded() = 0;
    /// The largest message literal a session holds to rewrite.
    virtual std::size_t maxHeldLiteral() const = 0;
    /// How long a server may take over STARTTLS and the TLS handshake where no ConnectTimeout
    /// is set.
    virtual std::uint64_t securingLimitMs() const = 0;
    /// Room for one read, RelaySession::kHighWater bytes (at least kReceiveBlock *
    /// kBlocksPerEvent, one event's blocks while tracing).
    virtual char* receiveBuffer() = 0;
    /// Where the blocks of one event gather on their way on and back. Shared: a session fills
    /// and empties them within one event, so none keeps room for the most it ever read.
    virtual std::string& onwardBuffer() = 0;
    virtual std::string& backBuffer() = 0;
    /// Runs `work` from the loop later, if session `id` is still running then.
    virtual void Later(std::uint64_t id, std::function<void()> work) = 0;
    /// Tells the user, from the loop.
    virtual void Notify(Notice notice) = 0;
    /// Whether relayed text is traced at all; it does not change while sessions run.
    virtual bool tracing() const = 0;
    /// `text` relayed through `end`; for a client end, what its masker heard from the framer
    /// about these bytes, secrets masked, is written.
    virtual void TraceBlock(RelaySocket& end, std::string_view text) = 0;
    /// A line of the relay's own in the trace, about a session.
    virtual void TraceNote(std::string_view text) = 0;
    /// Bytes read from a relayed connection.
    virtual void CountRead(std::size_t bytes) = 0;
    /// The system had no socket for a server connection: accepting backs off until a server
    /// connection is made again. True for the first of a run.
    virtual bool OutOfSockets() = 0;
    /// A server connection was made: accepting goes at full speed again.
    virtual void SocketsAvailable() = 0;
    /// The session has closed its connections; it is destroyed once the current event is over.
    virtual void SessionFinished(RelaySession& session) = 0;

  protected:
    ~SessionContext() = default;
};

}  // namespace vantel
