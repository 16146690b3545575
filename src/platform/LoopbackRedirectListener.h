// Where the browser brings the provider's answer after a sign-in: a small HTTP listener on
// this computer's loopback addresses, for one request.
//
//   LoopbackRedirectListener listener(loop);
//   listener.Start("/", 5 * 60 * 1000, [&](const std::string& target) {
//       ... check code and state in target ("/?code=...&state=...") ...
//       return LoopbackRedirectListener::Reply{LoopbackRedirectListener::Verdict::Answer, ""};
//   }, [&] { ... timed out ... }, error);
//   redirect_uri = "http://127.0.0.1:" + std::to_string(listener.port()) + "/";
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/EventLoop.h"

namespace vantel {

class LoopbackRedirectListener {
  public:
    /// A larger request head is no browser's redirect.
    static constexpr std::size_t kMaxHead = 8 * 1024;
    /// A connection that sends nothing for this long is closed.
    static constexpr std::uint32_t kIdleMs = 10000;
    /// Connections open at once; more are closed at once.
    static constexpr std::size_t kMaxConnections = 16;

    enum class Verdict {
        Answer,        ///< the sign-in's answer: thank the user, stop listening
        Failure,       ///< the sign-in's answer, and it failed: show why, stop listening
        NotTheAnswer,  ///< not for this sign-in (a wrong state): show why, keep waiting
    };
    struct Reply {
        Verdict verdict = Verdict::NotTheAnswer;
        std::string message;  ///< shown on the page (escaped here)
    };
    /// Gets the raw request target of a GET of the expected path ("/?code=...&state=...").
    using OnRequest = std::function<Reply(const std::string& target)>;
    using OnTimeOut = std::function<void()>;

    explicit LoopbackRedirectListener(EventLoop& loop);
    /// Closes everything; no callback runs after it. Not to be destroyed inside a callback.
    ~LoopbackRedirectListener();
    LoopbackRedirectListener(const LoopbackRedirectListener&) = delete;
    LoopbackRedirectListener& operator=(const LoopbackRedirectListener&) = delete;

    /// Listens on 127.0.0.1 and, where the system has IPv6, ::1 on the same ephemeral port,
    /// for GETs of `path` for `deadlineMs`; then `onTimeOut` runs once unless an answer came.
    /// `firstPort` is tried first (0: any); a port taken is replaced by another. False with
    /// `error` when it cannot listen.
    bool Start(const std::string& path, std::uint32_t deadlineMs, OnRequest onRequest,
               OnTimeOut onTimeOut, std::string& error, std::uint16_t firstPort = 0);

    std::uint16_t port() const { return port_; }
    /// Whether ::1 listens too (else only 127.0.0.1).
    bool ipv6() const { return static_cast<bool>(listen6_); }
    /// Whether it still waits for the answer.
    bool waiting() const { return waiting_; }

  private:
    struct Acceptor;
    struct Connection;

    void Accept(AsyncSocket& socket);
    /// Handles a complete request head; the connection's answer is written.
    void Handle(Connection& connection, const std::string& head);
    void Respond(Connection& connection, int status, const std::string& reason,
                 const std::string& title, const std::string& message,
                 const std::string& extraHeaders = "");
    void Drop(std::uint64_t id);
    void StartIdle(Connection& connection);
    /// Stops listening and the deadline; answered connections finish on their own.
    void StopListening();

    EventLoop& loop_;
    std::string path_;
    OnRequest onRequest_;
    OnTimeOut onTimeOut_;
    std::unique_ptr<Acceptor> acceptor4_;
    std::unique_ptr<Acceptor> acceptor6_;
    std::unique_ptr<AsyncSocket> listen4_;
    std::unique_ptr<AsyncSocket> listen6_;
    std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
    std::uint64_t nextId_ = 1;
    std::uint16_t port_ = 0;
    TimerId deadline_ = 0;
    bool waiting_ = false;
    std::shared_ptr<bool> alive_;
};

}  // namespace vantel
