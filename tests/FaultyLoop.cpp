#include "FaultyLoop.h"

namespace vantel::test {

/// Passes everything to a real socket; what is written goes to the real socket's own queue.
class FaultyLoop::Socket : public AsyncSocket {
  public:
    Socket(FaultyLoop& loop, SocketEvents& events, std::unique_ptr<AsyncSocket> real)
        : AsyncSocket(events), loop_(loop), real_(std::move(real)) {}
    bool Listen(const std::string& address, std::uint16_t port, std::string& error) override {
        return real_->Listen(address, port, error);
    }
    std::unique_ptr<AsyncSocket> Accept(SocketEvents& events, int& error) override {
        ++loop_.acceptCalls;
        if (loop_.failingAccepts > 0) {
            --loop_.failingAccepts;
            error = kOutOfDescriptors;
            return nullptr;
        }
        auto accepted = real_->Accept(events, error);
        if (loop_.failNextAccept) {
            loop_.failNextAccept = false;
            return nullptr;  // dropped with `accepted`, as a connection reset before it was taken
        }
        return accepted;
    }
    ConnectResult Connect(const SocketAddress& address, int& error) override {
        return real_->Connect(address, error);
    }
    long Receive(void* buffer, std::size_t size) override { return real_->Receive(buffer, size); }
    void PauseReceive(bool paused) override { real_->PauseReceive(paused); }
    void SetNoDelay() override { real_->SetNoDelay(); }
    SocketAddress LocalAddress() const override { return real_->LocalAddress(); }
    bool Truncated() const override { return real_->Truncated(); }

  protected:
    long SendSome(const char* data, std::size_t size, int&) override {
        real_->Write(std::string_view(data, size));
        return static_cast<long>(size);
    }
    void ShutDownNow() override { real_->ShutDownSend(); }
    void ResetNow() override { real_->Reset(); }
    bool CanSend() const override { return true; }
    void ReportFailureLater(int) override {}

  private:
    FaultyLoop& loop_;
    std::unique_ptr<AsyncSocket> real_;
};

std::unique_ptr<AsyncSocket> FaultyLoop::CreateSocket(SocketEvents& events) {
    if (failingCreates > 0) {
        --failingCreates;
        return nullptr;
    }
    auto real = real_.CreateSocket(events);
    if (!real || !wrapSockets) {
        return real;
    }
    return std::make_unique<Socket>(*this, events, std::move(real));
}

void FaultyLoop::Resolve(const std::string& host, std::uint16_t port, ResolveCallback done) {
    if (resolveDelayMs == 0) {
        real_.Resolve(host, port, std::move(done));
        return;
    }
    real_.StartTimer(resolveDelayMs, false, [this, host, port, done = std::move(done)] {
        real_.Resolve(host, port, done);
    });
}

}  // namespace vantel::test
