// One TCP connection of vantel-load, client or server end, on the event loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/EventLoop.h"

namespace vantel::load {

/// A connection whose socket queues what is sent. Subclasses get what arrives through Received and
/// learn once, through Ended, that the connection is over. Neither may destroy the object: owners
/// destroy conversations from work posted to the loop.
class Conversation : public SocketEvents {
  public:
    explicit Conversation(EventLoop& loop) : loop_(loop) {}
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    /// Connects to 127.0.0.1:`port`; false when that failed at once (Ended does not follow).
    bool Connect(std::uint16_t port);
    /// Takes over a connection a listener accepted with this object as its events.
    void Adopt(std::unique_ptr<AsyncSocket> socket);

    /// Queues `text` (copied) and sends what the connection takes now.
    void Send(std::string_view text);
    /// Queues a block that may be large and shared by several connections, without copying it.
    void SendShared(std::shared_ptr<const std::string> block);
    /// Closes once the queue is sent; Ended(false) follows.
    void CloseWhenSent();
    /// Closes now without Ended.
    void Abandon();

    bool open() const { return socket_ != nullptr; }

    void OnConnect(int error) override;
    void OnReceive() override;
    void OnSent(std::size_t backlog) override;
    void OnClose(int error) override;

  protected:
    virtual void Received(std::string_view data) = 0;
    /// The connection is over: the peer closed it (`failed` false), it broke, or the connect
    /// failed (`failed` true).
    virtual void Ended(bool failed) = 0;

    EventLoop& loop_;

  private:
    /// Reads one buffer; false when nothing came (the connection may be over then).
    bool ReadOnce();
    void Finish(bool failed);

    std::unique_ptr<AsyncSocket> socket_;
    bool closeWhenSent_ = false;
};

}  // namespace vantel::load
