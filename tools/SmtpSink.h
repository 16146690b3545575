// A minimal SMTP server that accepts every message and hands it over whole.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/EventLoop.h"

namespace vantel {

class SmtpSink : public SocketEvents {
  public:
    /// Called with the text of each message received (dot-stuffing undone, without the
    /// final dot line).
    using MessageHandler = std::function<void(const std::string& message)>;

    SmtpSink(EventLoop& loop, MessageHandler onMessage);
    ~SmtpSink() override;
    /// Listens on 127.0.0.1:`port`; false with `error` set when it cannot.
    bool Listen(std::uint16_t port, std::string& error);
    void OnAccept() override;

  private:
    class Session;
    void Finished(Session* session);

    EventLoop& loop_;
    MessageHandler onMessage_;
    std::unique_ptr<AsyncSocket> listener_;
    std::map<Session*, std::unique_ptr<Session>> sessions_;
};

}  // namespace vantel
