// The fake mail servers vantel-load measures against: they answer at once and keep nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "LoadConnection.h"
#include "LoadText.h"

namespace vantel::load {

/// Listens on 127.0.0.1 and runs a session for every connection.
class FakeServer : public SocketEvents {
  public:
    explicit FakeServer(EventLoop& loop) : loop_(loop) {}
    ~FakeServer() override;
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    /// Listens on `port` (0: any free port); false with `error` set when it cannot.
    bool Listen(std::uint16_t port, std::string& error);
    std::uint16_t port() const;
    void OnAccept() override;

    long sessions() const { return sessions_; }
    /// Messages taken (SMTP) or handed out (POP3).
    long messages() const { return messages_; }
    std::size_t openSessions() const { return open_.size(); }
    /// The most sessions that were open at the same time.
    std::size_t peakOpenSessions() const { return peakOpen_; }

  protected:
    class Session : public Conversation {
      public:
        explicit Session(FakeServer& server) : Conversation(server.loop_), server_(server) {}
        /// Says the greeting.
        virtual void Start() = 0;

      protected:
        void Ended(bool) override { server_.Finished(this); }
        void CountMessage() { ++server_.messages_; }
        FakeServer& server_;
    };

    virtual std::unique_ptr<Session> NewSession() = 0;

    EventLoop& loop_;

  private:
    void Finished(Session* session);

    std::unique_ptr<AsyncSocket> listener_;
    std::map<Session*, std::unique_ptr<Session>> open_;
    long sessions_ = 0;
    long messages_ = 0;
    std::size_t peakOpen_ = 0;
    /// Lets posted clean-ups find out that the server has gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

/// SMTP that takes every command and every message, replying 250 after the final dot.
class FakeSmtpServer : public FakeServer {
  public:
    using FakeServer::FakeServer;

  private:
    class SmtpSession;
    std::unique_ptr<Session> NewSession() override;
};

/// POP3 with one message of a given size in every mailbox, whatever the login.
class FakePop3Server : public FakeServer {
  public:
    /// The message is `messageBytes` long (see MakeMessageOfSize) before stuffing.
    FakePop3Server(EventLoop& loop, std::size_t messageBytes);

  private:
    class Pop3Session;
    std::unique_ptr<Session> NewSession() override;

    std::size_t messageBytes_;
    /// The whole reply to RETR, shared by every session that sends it.
    std::shared_ptr<const std::string> retrReply_;
};

}  // namespace vantel::load
