#include "LoadClients.h"

namespace vantel::load {

// Scenario

Scenario::~Scenario() {
    *alive_ = false;
    if (timer_ != 0) {
        loop_.StopTimer(timer_);
    }
}

void Scenario::Start() {
    timer_ = loop_.StartTimer(timeoutMs_, false, [this] {
        timer_ = 0;
        Report(TimedOut());
    });
    Begin();
}

Outcome Scenario::TimedOut() {
    return Failure("timed out after " + std::to_string(timeoutMs_ / 1000) + " s");
}

Outcome Scenario::Failure(std::string error) const {
    Outcome outcome;
    outcome.error = std::move(error);
    return outcome;
}

void Scenario::Report(Outcome outcome) {
    if (reported_) {
        return;
    }
    reported_ = true;
    if (timer_ != 0) {
        loop_.StopTimer(timer_);
        timer_ = 0;
    }
    done_(outcome);
}

void Scenario::Later(std::function<void()> work) {
    loop_.Post([alive = std::weak_ptr<bool>(alive_), work = std::move(work)] {
        const auto flag = alive.lock();
        if (flag && *flag) {
            work();
        }
    });
}

// SmtpConversation

void SmtpConversation::Received(std::string_view data) {
    lines_.Append(data);
    std::string line;
    while (open() && lines_.Next(line)) {
        const SmtpReplyLine reply = ParseSmtpReply(line);
        if (reply.last) {
            Reply(reply.code, line);
        }
    }
}

// SmtpMailer

SmtpMailer::SmtpMailer(EventLoop& loop, std::uint16_t port, long count, MessageSource source,
                       bool dataTimeOnly, std::uint32_t timeoutMs, DoneHandler done)
    : SmtpConversation(loop),
      Scenario(loop, timeoutMs, std::move(done)),
      port_(port),
      count_(count),
      source_(std::move(source)),
      dataTimeOnly_(dataTimeOnly) {}

void SmtpMailer::Begin() {
    if (!Connect(port_)) {
        Report(Failure("cannot connect to port " + std::to_string(port_)));
    }
}

void SmtpMailer::Reply(int code, const std::string& line) {
    switch (step_) {
        case Step::Greeting:
            if (code != 220) {
                return Fail("greeting '" + line + "'");
            }
            Send("EHLO load.example.org\r\n");
            step_ = Step::Ehlo;
            return;
        case Step::Ehlo:
            if (code != 250) {
                return Fail("EHLO answered '" + line + "'");
            }
            return NextMessage();
        case Step::Mail:
            if (code != 250) {
                return Fail("MAIL answered '" + line + "'");
            }
            Send("RCPT TO:<sink@example.org>\r\n");
            step_ = Step::Rcpt;
            return;
        case Step::Rcpt:
            if (code != 250 && code != 251) {
                return Fail("RCPT answered '" + line + "'");
            }
            dataStart_ = Clock::now();
            Send("DATA\r\n");
            step_ = Step::Data;
            return;
        case Step::Data: {
            if (code != 354) {
                return Fail("DATA answered '" + line + "'");
            }
            std::shared_ptr<const std::string> text = source_(sent_);
            bytes_ += static_cast<double>(text->size());
            SendShared(std::move(text));
            step_ = Step::Dot;
            return;
        }
        case Step::Dot: {
            if (code != 250) {
                return Fail("message answered '" + line + "'");
            }
            lastAccepted_ = Clock::now();
            dataSeconds_ += Seconds(dataStart_, lastAccepted_);
            ++sent_;
            return NextMessage();
        }
        case Step::Quit: {
            if (code != 221) {
                return Fail("QUIT answered '" + line + "'");
            }
            Abandon();
            Outcome outcome;
            outcome.ok = true;
            outcome.seconds = dataTimeOnly_ ? dataSeconds_ : Seconds(firstMail_, lastAccepted_);
            outcome.amount = dataTimeOnly_ ? bytes_ : static_cast<double>(sent_);
            outcome.bytes = bytes_;
            outcome.succeeded = sent_;
            return Report(outcome);
        }
    }
}

void SmtpMailer::NextMessage() {
    const bool timeUp = stopAfterSeconds_ > 0 && sent_ > 0 &&
                        Seconds(firstMail_, Clock::now()) >= stopAfterSeconds_;
    if (sent_ == count_ || timeUp) {
        Send("QUIT\r\n");
        step_ = Step::Quit;
        return;
    }
    if (sent_ == 0) {
        firstMail_ = Clock::now();
    }
    Send("MAIL FROM:<load@example.org>\r\n");
    step_ = Step::Mail;
}

void SmtpMailer::Fail(const std::string& why) {
    Abandon();
    Report(Failure(why + " after " + std::to_string(sent_) + " messages"));
}

void SmtpMailer::Ended(bool failed) {
    Report(Failure(std::string(failed ? "connection failed" : "server closed the connection") +
                   " after " + std::to_string(sent_) + " messages"));
}

Outcome SmtpMailer::TimedOut() {
    Abandon();
    return Failure("timed out after " + std::to_string(sent_) + " messages");
}

// Pop3Retriever

Pop3Retriever::Pop3Retriever(EventLoop& loop, std::uint16_t port, std::uint32_t timeoutMs,
                             DoneHandler done)
    : Conversation(loop), Scenario(loop, timeoutMs, std::move(done)), port_(port) {}

void Pop3Retriever::Begin() {
    if (!Connect(port_)) {
        Report(Failure("cannot connect to port " + std::to_string(port_)));
    }
}

void Pop3Retriever::Received(std::string_view data) {
    if (step_ == Step::Retr) {
        return RetrData(data);
    }
    lines_.Append(data);
    std::string line;
    while (open() && step_ != Step::Retr && lines_.Next(line)) {
        Line(line);
    }
    if (open() && step_ == Step::Retr) {
        const std::string rest = lines_.TakeRest();
        if (!rest.empty()) {
            RetrData(rest);
        }
    }
}

void Pop3Retriever::Line(const std::string& line) {
    if (line.compare(0, 3, "+OK") != 0) {
        Abandon();
        return Report(Failure("server answered '" + line + "'"));
    }
    switch (step_) {
        case Step::Greeting:
            Send("USER load\r\n");
            step_ = Step::User;
            return;
        case Step::User:
            Send("PASS load\r\n");
            step_ = Step::Pass;
            return;
        case Step::Pass:
            scanner_.Reset(false);
            retrStart_ = Clock::now();
            Send("RETR 1\r\n");
            step_ = Step::Retr;
            return;
        case Step::Retr:
            return;  // RETR data goes to RetrData
        case Step::Quit: {
            Abandon();
            Outcome outcome;
            outcome.ok = true;
            outcome.seconds = retrSeconds_;  // up to the final dot, not the QUIT reply
            outcome.amount = bytes_;
            outcome.bytes = bytes_;
            outcome.succeeded = 1;
            return Report(outcome);
        }
    }
}

void Pop3Retriever::RetrData(std::string_view data) {
    if (status_.size() < 3) {
        status_.append(data.substr(0, 3 - status_.size()));
        if (status_.size() == 3 && status_ != "+OK") {
            Abandon();
            return Report(Failure("RETR answered '" + std::string(data.substr(0, 60)) + "'"));
        }
    }
    const std::size_t end = scanner_.Feed(data);
    if (end == std::string_view::npos) {
        bytes_ += static_cast<double>(data.size());
        return;
    }
    bytes_ += static_cast<double>(end);
    retrSeconds_ = Seconds(retrStart_, Clock::now());
    Send("QUIT\r\n");
    step_ = Step::Quit;
    lines_.Append(data.substr(end));
}

void Pop3Retriever::Ended(bool failed) {
    Report(Failure(std::string(failed ? "connection failed" : "server closed the connection") +
                   " after " + std::to_string(static_cast<long long>(bytes_)) + " bytes"));
}

// SequentialSessions

class SequentialSessions::Session final : public SmtpConversation {
  public:
    explicit Session(SequentialSessions& owner) : SmtpConversation(owner.loop_), owner_(owner) {}

