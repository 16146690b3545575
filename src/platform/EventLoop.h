// The one event thread: socket events, timers, and work handed over from other threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/AsyncSocket.h"
#include "platform/SocketAddress.h"

namespace vantel {

using TimerId = std::uint64_t;

class EventLoop {
  public:
    virtual ~EventLoop() = default;

    /// Milliseconds from a monotonic 64-bit clock: never wraps, never jumps with the wall clock.
    virtual std::uint64_t NowMs() = 0;

    /// A new, unconnected stream socket reporting to `events`; nullptr when the system refuses.
    virtual std::unique_ptr<AsyncSocket> CreateSocket(SocketEvents& events) = 0;

    /// Calls `callback` on the loop after `delayMs`, and then every `delayMs` when `periodic`.
    virtual TimerId StartTimer(std::uint32_t delayMs, bool periodic,
                               std::function<void()> callback) = 0;
    /// Stops a timer; unknown or finished ids are ignored.
    virtual void StopTimer(TimerId id) = 0;

    /// Runs `work` on the loop's thread; callable from any thread.
    virtual void Post(std::function<void()> work) = 0;

    /// Looks `host` up off the loop's thread and delivers the addresses (empty with `error`
    /// set when the name cannot be resolved) on the loop's thread, so a slow name server
    /// holds up no other connection. `done` runs even if whoever asked is gone by then:
    /// capture identifiers, not pointers. It never runs after the loop is destroyed.
    using ResolveCallback =
        std::function<void(std::vector<SocketAddress> addresses, std::string error)>;
    virtual void Resolve(const std::string& host, std::uint16_t port, ResolveCallback done) = 0;

    /// A socket error code of this system in words a user can act on ("connection refused").
    virtual std::string DescribeError(int code) const = 0;

    /// Dispatches events until Quit. The Windows loop also dispatches window messages, so
    /// dialogs and the tray keep working.
    virtual void Run() = 0;
    /// Makes Run return after the event being handled; callable from any thread.
    virtual void Quit() = 0;
};

/// The event loop of this platform: epoll on Linux, WSAAsyncSelect to a message-only window
/// on Windows (the socket layer must be started first there).
std::unique_ptr<EventLoop> CreateEventLoop();

}  // namespace vantel
