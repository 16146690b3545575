#include "platform/LoopbackRedirectListener.h"

#include <utility>

namespace vantel {

namespace {

constexpr int kPortTries = 5;
/// Connections taken per accept event, so a flood cannot hold the loop.
constexpr int kAcceptsPerEvent = 32;

std::string EscapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

/// Where the head ends (just past the blank line), or npos while it has not.
std::size_t HeadEnd(const std::string& bytes) {
    const std::size_t crlf = bytes.find("\r\n\r\n");
    const std::size_t lf = bytes.find("\n\n");
    if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) {
        return crlf + 4;
    }
    return lf == std::string::npos ? std::string::npos : lf + 2;
}

}  // namespace

struct LoopbackRedirectListener::Acceptor : SocketEvents {
    explicit Acceptor(LoopbackRedirectListener& owner) : owner(owner) {}
    void OnAccept() override {
        if (socket != nullptr) {
            owner.Accept(*socket);
        }
    }
    LoopbackRedirectListener& owner;
    AsyncSocket* socket = nullptr;
};

struct LoopbackRedirectListener::Connection : SocketEvents {
    Connection(LoopbackRedirectListener& owner, std::uint64_t id) : owner(owner), id(id) {}

    void OnReceive() override {
        char buffer[2048];
        for (;;) {
            const long n = socket->Receive(buffer, sizeof buffer);
            if (n == AsyncSocket::kWouldBlock) {
                return;
            }
            if (n <= 0) {
                owner.Drop(id);  // gone (or failed) before or after its answer; nothing to add
                return;
            }
            if (answered) {
                continue;  // whatever a browser sends after its request is not read
            }
            head.append(buffer, static_cast<std::size_t>(n));
            const std::size_t end = HeadEnd(head);
            if (end != std::string::npos && end <= kMaxHead) {
                owner.Handle(*this, head.substr(0, end));
                return;  // the listener may be done with everything now
            }
            if (head.size() > kMaxHead) {
                owner.Respond(*this, 431, "Request Header Fields Too Large",
                              "Vantel: request too large", "This request is too large.");
                return;
            }
            owner.loop_.StopTimer(idle);
            owner.StartIdle(*this);
        }
    }
    void OnClose(int) override { owner.Drop(id); }

    LoopbackRedirectListener& owner;
    const std::uint64_t id;
    std::unique_ptr<AsyncSocket> socket;
    std::string head;
    TimerId idle = 0;
    bool answered = false;
};

LoopbackRedirectListener::LoopbackRedirectListener(EventLoop& loop)
    : loop_(loop), alive_(std::make_shared<bool>(true)) {}

LoopbackRedirectListener::~LoopbackRedirectListener() {
    *alive_ = false;
    loop_.StopTimer(deadline_);
    for (auto& entry : connections_) {
        loop_.StopTimer(entry.second->idle);
    }
    connections_.clear();
    listen6_.reset();
    listen4_.reset();
}

bool LoopbackRedirectListener::Start(const std::string& path, std::uint32_t deadlineMs,
                                     OnRequest onRequest, OnTimeOut onTimeOut, std::string& error,
                                     std::uint16_t firstPort) {
    StopListening();
    path_ = path.empty() ? "/" : path;
    onRequest_ = std::move(onRequest);
    onTimeOut_ = std::move(onTimeOut);
    acceptor4_ = std::make_unique<Acceptor>(*this);
    acceptor6_ = std::make_unique<Acceptor>(*this);

    for (int attempt = 0; attempt < kPortTries; ++attempt) {
        listen6_.reset();
        listen4_ = loop_.CreateSocket(*acceptor4_);
        if (!listen4_) {
            error = "cannot listen on 127.0.0.1: no socket";
            return false;
        }
        const std::uint16_t wanted = attempt == 0 ? firstPort : 0;
        if (!listen4_->Listen("127.0.0.1", wanted, error)) {
            if (wanted != 0) {
                continue;  // that port is taken: any other will do
            }
            listen4_.reset();
            return false;
        }
        port_ = listen4_->LocalAddress().port;
        std::string ignored;
        listen6_ = loop_.CreateSocket(*acceptor6_);
        if (listen6_ && listen6_->Listen("::1", port_, ignored)) {
            break;
        }
        // A system without IPv6 on loopback: 127.0.0.1 alone. Else the port is taken on ::1
        // only, and the next try takes another port for both.
        std::unique_ptr<AsyncSocket> probe = loop_.CreateSocket(*acceptor6_);
        if (!probe || !probe->Listen("::1", 0, ignored)) {
            listen6_.reset();
            break;
        }
        listen6_.reset();
        if (attempt + 1 == kPortTries) {
            break;  // ::1 stays taken on every port tried: go on with 127.0.0.1 alone
        }
    }
    if (!listen4_) {
        error = "cannot listen on 127.0.0.1";
        return false;
    }
    acceptor4_->socket = listen4_.get();
    acceptor6_->socket = listen6_.get();
    waiting_ = true;
    deadline_ = loop_.StartTimer(deadlineMs, false, [this] {
        deadline_ = 0;
        if (!waiting_) {
            return;
        }
        StopListening();
        if (onTimeOut_) {
            onTimeOut_();
        }
    });
    return true;
}

