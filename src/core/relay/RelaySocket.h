// One end of a relayed session.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "core/config/ServerEntry.h"
#include "core/protocol/SecretMasker.h"
#include "core/relay/SocketKind.h"
#include "platform/AsyncSocket.h"

namespace vantel {

class RelaySession;

/// The session owns both of its ends; an end hands its socket's events to the session (how the
/// server connection is made, the session's ServerConnector hears).
class RelaySocket : public SocketEvents {
  public:
    RelaySocket(RelaySession& session, SocketKind kind) : kind(kind), session_(session) {}
    RelaySocket(const RelaySocket&) = delete;
    RelaySocket& operator=(const RelaySocket&) = delete;

    void OnReceive() override;
    void OnSent(std::size_t backlog) override;
    void OnClose(int error) override;

    /// Bytes on their way out through this end, held ones included.
    std::size_t Backlog() const { return held.size() + (socket ? socket->Backlog() : 0); }
    /// Nothing more goes out through this end: all sent, or the connection broke.
    bool Drained() const { return broken || Backlog() == 0; }

    const SocketKind kind;
    std::unique_ptr<AsyncSocket> socket;
    /// Keeps the client's secrets out of the trace: on a traced session's client end only.
    std::unique_ptr<SecretMasker> masker;
    bool connected = false;       ///< the connection stands (client ends from the accept on)
    bool readEnded = false;       ///< nothing more is read from this end
    bool endSeen = false;         ///< the peer ended its stream; the rest is read when we may
    bool readPaused = false;      ///< the other end has too much to send
    bool broken = false;          ///< the connection failed: nothing can be sent through it
    bool shutDownWanted = false;  ///< end our direction once everything is sent
    bool resetWanted = false;     ///< ... and end the connection with a reset instead
    /// What is written to a server end before its connection stands.
    std::string held;

  private:
    RelaySession& session_;
};

}  // namespace vantel
