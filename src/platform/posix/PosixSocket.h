// A non-blocking TCP socket on the epoll loop. Included only by the POSIX sources.
#pragma once

#include <cstdint>

#include "platform/AsyncSocket.h"

namespace vantel {

class EpollEventLoop;

class PosixSocket : public AsyncSocket {
  public:
    PosixSocket(EpollEventLoop& loop, SocketEvents& events);
    ~PosixSocket() override;
    PosixSocket(const PosixSocket&) = delete;
    PosixSocket& operator=(const PosixSocket&) = delete;

    bool Listen(const std::string& address, std::uint16_t port, std::string& error) override;
    std::unique_ptr<AsyncSocket> Accept(SocketEvents& events, int& error) override;
    ConnectResult Connect(const SocketAddress& address, int& error) override;
    long Receive(void* buffer, std::size_t size) override;
    long Forward(AsyncSocket& to, std::size_t max) override;
    void PauseReceive(bool paused) override;
    void SetNoDelay() override;
    SocketAddress LocalAddress() const override;

    /// Called by the loop with what epoll reported. May end with this socket destroyed.
    void HandleEvents(std::uint32_t events);

  protected:
    long SendSome(const char* data, std::size_t size, int& error) override;
    void ShutDownNow() override;
    void ResetNow() override;
    bool CanSend() const override { return state_ == State::Connected && fd_ >= 0; }
    void ReportFailureLater(int error) override;

  private:
    enum class State { Idle, Listening, Connecting, Connected, Failed };

    int OpenDescriptor(int family);
    void CloseDescriptor();
    int PendingError();
    /// Sends `size` bytes waiting in `pipe`, the loop's forwarding pipe, and leaves it empty.
    void SendFromPipe(int pipe, std::size_t size);
    /// Receive or Forward met the end of the stream (`n` 0) or a failure: nothing more comes.
    long ReadEnded(long n);
    /// Brings the epoll registration in line with what the owner may be told next.
    bool UpdateInterest();

    EpollEventLoop& loop_;
    std::uint64_t token_;
    int fd_ = -1;
    State state_ = State::Idle;
    bool watched_ = false;
    std::uint32_t watchedEvents_ = 0;
    bool paused_ = false;
    bool readEnded_ = false;      // Receive gave 0 or an error: nothing more will come
    bool closeReported_ = false;  // OnClose was called
    bool sendBlocked_ = false;    // a send came up short: Writable is owed
    bool noDelay_ = false;
    bool inEvent_ = false;        // HandleEvents is under way: registration changes wait
    bool interestStale_ = false;  // ... and one is due at its end
    int lastError_ = 0;
};

}  // namespace vantel
