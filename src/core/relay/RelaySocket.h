// One end of a relayed session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/relay/SecretMasker.h"
#include "core/relay/SocketKind.h"
#include "core/rewrite/StreamState.h"
#include "platform/AsyncSocket.h"

namespace vantel {

class RelayEngine;

/// A relayed socket with what it still has to send. The engine owns it; the two ends of a
/// session point at each other until one of them is closed.
class RelaySocket : public SocketEvents {
  public:
    RelaySocket(RelayEngine& owner, std::uint64_t id, SocketKind kind, int entryIndex)
        : id(id), kind(kind), entryIndex(entryIndex), owner_(owner) {}

    void OnConnect(int error) override;
    void OnReceive() override;
    void OnSend() override;
    void OnClose(int error) override;

    /// Bytes waiting to be sent.
    std::size_t Queued() const { return outbound.size() - sent; }

    const std::uint64_t id;
    const SocketKind kind;
    const int entryIndex;  ///< position of the session's entry in ServerList
    std::unique_ptr<AsyncSocket> socket;
    RelaySocket* peer = nullptr;
    StreamState stream;
    SecretMasker masker;              ///< client sides: keeps their secrets out of the trace
    bool connected = false;           ///< the connection stands (client sides from the accept on)
    bool closing = false;             ///< our peer is gone: send what is queued, then close
    std::uint64_t closeDeadline = 0;  ///< when `closing`: give up sending at this NowMs
    bool readPaused = false;          ///< the peer's queue is full
    std::string outbound;             ///< bytes to send, from `sent` on
    std::size_t sent = 0;

  private:
    RelayEngine& owner_;
};

}  // namespace vantel
