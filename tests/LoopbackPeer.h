// A test's end of a TCP connection on the shared event loop: a client of the relay or a
// small server behind it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/EventLoop.h"

namespace vantel::test {

/// One connection: collects what arrives, sends what it is given, and can read slowly to
/// exercise back-pressure.
class LoopbackPeer : public SocketEvents {
  public:
    explicit LoopbackPeer(EventLoop& loop) : loop_(loop) {}

    /// Connects to 127.0.0.1, or to ::1 with `ipv6`.
    bool Connect(std::uint16_t port, bool ipv6 = false);
    void Adopt(std::unique_ptr<AsyncSocket> socket) { socket_ = std::move(socket); }
    void Send(std::string_view data);
    void Close() { socket_.reset(); }
    /// Ends the connection with a reset once what was sent is out, and lets it go.
    void Reset() {
        if (socket_)
            socket_->Reset();
        socket_.reset();
    }
    /// Small writes go out at once instead of waiting for the previous one's ACK.
    void SetNoDelay() {
        if (socket_)
            socket_->SetNoDelay();
    }
    void ShutDownSend() {
        if (socket_)
            socket_->ShutDownSend();
    }
    /// Reads at most `bytes` per receive event, and pauses between reads by `delayMs`.
    void ReadSlowly(std::size_t bytes, std::uint32_t delayMs);

    void OnConnect(int error) override;
    void OnReceive() override;
    void OnClose(int error) override;

    std::string received;
    bool connected = false;
    bool closed = false;
    /// The connection ended by a failure (a reset), not by the end of the other's stream.
    bool broken = false;
    int connectError = 0;
    /// Called after each piece of data arrives.
    std::function<void(LoopbackPeer&)> onData;
    /// Called once the other end has ended its stream and everything before it was read.
    std::function<void(LoopbackPeer&)> onEnd;

  private:
    void Ended();

    EventLoop& loop_;
    std::unique_ptr<AsyncSocket> socket_;
    std::size_t readLimit_ = 1 << 16;
    std::uint32_t readDelayMs_ = 0;
    bool waiting_ = false;
};

/// A listening test server; every accepted connection becomes a LoopbackPeer.
class LoopbackServer : public SocketEvents {
  public:
    /// Listens on `address`; one other than 127.0.0.1 may be missing here (see listening).
    explicit LoopbackServer(EventLoop& loop, const std::string& address = "127.0.0.1");
    std::uint16_t port() const { return port_; }
    bool listening() const { return port_ != 0; }
    void OnAccept() override;

    std::vector<std::unique_ptr<LoopbackPeer>> connections;
    /// Runs for each new connection (say a greeting, set up replies).
    std::function<void(LoopbackPeer&)> onConnection;

  private:
    void Ended();

    EventLoop& loop_;
    std::unique_ptr<AsyncSocket> socket_;
    std::uint16_t port_ = 0;
};

/// A port that was free a moment ago.
std::uint16_t FreePort(EventLoop& loop);

/// Whether something on 127.0.0.1 accepts a connection to `port` (within 5 s).
bool Accepts(EventLoop& loop, std::uint16_t port);

}  // namespace vantel::test
