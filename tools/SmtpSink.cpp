#include "SmtpSink.h"

#include <cctype>

namespace vantel {

/// One client: reads commands line by line, collects the message after DATA.
class SmtpSink::Session : public SocketEvents {
  public:
    Session(SmtpSink& owner, EventLoop& loop) : owner_(owner), loop_(loop) {}

    void Start(std::unique_ptr<AsyncSocket> socket) {
        socket_ = std::move(socket);
        Reply("220 vantel-smtp-sink ready\r\n");
    }
    void OnReceive() override {
        char buffer[4096];
        const long n = socket_->Receive(buffer, sizeof buffer);
        if (n == 0) {
            End();
            return;
        }
        if (n > 0) {
            input_.append(buffer, static_cast<std::size_t>(n));
            Process();
        }
    }
    void OnClose(int) override { End(); }

  private:
    void Reply(const std::string& text) {
        if (socket_) {
            socket_->Write(text);
        }
    }
    void End() {
        // Destroy later: this object is still on the call stack.
        loop_.Post([owner = &owner_, self = this] { owner->Finished(self); });
        socket_.reset();
    }
    void Process() {
        std::size_t end;
        while (socket_ && (end = input_.find("\r\n")) != std::string::npos) {
            std::string line = input_.substr(0, end);
            input_.erase(0, end + 2);
            if (inData_) {
                if (line == ".") {
                    inData_ = false;
                    owner_.onMessage_(message_);
                    message_.clear();
                    Reply("250 accepted\r\n");
                } else {
                    message_ += (line.rfind("..", 0) == 0 ? line.substr(1) : line) + "\r\n";
                }
                continue;
            }
            std::string verb = line.substr(0, 4);
            for (char& c : verb)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (verb == "DATA") {
                inData_ = true;
                Reply("354 end with <CRLF>.<CRLF>\r\n");
            } else if (verb == "QUIT") {
                Reply("221 bye\r\n");
                End();
            } else {
                Reply("250 ok\r\n");
            }
        }
    }

    SmtpSink& owner_;
    EventLoop& loop_;
    std::unique_ptr<AsyncSocket> socket_;
    std::string input_;
    std::string message_;
    bool inData_ = false;
};

SmtpSink::SmtpSink(EventLoop& loop, MessageHandler onMessage)
    : loop_(loop), onMessage_(std::move(onMessage)) {}

SmtpSink::~SmtpSink() = default;

bool SmtpSink::Listen(std::uint16_t port, std::string& error) {
    listener_ = loop_.CreateSocket(*this);
    return listener_ && listener_->Listen("127.0.0.1", port, error);
}

void SmtpSink::OnAccept() {
    auto session = std::make_unique<Session>(*this, loop_);
    int error = 0;
    std::unique_ptr<AsyncSocket> socket = listener_->Accept(*session, error);
    if (!socket) {
        return;
    }
    Session* raw = session.get();
    sessions_.emplace(raw, std::move(session));
    raw->Start(std::move(socket));
}

void SmtpSink::Finished(Session* session) {
    sessions_.erase(session);
}

}  // namespace vantel
