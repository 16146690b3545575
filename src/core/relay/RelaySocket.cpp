#include "core/relay/RelaySocket.h"

#include "core/relay/RelayEngine.h"

namespace vantel {

void RelaySocket::OnConnect(int error) {
    owner_.RemoteConnected(*this, error);
}
void RelaySocket::OnReceive() {
    owner_.ReceiveBlock(*this);
}
void RelaySocket::OnSend() {
    owner_.DrainQueue(*this);
}
void RelaySocket::OnClose(int error) {
    owner_.CloseSession(*this, error);
}

}  // namespace vantel
