// A non-blocking TCP socket whose events come as window messages (WSAAsyncSelect). Included
// only by the Windows sources.
#pragma once

#include <winsock2.h>

#include <cstdint>

#include "platform/AsyncSocket.h"

namespace vantel {

class Win32EventLoop;

class Win32Socket : public AsyncSocket {
  public:
    Win32Socket(Win32EventLoop& loop, SocketEvents& events);
    ~Win32Socket() override;
    Win32Socket(const Win32Socket&) = delete;
    Win32Socket& operator=(const Win32Socket&) = delete;

    bool Listen(const std::string& address, std::uint16_t port, std::string& error) override;
    std::unique_ptr<AsyncSocket> Accept(SocketEvents& events, int& error) override;
    ConnectResult Connect(const SocketAddress& address, int& error) override;
    long Receive(void* buffer, std::size_t size) override;
    void PauseReceive(bool paused) override;
    void SetNoDelay() override;
    SocketAddress LocalAddress() const override;

    /// The message this socket's events arrive with, and the serial of its attachment.
    UINT message() const { return message_; }
    std::uint64_t serial() const { return serial_; }
    /// Called by the loop with one network event. May end with this socket destroyed.
    void HandleEvent(int event, int error);

  protected:
    long SendSome(const char* data, std::size_t size, int& error) override;
    void ShutDownNow() override;
    void ResetNow() override;
    bool CanSend() const override {
        return state_ == State::Connected && socket_ != INVALID_SOCKET;
    }
    void ReportFailureLater(int error) override;

  private:
    enum class State { Idle, Listening, Connecting, Connected, Failed };

    int OpenHandle(int family);
    void Adopt(SOCKET handle);
    void CloseSocket();
    bool Select();
    unsigned long BytesWaiting() const;
    void PostReadIfWaiting();

    Win32EventLoop& loop_;
    SOCKET socket_ = INVALID_SOCKET;
    UINT message_ = 0;
    std::uint64_t serial_ = 0;
    State state_ = State::Idle;
    bool paused_ = false;
    bool readEnded_ = false;      // Receive gave 0 or an error: nothing more will come
    bool closeReported_ = false;  // OnClose was called
    bool sendBlocked_ = false;    // a send came up short: Writable is owed
    bool noDelay_ = false;
};

}  // namespace vantel
