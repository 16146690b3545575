#include "core/relay/ListenSocket.h"

#include <algorithm>

namespace vantel {

ListenSocket::~ListenSocket() {
    if (resumeTimer_ != 0 && loop_ != nullptr) {
        loop_->StopTimer(resumeTimer_);
    }
}

bool ListenSocket::Open(EventLoop& loop, const std::vector<std::string>& addresses,
                        std::string& error) {
    loop_ = &loop;
    if (port < 0 || port > 65535) {
        error = "port out of range";
        return false;
    }
    for (const std::string& literal : addresses) {
        auto endpoint = std::make_unique<Endpoint>(*this);
        endpoint->socket = loop.CreateSocket(*endpoint);
        if (!endpoint->socket) {
            error = "no socket could be created";
            continue;
        }
        // Clients are relayed without delay; where the system hands the option on to the
        // connections accepted, they need no call of their own.
        endpoint->socket->SetNoDelay();
        if (endpoint->socket->Listen(literal, static_cast<std::uint16_t>(port), error)) {
            if (paused()) {
                endpoint->socket->PauseReceive(true);
            }
            endpoints_.push_back(std::move(endpoint));
            return true;
        }
    }
    return false;
}

std::vector<SocketAddress> ListenSocket::LocalAddresses() const {
    std::vector<SocketAddress> addresses;
    for (const auto& endpoint : endpoints_) {
        addresses.push_back(endpoint->socket->LocalAddress());
    }
    return addresses;
}

bool ListenSocket::PauseAfterFailure(EventLoop& loop) {
    loop_ = &loop;
    const bool newRun = backOffMs_ == 0;
    backOffMs_ = newRun ? kFirstBackOffMs : std::min(backOffMs_ * 2, kLongestBackOffMs);
    if (resumeTimer_ != 0) {
        return newRun;
    }
    for (auto& endpoint : endpoints_) {
        endpoint->socket->PauseReceive(true);
    }
    resumeTimer_ = loop.StartTimer(backOffMs_, false, [this] { Resume(); });
    return newRun;
}

void ListenSocket::Resume() {
    resumeTimer_ = 0;
    for (auto& endpoint : endpoints_) {
        endpoint->socket->PauseReceive(false);
    }
    // A connection still queued is taken now rather than on an event that may not come again.
    for (auto& endpoint : endpoints_) {
        if (paused()) {
            break;
        }
        owner_.AcceptClient(*this, *endpoint->socket);
    }
}

void ListenSocket::Endpoint::OnAccept() {
    listener_.owner_.AcceptClient(listener_, *socket);
}

}  // namespace vantel
