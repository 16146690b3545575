// Who takes the connections a listener accepts.
#pragma once

#include "platform/AsyncSocket.h"

namespace vantel {

class ListenSocket;

class AcceptHandler {
  public:
    /// A connection waits on `from`, one of `listener`'s sockets.
    virtual void AcceptClient(ListenSocket& listener, AsyncSocket& from) = 0;

  protected:
    ~AcceptHandler() = default;
};

}  // namespace vantel
