#include "LoadServers.h"

#include <algorithm>
#include <cctype>

namespace vantel::load {
namespace {

/// Connections taken per accept event: the whole of a burst of ten thousand, so that the fake
/// server's own queue never overflows and bounds what a relay in front of it is measured at.
constexpr int kAcceptsPerEvent = 16384;

/// The command word of a line, in capitals.
std::string Verb(const std::string& line) {
    std::string verb = line.substr(0, line.find(' '));
    for (char& c : verb) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return verb;
}

}  // namespace

FakeServer::~FakeServer() {
    *alive_ = false;
    open_.clear();
}

bool FakeServer::Listen(std::uint16_t port, std::string& error) {
    listener_ = loop_.CreateSocket(*this);
    if (!listener_) {
        error = "no socket";
        return false;
    }
    return listener_->Listen("127.0.0.1", port, error);
}

std::uint16_t FakeServer::port() const {
    return listener_ ? listener_->LocalAddress().port : 0;
}

void FakeServer::OnAccept() {
    for (int i = 0; i < kAcceptsPerEvent; ++i) {
        std::unique_ptr<Session> session = NewSession();
        int error = 0;
        std::unique_ptr<AsyncSocket> socket = listener_->Accept(*session, error);
        if (!socket) {
            return;
        }
        Session& started = *session;
        open_.emplace(session.get(), std::move(session));
        ++sessions_;
        peakOpen_ = std::max(peakOpen_, open_.size());
        started.Adopt(std::move(socket));
        started.Start();
    }
}

void FakeServer::Finished(Session* session) {
    // Later: the session is still on the call stack.
    loop_.Post([this, alive = std::weak_ptr<bool>(alive_), session] {
        const auto flag = alive.lock();
        if (flag && *flag) {
            open_.erase(session);
        }
    });
}

class FakeSmtpServer::SmtpSession : public Session {
  public:
    using Session::Session;

    void Start() override { Send("220 vantel-load SMTP ready\r\n"); }

  protected:
    void Received(std::string_view data) override {
        // Bounded: each pass either ends (data used up) or consumes at least the 5-byte end.
        while (!data.empty() && open()) {
            if (inData_) {
                const std::size_t end = scanner_.Feed(data);
                if (end == std::string_view::npos) {
                    return;
                }
                inData_ = false;
                CountMessage();
                Send("250 message accepted\r\n");
                data.remove_prefix(end);
                continue;
            }
            lines_.Append(data);
            data = {};
            std::string line;
            while (!inData_ && open() && lines_.Next(line)) {
                Command(line);
            }
            if (inData_) {
                rest_ = lines_.TakeRest();
                data = rest_;
            }
        }
    }

  private:
    void Command(const std::string& line) {
        const std::string verb = Verb(line);
        if (verb == "DATA") {
            inData_ = true;
            scanner_.Reset(true);
            Send("354 end with <CRLF>.<CRLF>\r\n");
        } else if (verb == "QUIT") {
            Send("221 bye\r\n");
            CloseWhenSent();
        } else if (verb == "EHLO" || verb == "HELO") {
            Send("250 vantel-load\r\n");
        } else if (verb == "MAIL" || verb == "RCPT" || verb == "RSET" || verb == "NOOP") {
            Send("250 ok\r\n");
        } else {
            Send("500 unknown command\r\n");
        }
    }

    LineBuffer lines_;
    DotEndScanner scanner_;
    bool inData_ = false;
    std::string rest_;  ///< what followed the DATA command in the same read
};

std::unique_ptr<FakeServer::Session> FakeSmtpServer::NewSession() {
    return std::make_unique<SmtpSession>(*this);
}

FakePop3Server::FakePop3Server(EventLoop& loop, std::size_t messageBytes) : FakeServer(loop) {
    const std::string message = MakeMessageOfSize(messageBytes);
    messageBytes_ = message.size();
    retrReply_ = std::make_shared<const std::string>("+OK " + std::to_string(messageBytes_) +
                                                     " octets\r\n" + DotTerminated(message));
}

class FakePop3Server::Pop3Session : public Session {
  public:
    using Session::Session;

    void Start() override { Send("+OK vantel-load POP3 ready\r\n"); }

  protected:
    void Received(std::string_view data) override {
        lines_.Append(data);
        std::string line;
        while (open() && lines_.Next(line)) {
            Command(line);
        }
    }

  private:
    FakePop3Server& Server() { return static_cast<FakePop3Server&>(server_); }

    void Command(const std::string& line) {
        const std::string verb = Verb(line);
        const std::string size = std::to_string(Server().messageBytes_);
        if (verb == "RETR") {
            CountMessage();
            SendShared(Server().retrReply_);
        } else if (verb == "STAT") {
            Send("+OK 1 " + size + "\r\n");
        } else if (verb == "LIST") {
            Send("+OK 1 message\r\n1 " + size + "\r\n.\r\n");
        } else if (verb == "QUIT") {
            Send("+OK bye\r\n");
            CloseWhenSent();
        } else if (verb == "USER" || verb == "PASS" || verb == "NOOP" || verb == "RSET" ||
                   verb == "DELE") {
            Send("+OK\r\n");
        } else {
            Send("-ERR unknown command\r\n");
        }
    }

    LineBuffer lines_;
};

std::unique_ptr<FakeServer::Session> FakePop3Server::NewSession() {
    return std::make_unique<Pop3Session>(*this);
}

}  // namespace vantel::load