  private:
    void Reply(int code, const std::string&) override {
        if (!quitSent_ && code == 220) {
            Send("QUIT\r\n");
            quitSent_ = true;
            return;
        }
        Done(quitSent_ && code == 221);
    }
    void Ended(bool) override { Done(false); }
    void Done(bool ok) {
        if (!finished_) {
            finished_ = true;
            Abandon();
            owner_.SessionDone(ok);
        }
    }

    SequentialSessions& owner_;
    bool quitSent_ = false;
    bool finished_ = false;
};

SequentialSessions::SequentialSessions(EventLoop& loop, std::uint16_t port, long count,
                                       std::uint32_t timeoutMs, DoneHandler done)
    : Scenario(loop, timeoutMs, std::move(done)), port_(port), count_(count) {}

SequentialSessions::~SequentialSessions() = default;

void SequentialSessions::Begin() {
    start_ = Clock::now();
    StartNext();
}

void SequentialSessions::StartNext() {
    ++started_;
    current_ = std::make_unique<Session>(*this);
    if (!current_->Connect(port_)) {
        SessionDone(false);
    }
}

void SequentialSessions::SessionDone(bool ok) {
    ++(ok ? succeeded_ : failed_);
    if (started_ < count_) {
        // From the loop: the session that ended is still on the call stack.
        Later([this] { StartNext(); });
        return;
    }
    Outcome outcome;
    outcome.ok = failed_ == 0;
    if (!outcome.ok) {
        outcome.error = std::to_string(failed_) + " sessions failed";
    }
    outcome.seconds = Seconds(start_, Clock::now());
    outcome.amount = static_cast<double>(succeeded_);
    outcome.succeeded = succeeded_;
    outcome.failed = failed_;
    Report(outcome);
}

// ConcurrentSessions

class ConcurrentSessions::Session final : public SmtpConversation {
  public:
    explicit Session(ConcurrentSessions& owner) : SmtpConversation(owner.loop_), owner_(owner) {}

