// The Windows event loop: socket events (WSAAsyncSelect), timers and posted work all arrive
// as messages to one message-only window, so they keep flowing while a dialog runs its own
// message loop. Included only by the Windows sources.
#pragma once

#include <windows.h>
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "platform/EventLoop.h"
#include "platform/LookupPool.h"
#include "platform/PostQueue.h"
#include "platform/win32/AddressConversion.h"

namespace vantel {

class Win32Socket;

class Win32EventLoop : public EventLoop {
  public:
    Win32EventLoop();
    ~Win32EventLoop() override;
    Win32EventLoop(const Win32EventLoop&) = delete;
    Win32EventLoop& operator=(const Win32EventLoop&) = delete;

    /// False when the window could not be made.
    bool ok() const { return window_ != nullptr; }

    std::uint64_t NowMs() override;
    std::unique_ptr<AsyncSocket> CreateSocket(SocketEvents& events) override;
    TimerId StartTimer(std::uint32_t delayMs, bool periodic,
                       std::function<void()> callback) override;
    void StopTimer(TimerId id) override;
    void Post(std::function<void()> work) override;
    void Resolve(const std::string& host, std::uint16_t port, ResolveCallback done) override;
    std::string DescribeError(int code) const override;
    void Run() override;
    void Quit() override;

    /// For Win32Socket: routes the messages for `handle` to `socket`. Returns the message
    /// number the socket is to select with and a serial that names this attachment alone.
    UINT Attach(SOCKET handle, Win32Socket* socket, std::uint64_t& serial);
    void Detach(SOCKET handle);
    /// Whether the attachment named by `serial` is still in place.
    bool IsAttached(SOCKET handle, std::uint64_t serial) const;
    HWND window() const { return window_; }

  private:
    struct Timer {
        std::shared_ptr<std::function<void()>> callback;
        bool periodic = false;
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void RunPosted();
    void FireTimer(TimerId id);

    std::string className_;
    HWND window_ = nullptr;
    std::shared_ptr<PostQueue> posts_;
    LookupPool lookups_{&LookUpHost};
    std::deque<std::function<void()>> pending_;  // taken from posts_, not yet run
    std::atomic<bool> quit_{false};

    std::unordered_map<SOCKET, Win32Socket*> sockets_;
    UINT nextMessage_;
    std::uint64_t nextSerial_ = 1;

    std::unordered_map<TimerId, Timer> timers_;
    TimerId nextTimer_ = 1;
};

}  // namespace vantel
