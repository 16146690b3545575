// A listening port of the relay, serving one server entry.
#pragma once

#include <memory>

#include "platform/AsyncSocket.h"

namespace vantel {

class RelayEngine;

class ListenSocket : public SocketEvents {
  public:
    ListenSocket(RelayEngine& owner, int entryIndex)
        : entryIndex(entryIndex), ipv6Events_(*this), owner_(owner) {}

    void OnAccept() override;

    std::unique_ptr<AsyncSocket> socket;
    /// The same port on ::1, beside 127.0.0.1, where the system has IPv6 loopback.
    std::unique_ptr<AsyncSocket> ipv6Socket;
    SocketEvents& Ipv6Events() { return ipv6Events_; }
    int port = 0;  ///< the local port it listens on
    /// Position of the entry it serves in ServerList; re-pointed when the default changes.
    int entryIndex;

  private:
    /// Routes the IPv6 socket's accepts to the same entry.
    class Ipv6Accepts : public SocketEvents {
      public:
        explicit Ipv6Accepts(ListenSocket& listener) : listener_(listener) {}
        void OnAccept() override;

      private:
        ListenSocket& listener_;
    };

    Ipv6Accepts ipv6Events_;
    RelayEngine& owner_;
};

}  // namespace vantel
