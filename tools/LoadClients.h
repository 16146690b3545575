// The measuring clients of vantel-load. Each scenario runs on the event loop and reports one
// Outcome when it is over, at the latest when its time is up.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LoadConnection.h"
#include "LoadText.h"

namespace vantel::load {

struct Outcome {
    bool ok = false;
    std::string error;   ///< why it failed
    double seconds = 0;  ///< the span measured
    double amount = 0;   ///< bytes, sessions or messages in that span
    double bytes = 0;    ///< message bytes moved in that span
    long succeeded = 0;  ///< sessions or messages that went through
    long failed = 0;     ///< sessions that did not
};

class Scenario {
  public:
    using DoneHandler = std::function<void(const Outcome&)>;

    Scenario(EventLoop& loop, std::uint32_t timeoutMs, DoneHandler done)
        : loop_(loop), timeoutMs_(timeoutMs), done_(std::move(done)) {}
    virtual ~Scenario();
    Scenario(const Scenario&) = delete;
    Scenario& operator=(const Scenario&) = delete;

    /// Begins; the outcome comes from the loop, or at once when it cannot start.
    void Start();

  protected:
    virtual void Begin() = 0;
    /// What is known when time runs out; by default a failure.
    virtual Outcome TimedOut();
    /// Reports `outcome`, the first time only.
    void Report(Outcome outcome);
    Outcome Failure(std::string error) const;
    bool reported() const { return reported_; }
    /// Runs `work` from the loop soon, unless the scenario is gone by then.
    void Later(std::function<void()> work);
    std::uint32_t timeoutMs() const { return timeoutMs_; }

    using Clock = std::chrono::steady_clock;
    static double Seconds(Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double>(to - from).count();
    }

    EventLoop& loop_;

  private:
    std::uint32_t timeoutMs_;
    DoneHandler done_;
    TimerId timer_ = 0;
    bool reported_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

/// A client end that reads SMTP replies; multi-line replies arrive as their last line.
class SmtpConversation : public Conversation {
  public:
    using Conversation::Conversation;

  protected:
    void Received(std::string_view data) override;
    /// `code` is -1 for a line that is not a reply.
    virtual void Reply(int code, const std::string& line) = 0;

  private:
    LineBuffer lines_;
};

/// One SMTP session sending `count` messages, each waiting for the reply to every command.
/// `amount` is the bytes of all messages as sent; `seconds` is the time from each DATA to the
/// 250 after its final dot when `dataTimeOnly`, else from the first MAIL to the last 250.
class SmtpMailer final : public SmtpConversation, public Scenario {
  public:
    /// The text sent after DATA for message `serial` (0-based), final dot included.
    using MessageSource = std::function<std::shared_ptr<const std::string>(long serial)>;

    SmtpMailer(EventLoop& loop, std::uint16_t port, long count, MessageSource source,
               bool dataTimeOnly, std::uint32_t timeoutMs, DoneHandler done);
    /// Sends no new message once `seconds` have passed since the first: a slow path is then
    /// measured on the messages sent so far (`succeeded` tells how many).
    void StopAfter(double seconds) { stopAfterSeconds_ = seconds; }

  private:
    enum class Step { Greeting, Ehlo, Mail, Rcpt, Data, Dot, Quit };

    void Begin() override;
    void Reply(int code, const std::string& line) override;
    void Ended(bool failed) override;
    Outcome TimedOut() override;
    void NextMessage();
    void Fail(const std::string& why);

    std::uint16_t port_;
    long count_;
    MessageSource source_;
    bool dataTimeOnly_;
    double stopAfterSeconds_ = 0;
    Step step_ = Step::Greeting;
    long sent_ = 0;
    double bytes_ = 0;
    double dataSeconds_ = 0;
    Clock::time_point firstMail_;
    Clock::time_point dataStart_;
    Clock::time_point lastAccepted_;
};

/// One POP3 session retrieving message 1: `amount` is the bytes of the RETR reply, `seconds`
/// the time from sending RETR to its final dot.
class Pop3Retriever final : public Conversation, public Scenario {
  public:
    Pop3Retriever(EventLoop& loop, std::uint16_t port, std::uint32_t timeoutMs, DoneHandler done);

  private:
    enum class Step { Greeting, User, Pass, Retr, Quit };

    void Begin() override;
    void Received(std::string_view data) override;
    void Ended(bool failed) override;
    void Line(const std::string& line);
    void RetrData(std::string_view data);

    std::uint16_t port_;
    Step step_ = Step::Greeting;
    LineBuffer lines_;
    DotEndScanner scanner_;
    std::string status_;  ///< the first bytes of the RETR reply
    double bytes_ = 0;
    double retrSeconds_ = 0;
    Clock::time_point retrStart_;
};

/// `count` SMTP sessions one after the other: connect, greeting, QUIT, its reply, close.
class SequentialSessions final : public Scenario {
  public:
    SequentialSessions(EventLoop& loop, std::uint16_t port, long count, std::uint32_t timeoutMs,
                       DoneHandler done);
    ~SequentialSessions() override;

  private:
    class Session;
    void Begin() override;
    void StartNext();
    void SessionDone(bool ok);

    std::uint16_t port_;
    long count_;
    long started_ = 0;
    long succeeded_ = 0;
    long failed_ = 0;
    std::unique_ptr<Session> current_;
    Clock::time_point start_;
};

/// `count` SMTP sessions open at once: all connect and say EHLO; once every one has its
/// reply (or has failed), all say QUIT. A session succeeds when its QUIT is answered. Sessions
/// still without their EHLO reply at half the timeout count as failed, so that a server that
/// lost some connections holds up only those.
class ConcurrentSessions final : public Scenario {
  public:
    ConcurrentSessions(EventLoop& loop, std::uint16_t port, long count, std::uint32_t timeoutMs,
                       DoneHandler done);
    ~ConcurrentSessions() override;

  private:
    class Session;
    void Begin() override;
    Outcome TimedOut() override;
    /// A session got its EHLO reply or failed before that.
    void SessionSettled();
    void SessionDone(bool ok);
    Outcome Current() const;

    std::uint16_t port_;
    long count_;
    long unsettled_ = 0;
    long succeeded_ = 0;
    long failed_ = 0;
    bool released_ = false;
    TimerId settleTimer_ = 0;
    std::vector<std::unique_ptr<Session>> sessions_;
    Clock::time_point start_;
};

}  // namespace vantel::load
