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
            connected_ = true;
            socket_->SetNoDelay();
            Drain();
            return true;
        case ConnectResult::InProgress:
            socket_->SetNoDelay();
            return true;
        case ConnectResult::Failed:
            break;
    }
    socket_.reset();
    return false;
}

void Conversation::Adopt(std::unique_ptr<AsyncSocket> socket) {
    socket_ = std::move(socket);
    connected_ = socket_ != nullptr;
    if (socket_) {
        socket_->SetNoDelay();
    }
}

void Conversation::Send(std::string_view text) {
    SendShared(std::make_shared<const std::string>(text));
}

void Conversation::SendShared(std::shared_ptr<const std::string> block) {
    if (!socket_ || block->empty()) {
        return;
    }
    queue_.push_back(std::move(block));
    if (queue_.size() == 1) {
        Drain();
    }
}

void Conversation::CloseWhenSent() {
    closeWhenSent_ = true;
    Drain();
}

void Conversation::Abandon() {
    socket_.reset();
    queue_.clear();
    sentOfFront_ = 0;
}

void Conversation::OnConnect(int error) {
    if (error != 0) {
        Finish(true);
        return;
    }
    connected_ = true;
    Drain();
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

void Conversation::Drain() {
    if (!socket_ || !connected_) {
        return;
    }
    while (!queue_.empty()) {
        const std::string& front = *queue_.front();
        const long r = socket_->Send(front.data() + sentOfFront_, front.size() - sentOfFront_);
        if (r == AsyncSocket::kWouldBlock) {
            return;  // OnSend comes when there is room
        }
        if (r <= 0) {
            Finish(true);  // broken; taking nothing at all would also loop here for ever
            return;
        }
        sentOfFront_ += static_cast<std::size_t>(r);
        if (sentOfFront_ == front.size()) {
            queue_.pop_front();
            sentOfFront_ = 0;
        }
    }
    if (closeWhenSent_) {
        Finish(false);
    }
}

void Conversation::Finish(bool failed) {
    if (!socket_) {
        return;
    }
    Abandon();
    Ended(failed);
}

}  // namespace vantel::load
