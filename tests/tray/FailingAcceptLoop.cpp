#include "tray/FailingAcceptLoop.h"

namespace vantel::test {

class FailingAcceptLoop::Socket : public AsyncSocket {
  public:
    Socket(FailingAcceptLoop& loop, std::unique_ptr<AsyncSocket> real)
        : loop_(loop), real_(std::move(real)) {}
    bool Listen(const std::string& address, std::uint16_t port, std::string& error) override {
        return real_->Listen(address, port, error);
    }
    std::unique_ptr<AsyncSocket> Accept(SocketEvents& events) override {
        auto accepted = real_->Accept(events);
        if (loop_.failNextAccept) {
            loop_.failNextAccept = false;
            return nullptr;  // the connection is dropped with `accepted`
        }
        return accepted;
    }
    ConnectResult Connect(const SocketAddress& address, int& error) override {
        return real_->Connect(address, error);
    }
    long Receive(void* buffer, std::size_t size) override { return real_->Receive(buffer, size); }
    long Send(const void* buffer, std::size_t size) override { return real_->Send(buffer, size); }
    void ShutDownSend() override { real_->ShutDownSend(); }
    void PauseReceive(bool paused) override { real_->PauseReceive(paused); }
    void SetNoDelay() override { real_->SetNoDelay(); }
    SocketAddress LocalAddress() const override { return real_->LocalAddress(); }

  private:
    FailingAcceptLoop& loop_;
    std::unique_ptr<AsyncSocket> real_;
};

std::unique_ptr<AsyncSocket> FailingAcceptLoop::CreateSocket(SocketEvents& events) {
    auto real = real_.CreateSocket(events);
    if (!real) {
        return nullptr;
    }
    return std::make_unique<Socket>(*this, std::move(real));
}

}  // namespace vantel::test
