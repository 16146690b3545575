#include "LoopbackPeer.h"

#include <gtest/gtest.h>

#include "LoopRunner.h"

namespace vantel::test {

bool LoopbackPeer::Connect(std::uint16_t port, bool ipv6) {
    socket_ = loop_.CreateSocket(*this);
    SocketAddress address;
    if (ipv6) {
        address.family = SocketAddress::Family::IPv6;
        address.bytes[15] = 1;
    } else {
        address.bytes[0] = 127;
        address.bytes[3] = 1;
    }
    address.port = port;
    int error = 0;
    switch (socket_->Connect(address, error)) {
        case ConnectResult::Connected:
            connected = true;
            return true;
        case ConnectResult::InProgress:
            return true;
        case ConnectResult::Failed:
        case ConnectResult::NoSocket:
            connectError = error;
            return false;
    }
    return false;
}

void LoopbackPeer::OnConnect(int error) {
    connectError = error;
    connected = error == 0;
}

void LoopbackPeer::Send(std::string_view data) {
    if (socket_) {
        socket_->Write(data);
    }
}

void LoopbackPeer::ReadSlowly(std::size_t bytes, std::uint32_t delayMs) {
    readLimit_ = bytes;
    readDelayMs_ = delayMs;
}

void LoopbackPeer::OnReceive() {
    if (!socket_ || waiting_) {
        return;
    }
    std::string buffer(readLimit_, '\0');
    const long n = socket_->Receive(buffer.data(), buffer.size());
    if (n > 0) {
        received.append(buffer.data(), static_cast<std::size_t>(n));
        if (onData) {
            onData(*this);
        }
        if (readDelayMs_ > 0 && socket_) {
            waiting_ = true;
            socket_->PauseReceive(true);
            loop_.StartTimer(readDelayMs_, false, [this] {
                waiting_ = false;
                if (socket_)
                    socket_->PauseReceive(false);
            });
        }
    } else if (n == 0) {
        Ended();
    } else if (n == AsyncSocket::kError) {
        broken = true;
    }
}

void LoopbackPeer::Ended() {
    if (closed) {
        return;
    }
    closed = true;
    if (onEnd) {
        onEnd(*this);
    }
}

void LoopbackPeer::OnClose(int error) {
    // Read what is left, then note the end.
    broken = broken || error != 0;
    const std::size_t limit = readLimit_;
    readLimit_ = 1 << 16;
    while (socket_) {
        std::string buffer(readLimit_, '\0');
        const long n = socket_->Receive(buffer.data(), buffer.size());
        broken = broken || n == AsyncSocket::kError;
        if (n <= 0) {
            break;
        }
        received.append(buffer.data(), static_cast<std::size_t>(n));
    }
    readLimit_ = limit;
    Ended();
}

LoopbackServer::LoopbackServer(EventLoop& loop, const std::string& address) : loop_(loop) {
    socket_ = loop_.CreateSocket(*this);
    std::string error;
    if (socket_->Listen(address, 0, error)) {
        port_ = socket_->LocalAddress().port;
    } else {
        EXPECT_NE(address, "127.0.0.1") << error;
    }
}

void LoopbackServer::OnAccept() {
    auto peer = std::make_unique<LoopbackPeer>(loop_);
    int error = 0;
    std::unique_ptr<AsyncSocket> accepted = socket_->Accept(*peer, error);
    if (!accepted) {
        return;
    }
    peer->Adopt(std::move(accepted));
    peer->connected = true;
    LoopbackPeer& ref = *peer;
    connections.push_back(std::move(peer));
    if (onConnection) {
        onConnection(ref);
    }
}

std::uint16_t FreePort(EventLoop& loop) {
    LoopbackServer probe(loop);
    return probe.port();
}

bool Accepts(EventLoop& loop, std::uint16_t port) {
    LoopbackPeer probe(loop);
    if (!probe.Connect(port)) {
        return false;
    }
    RunUntil(
        loop, [&] { return probe.connected || probe.closed || probe.connectError != 0; }, 5000);
    return probe.connected && probe.connectError == 0;
}

}  // namespace vantel::test
