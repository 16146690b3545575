#include "core/relay/RelaySocket.h"

#include "core/relay/RelaySession.h"

namespace vantel {

void RelaySocket::OnReceive() {
    session_.Readable(*this);
}
void RelaySocket::OnSent(std::size_t backlog) {
    session_.Sent(*this, backlog);
}
void RelaySocket::OnClose(int error) {
    session_.Closed(*this, error);
}

}  // namespace vantel
