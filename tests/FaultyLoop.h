// An event loop that can make accepts fail, as a system out of descriptors would, and name
// lookups slow, as a distant name server would.
#pragma once

#include <memory>

#include "platform/EventLoop.h"

namespace vantel::test {

class FaultyLoop : public EventLoop {
  public:
    explicit FaultyLoop(EventLoop& real) : real_(real) {}

    /// The next Accept on any socket takes the waiting connection and drops it, as if the
    /// client had reset it first.
    bool failNextAccept = false;
    /// So many Accepts fail with kOutOfDescriptors and leave the connection waiting.
    int failingAccepts = 0;
    /// Accept calls made, failed ones included.
    int acceptCalls = 0;
    /// Sockets created while this is false are the real ones: accepts cannot be made to fail.
    bool wrapSockets = true;
    /// Lookups answer this much later.
    std::uint32_t resolveDelayMs = 0;
    /// So many CreateSockets fail, as a system out of descriptors would.
    int failingCreates = 0;
    static constexpr int kOutOfDescriptors = 24;

    std::uint64_t NowMs() override { return real_.NowMs(); }
    std::unique_ptr<AsyncSocket> CreateSocket(SocketEvents& events) override;
    TimerId StartTimer(std::uint32_t delayMs, bool periodic,
                       std::function<void()> callback) override {
        return real_.StartTimer(delayMs, periodic, std::move(callback));
    }
    void StopTimer(TimerId id) override { real_.StopTimer(id); }
    void Post(std::function<void()> work) override { real_.Post(std::move(work)); }
    void Resolve(const std::string& host, std::uint16_t port, ResolveCallback done) override;
    std::string DescribeError(int code) const override { return real_.DescribeError(code); }
    void Run() override { real_.Run(); }
    void Quit() override { real_.Quit(); }

  private:
    class Socket;
    EventLoop& real_;
};

}  // namespace vantel::test
