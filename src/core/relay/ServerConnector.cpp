#include "core/relay/ServerConnector.h"

#include <utility>

#include "core/protocol/StartTlsDialogue.h"

namespace vantel {

ServerConnector::ServerConnector(EventLoop& loop, TlsContext* tls, const ServerEntry& entry,
                                 SocketEvents& socketEvents, Events& events)
    : loop_(loop), tls_(tls), entry_(entry), socketEvents_(socketEvents), events_(events) {}

ServerConnector::~ServerConnector() = default;

ServerConnector::Stage ServerConnector::stage() const {
    if (stage_ == Stage::Connecting && Securing()) {
        return tlsSocket_->InDialogue() ? Stage::Dialogue : Stage::Handshake;
    }
    return stage_;
}

void ServerConnector::Start() {
    Cancel();
    tried_.clear();
    stage_ = Stage::Resolving;
    // Resolving may take seconds; the loop goes on meanwhile.
    loop_.Resolve(entry_.Name, static_cast<std::uint16_t>(entry_.RemotePort),
                  [this, attempt = std::weak_ptr<bool>(attempt_)](
                      std::vector<SocketAddress> addresses, std::string error) {
                      if (attempt.expired()) {
                          return;  // cancelled, or the connector is gone
                      }
                      events_.Guarded([&] { Resolved(std::move(addresses), error); });
                  });
}

void ServerConnector::Cancel() {
    attempt_ = std::make_shared<bool>(true);
    stage_ = Stage::Idle;
    addresses_.clear();
    failure_.clear();
    tlsSocket_ = nullptr;
    socket_.reset();
}

void ServerConnector::GiveUp(const std::string& limit) {
    switch (stage()) {
        case Stage::Idle:
        case Stage::Resolving:
        case Stage::Connecting:
            attempt_ = std::make_shared<bool>(true);
            tlsSocket_ = nullptr;
            socket_.reset();
            Fail(Failure(ServerFailure::Kind::Unreachable, "timed out after " + limit));
            return;
        case Stage::Dialogue:
        case Stage::Handshake:
            tlsSocket_->GiveUp(limit);
            return;
        case Stage::Connected:
        case Stage::Failed:
            return;
    }
}

void ServerConnector::Resolved(std::vector<SocketAddress> addresses, const std::string& error) {
    if (stage_ != Stage::Resolving) {
        return;
    }
    if (addresses.empty()) {
        Fail(Failure(ServerFailure::Kind::Unreachable, error.empty() ? "no such host" : error));
        return;
    }
    addresses_ = std::move(addresses);
    stage_ = Stage::Connecting;
    ConnectNext();
}

std::unique_ptr<AsyncSocket> ServerConnector::CreateSocket() {
    tlsSocket_ = nullptr;
    TlsSocketEvents& events = *this;
    if (!entry_.Encrypted()) {
        return loop_.CreateSocket(events);
    }
    auto dialogue = entry_.Uses(SecurityMode::StartTls)
                        ? std::make_unique<StartTlsDialogue>(ServerTypeFromStored(entry_.Type))
                        : nullptr;
    auto socket = std::make_unique<TlsSocket>(events, loop_, entry_.Name,
                                              tls_->CreateClient({entry_.Name, entry_.Fingerprint}),
                                              std::move(dialogue));
    if (!socket->Open()) {
        return nullptr;
    }
    tlsSocket_ = socket.get();
    return socket;
}

void ServerConnector::ConnectNext() {
    while (!addresses_.empty()) {
        const SocketAddress address = addresses_.front();
        addresses_.erase(addresses_.begin());
        tried_ = address.ToString();
        socket_ = CreateSocket();
        int code = 0;
        const ConnectResult result =
            socket_ ? socket_->Connect(address, code) : ConnectResult::NoSocket;
        switch (result) {
            case ConnectResult::NoSocket:
                tlsSocket_ = nullptr;
                socket_.reset();
                Fail(Failure(ServerFailure::Kind::NoSocket, code != 0
                                                                ? loop_.DescribeError(code)
                                                                : "the system has no socket left"));
                return;
            case ConnectResult::Connected:
                socket_->SetNoDelay();
                Connected();
                return;
            case ConnectResult::InProgress:
                socket_->SetNoDelay();
                return;
            case ConnectResult::Failed:
                failure_ = loop_.DescribeError(code);
                tlsSocket_ = nullptr;
                socket_.reset();
                break;
        }
    }
    Fail(Failure(ServerFailure::Kind::Unreachable,
                 failure_.empty() ? "no address left to try" : failure_));
}

void ServerConnector::OnConnect(int error) {
    if (!socket_) {
        return;  // not from an attempt under way
    }
    events_.Guarded([&] {
        if (error != 0) {
            // Refused or unreachable: the name's other addresses come first.
            failure_ = loop_.DescribeError(error);
            tlsSocket_ = nullptr;
            socket_.reset();
            ConnectNext();
            return;
        }
        Connected();
    });
}

void ServerConnector::Connected() {
    const TlsClient* tls = tlsSocket_ != nullptr ? &tlsSocket_->tls() : nullptr;
    if (tls == nullptr) {
        events_.OnServerReached();  // an encrypted one was reached when its securing began
    }
    stage_ = Stage::Connected;
    addresses_.clear();
    tlsSocket_ = nullptr;
    events_.OnServerConnected(std::move(socket_), tls);
}

void ServerConnector::OnSecuring() {
    events_.Guarded([&] { events_.OnServerReached(); });
}

void ServerConnector::OnPlainText(std::string_view bytes) {
    events_.Guarded([&] { events_.OnPlainText(bytes); });
}

void ServerConnector::OnTlsFailed(const std::string& reason, bool news) {
    if (tlsSocket_ == nullptr) {
        return;
    }
    events_.Guarded([&] {
        ServerFailure failure = Failure(ServerFailure::Kind::Insecure, reason);
        failure.news = news;
        failure.closedBeforeTls = tlsSocket_->closedBeforeTls();
        failure.endError = tlsSocket_->wireError();
        const TlsClient& client = tlsSocket_->tls();
        if (client.state() == TlsState::Failed) {
            failure.tls = client.failure();
        }
        failure.certificate = client.certificate();
        // The socket stays until the owner cancels: the alert that tells the server why may
        // still be on its way.
        Fail(std::move(failure));
    });
}

ServerFailure ServerConnector::Failure(ServerFailure::Kind kind, std::string reason) const {
    ServerFailure failure;
    failure.kind = kind;
    failure.address = tried_;
    failure.reason = std::move(reason);
    return failure;
}

void ServerConnector::Fail(ServerFailure failure) {
    stage_ = Stage::Failed;
    addresses_.clear();
    events_.OnServerFailed(failure);
}

}  // namespace vantel
