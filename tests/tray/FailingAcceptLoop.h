// An event loop whose listening sockets can be made to fail their next accept, as a system
// out of descriptors would.
#pragma once

#include <memory>

#include "platform/EventLoop.h"

namespace vantel::test {

class FailingAcceptLoop : public EventLoop {
  public:
    explicit FailingAcceptLoop(EventLoop& real) : real_(real) {}

    /// The next Accept on any socket takes the waiting connection, drops it and fails.
    bool failNextAccept = false;

    std::uint64_t NowMs() override { return real_.NowMs(); }
    std::unique_ptr<AsyncSocket> CreateSocket(SocketEvents& events) override;
    TimerId StartTimer(std::uint32_t delayMs, bool periodic,
                       std::function<void()> callback) override {
        return real_.StartTimer(delayMs, periodic, std::move(callback));
    }
    void StopTimer(TimerId id) override { real_.StopTimer(id); }
    void Post(std::function<void()> work) override { real_.Post(std::move(work)); }
    void Resolve(const std::string& host, std::uint16_t port, ResolveCallback done) override {
        real_.Resolve(host, port, std::move(done));
    }
    void Run() override { real_.Run(); }
    void Quit() override { real_.Quit(); }

  private:
    class Socket;
    EventLoop& real_;
};

}  // namespace vantel::test
