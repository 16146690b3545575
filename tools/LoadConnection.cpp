#include "LoadConnection.h"

#include <vector>

namespace vantel::load {
namespace {

/// One receive buffer for every connection: the tool runs on one thread, and 500 connections
/// with a buffer each would swell its own memory use next to the relay's.
std::vector<char>& ReceiveBuffer() {
    static std::vector<char> buffer(64 * 1024);
    return buffer;
}

}  // namespace

bool Conversation::Connect(std::uint16_t port) {
    socket_ = loop_.CreateSocket(*this);
    if (!socket_) {
        return false;
    }
    SocketAddress address;
    address.bytes[0] = 127;
    address.bytes[3] = 1;
    address.port = port;
    int error = 0;
    switch (socket_->Connect(address, error)) {
        case ConnectResult::Connected:
            socket_->SetNoDelay();
            return true;
        case ConnectResult::InProgress:
            socket_->SetNoDelay();
            return true;
        case ConnectResult::Failed:
        case ConnectResult::NoSocket:
            break;
    }
    socket_.reset();
    return false;
}

void Conversation::Adopt(std::unique_ptr<AsyncSocket> socket) {
    socket_ = std::move(socket);
    if (socket_) {
        socket_->SetNoDelay();
    }
}

void Conversation::Send(std::string_view text) {
    if (socket_) {
        socket_->Write(text);
    }
}

void Conversation::SendShared(std::shared_ptr<const std::string> block) {
    if (socket_) {
        socket_->Write(std::move(block));
    }
}

void Conversation::CloseWhenSent() {
    closeWhenSent_ = true;
    if (socket_ && socket_->Backlog() == 0) {
        Finish(false);
    }
}

void Conversation::Abandon() {
    socket_.reset();
}

void Conversation::OnConnect(int error) {
    if (error != 0) {
        Finish(true);
    }
}

void Conversation::OnSent(std::size_t backlog) {
    if (closeWhenSent_ && backlog == 0) {
        Finish(false);
    }
}

void Conversation::OnReceive() {
    ReadOnce();
}

void Conversation::OnClose(int error) {
    // What the peer sent before it closed is still to be read; only that much can come.
    for (int reads = 0; reads < 1024 && ReadOnce(); ++reads) {
    }
    Finish(error != 0);
}

bool Conversation::ReadOnce() {
    if (!socket_) {
        return false;
    }
    std::vector<char>& buffer = ReceiveBuffer();
    const long n = socket_->Receive(buffer.data(), buffer.size());
    if (n == 0 || n == AsyncSocket::kError) {
        Finish(n != 0);
        return false;
    }
    if (n == AsyncSocket::kWouldBlock) {
        return false;
    }
    Received(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    return true;
}

void Conversation::Finish(bool failed) {
    if (!socket_) {
        return;
    }
    Abandon();
    Ended(failed);
}

}  // namespace vantel::load