    /// Says QUIT, once every session is open.
    void Release() {
        if (step_ == Step::Ready) {
            Send("QUIT\r\n");
            step_ = Step::Quit;
        }
    }
    /// Ends the session as failed if it is not open yet.
    void GiveUpOpening() {
        if (step_ == Step::Greeting || step_ == Step::Ehlo) {
            Done(false);
        }
    }

  private:
    enum class Step { Greeting, Ehlo, Ready, Quit, Done };

    void Reply(int code, const std::string&) override {
        if (step_ == Step::Greeting && code == 220) {
            Send("EHLO load.example.org\r\n");
            step_ = Step::Ehlo;
        } else if (step_ == Step::Ehlo && code == 250) {
            step_ = Step::Ready;
            owner_.SessionSettled();
        } else {
            Done(step_ == Step::Quit && code == 221);
        }
    }
    void Ended(bool) override { Done(false); }
    void Done(bool ok) {
        if (step_ == Step::Done) {
            return;
        }
        const bool settled = step_ == Step::Ready || step_ == Step::Quit;
        step_ = Step::Done;
        Abandon();
        if (!settled) {
            owner_.SessionSettled();
        }
        owner_.SessionDone(ok);
    }

    ConcurrentSessions& owner_;
    Step step_ = Step::Greeting;
};

ConcurrentSessions::ConcurrentSessions(EventLoop& loop, std::uint16_t port, long count,
                                       std::uint32_t timeoutMs, DoneHandler done)
    : Scenario(loop, timeoutMs, std::move(done)), port_(port), count_(count) {}

ConcurrentSessions::~ConcurrentSessions() {
    if (settleTimer_ != 0) {
        loop_.StopTimer(settleTimer_);
    }
}

void ConcurrentSessions::Begin() {
    start_ = Clock::now();
    unsettled_ = count_;
    settleTimer_ = loop_.StartTimer(timeoutMs() / 2, false, [this] {
        settleTimer_ = 0;
        for (auto& session : sessions_) {
            session->GiveUpOpening();
        }
    });
    sessions_.reserve(static_cast<std::size_t>(count_));
    for (long i = 0; i < count_; ++i) {
        sessions_.push_back(std::make_unique<Session>(*this));
    }
    for (long i = 0; i < count_ && !reported(); ++i) {
        Session& session = *sessions_[static_cast<std::size_t>(i)];
        if (!session.Connect(port_)) {
            SessionSettled();
            SessionDone(false);
        }
    }
}

void ConcurrentSessions::SessionSettled() {
    --unsettled_;
    if (unsettled_ == 0 && !released_) {
        released_ = true;
        if (settleTimer_ != 0) {
            loop_.StopTimer(settleTimer_);
            settleTimer_ = 0;
        }
        for (auto& session : sessions_) {
            session->Release();
        }
    }
}

void ConcurrentSessions::SessionDone(bool ok) {
    ++(ok ? succeeded_ : failed_);
    if (succeeded_ + failed_ == count_) {
        Report(Current());
    }
}

Outcome ConcurrentSessions::Current() const {
    Outcome outcome;
    outcome.ok = succeeded_ == count_;
    outcome.seconds = Seconds(start_, Clock::now());
    outcome.amount = static_cast<double>(succeeded_);
    outcome.succeeded = succeeded_;
    outcome.failed = count_ - succeeded_;
    if (!outcome.ok) {
        outcome.error = std::to_string(outcome.failed) + " sessions did not succeed";
    }
    return outcome;
}

Outcome ConcurrentSessions::TimedOut() {
    Outcome outcome = Current();
    outcome.error = "timed out; " + outcome.error;
    for (auto& session : sessions_) {
        session->Abandon();
    }
    return outcome;
}

}  // namespace vantel::load
