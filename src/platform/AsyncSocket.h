// A non-blocking stream socket whose events arrive on the event loop's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/SocketAddress.h"

namespace vantel {

/// What a socket tells its owner. Every call comes from the event loop, never from inside a
/// call the owner made on the socket, so an owner may destroy the socket in any of them.
class SocketEvents {
  public:
    virtual ~SocketEvents() = default;
    /// A listening socket has a connection to Accept.
    virtual void OnAccept() {}
    /// A Connect finished: `error` 0 on success, else the system's error code.
    virtual void OnConnect(int error) { (void)error; }
    /// Data (or the peer's end of stream) can be read; repeats while any remains unread and
    /// reading is not paused.
    virtual void OnReceive() {}
    /// Space for sending opened up again after a Send took less than it was given.
    virtual void OnSend() {}
    /// The peer ended its stream or the connection failed (`error` nonzero). Data may still
    /// be waiting: read it with Receive until it gives 0, kWouldBlock or kError. Comes once.
    virtual void OnClose(int error) { (void)error; }
};

enum class ConnectResult { Connected, InProgress, Failed };

class AsyncSocket {
  public:
    /// Receive and Send results other than a byte count.
    static constexpr long kWouldBlock = -1;
    static constexpr long kError = -2;

    virtual ~AsyncSocket() = default;  ///< closes the socket

    /// Binds to `address` ("" or "127.0.0.1" for loopback, "*" for every interface, or one
    /// literal address) and `port`, and listens with the system's largest backlog. On failure
    /// returns false and `error` says why.
    virtual bool Listen(const std::string& address, std::uint16_t port, std::string& error) = 0;
    /// Takes one waiting connection, or nullptr when none is waiting or accepting failed.
    virtual std::unique_ptr<AsyncSocket> Accept(SocketEvents& events) = 0;
    /// Starts connecting; OnConnect follows only for InProgress.
    virtual ConnectResult Connect(const SocketAddress& address, int& error) = 0;
    /// Bytes read (0 = the peer ended its stream), kWouldBlock or kError.
    virtual long Receive(void* buffer, std::size_t size) = 0;
    /// Bytes taken (possibly fewer than given), kWouldBlock or kError.
    virtual long Send(const void* buffer, std::size_t size) = 0;
    /// Ends our direction of the stream; the peer reads end of stream after the data sent.
    virtual void ShutDownSend() = 0;
    /// Stops (or resumes) OnReceive, so a slow peer can hold back a fast one.
    virtual void PauseReceive(bool paused) = 0;
    /// Sends small writes at once instead of waiting to coalesce them.
    virtual void SetNoDelay() = 0;
    /// The local end, after Listen (useful when port 0 was asked for).
    virtual SocketAddress LocalAddress() const = 0;
};

}  // namespace vantel
