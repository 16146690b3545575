#include "core/relay/ListenSocket.h"

#include "core/relay/RelayEngine.h"

namespace vantel {

void ListenSocket::OnAccept() {
    owner_.AcceptClient(*this);
}

}  // namespace vantel
