#include "core/relay/ListenSocket.h"

#include "core/relay/RelayEngine.h"

namespace vantel {

void ListenSocket::OnAccept() {
    owner_.AcceptClient(*this, *socket);
}

void ListenSocket::Ipv6Accepts::OnAccept() {
    listener_.owner_.AcceptClient(listener_, *listener_.ipv6Socket);
}

}  // namespace vantel