void LoopbackRedirectListener::StartIdle(Connection& connection) {
    const std::uint64_t id = connection.id;
    connection.idle = loop_.StartTimer(kIdleMs, false, [this, id] {
        auto found = connections_.find(id);
        if (found != connections_.end()) {
            found->second->idle = 0;
            connections_.erase(found);
        }
    });
}

void LoopbackRedirectListener::Accept(AsyncSocket& socket) {
    for (int i = 0; i < kAcceptsPerEvent; ++i) {
        const std::uint64_t id = nextId_++;
        auto connection = std::make_unique<Connection>(*this, id);
        int error = 0;
        connection->socket = socket.Accept(*connection, error);
        if (!connection->socket) {
            return;
        }
        if (connections_.size() >= kMaxConnections) {
            continue;  // closed as it goes
        }
        StartIdle(*connection);
        connections_.emplace(id, std::move(connection));
    }
}

void LoopbackRedirectListener::Handle(Connection& connection, const std::string& head) {
    const std::size_t lineEnd = head.find('\n');
    std::string line = head.substr(0, lineEnd);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    const std::size_t firstSpace = line.find(' ');
    const std::size_t lastSpace = line.rfind(' ');
    if (firstSpace == std::string::npos || lastSpace == firstSpace ||
        line.compare(lastSpace + 1, 5, "HTTP/") != 0) {
        Respond(connection, 400, "Bad Request", "Vantel: bad request",
                "This is no request a browser makes.");
        return;
    }
    const std::string method = line.substr(0, firstSpace);
    const std::string target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    if (method != "GET") {
        Respond(connection, 405, "Method Not Allowed", "Vantel: not allowed",
                "Only the browser's return from the sign-in page is taken here.", "Allow: GET\r\n");
        return;
    }
    const std::string path = target.substr(0, target.find_first_of("?#"));
    if (path != path_ || !waiting_) {
        Respond(connection, 404, "Not Found", "Vantel: not found",
                waiting_ ? "Nothing here." : "This sign-in is over.");
        return;
    }
    const std::shared_ptr<bool> alive = alive_;
    const Reply reply = onRequest_ ? onRequest_(target) : Reply{Verdict::Answer, ""};
    if (!*alive) {
        return;
    }
    switch (reply.verdict) {
        case Verdict::Answer:
            Respond(connection, 200, "OK", "Vantel: you can close this tab",
                    reply.message.empty() ? "Signed in. You can close this tab." : reply.message);
            StopListening();
            break;
        case Verdict::Failure:
            Respond(connection, 400, "Bad Request", "Vantel: sign-in failed", reply.message);
            StopListening();
            break;
        case Verdict::NotTheAnswer:
            Respond(connection, 400, "Bad Request", "Vantel: not this sign-in", reply.message);
            break;
    }
}

void LoopbackRedirectListener::Respond(Connection& connection, int status,
                                       const std::string& reason, const std::string& title,
                                       const std::string& message,
                                       const std::string& extraHeaders) {
    const std::string body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                             EscapeHtml(title) + "</title></head>\n<body><h1>" + EscapeHtml(title) +
                             "</h1>\n<p>" + EscapeHtml(message) + "</p></body></html>\n";
    connection.socket->Write("HTTP/1.1 " + std::to_string(status) + " " + reason +
                             "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                             std::to_string(body.size()) +
                             "\r\nCache-Control: no-store\r\nConnection: close\r\n" + extraHeaders +
                             "\r\n" + body);
    connection.socket->ShutDownSend();
    connection.answered = true;
    connection.head.clear();
    // The browser closes its end once it has read the page; one that does not is let go.
    loop_.StopTimer(connection.idle);
    StartIdle(connection);
}

void LoopbackRedirectListener::Drop(std::uint64_t id) {
    auto found = connections_.find(id);
    if (found != connections_.end()) {
        loop_.StopTimer(found->second->idle);
        connections_.erase(found);
    }
}

void LoopbackRedirectListener::StopListening() {
    waiting_ = false;
    if (deadline_ != 0) {
        loop_.StopTimer(deadline_);
        deadline_ = 0;
    }
    if (acceptor4_) {
        acceptor4_->socket = nullptr;
    }
    if (acceptor6_) {
        acceptor6_->socket = nullptr;
    }
    listen4_.reset();
    listen6_.reset();
}

}  // namespace vantel
