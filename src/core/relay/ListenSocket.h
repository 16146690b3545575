// A listening port of the relay, serving one server entry.
#pragma once

#include <memory>

#include "platform/AsyncSocket.h"

namespace vantel {

class RelayEngine;

class ListenSocket : public SocketEvents {
  public:
    ListenSocket(RelayEngine& owner, int entryIndex) : entryIndex(entryIndex), owner_(owner) {}

    void OnAccept() override;

    std::unique_ptr<AsyncSocket> socket;
    int port = 0;  ///< the local port it listens on
    /// Position of the entry it serves in ServerList; re-pointed when the default changes.
    int entryIndex;

  private:
    RelayEngine& owner_;
};

}  // namespace vantel
