#include "core/relay/TlsSocket.h"

#include <algorithm>
#include <cstring>

#include "platform/TlsFailure.h"

namespace vantel {
namespace {

/// Bytes read from the wire at a time.
constexpr std::size_t kWireBlock = 16 * 1024;
/// Plaintext handed to the TLS client at a time: about one record each.
constexpr std::size_t kRecordPlaintext = 16 * 1024;

}  // namespace

TlsSocket::TlsSocket(TlsSocketEvents& events, EventLoop& loop, std::string host,
                     std::unique_ptr<TlsClient> tls, std::unique_ptr<StartTlsDialogue> dialogue)
    : AsyncSocket(events),
      owner_(events),
      loop_(loop),
      host_(std::move(host)),
      tls_(std::move(tls)),
      dialogue_(std::move(dialogue)) {}

TlsSocket::~TlsSocket() {
    *alive_ = false;
}

bool TlsSocket::Open() {
    wire_ = loop_.CreateSocket(*this);
    return wire_ != nullptr;
}

bool TlsSocket::Listen(const std::string&, std::uint16_t, std::string& error) {
    error = "a TLS client socket does not listen";
    return false;
}

std::unique_ptr<AsyncSocket> TlsSocket::Accept(SocketEvents&, int& error) {
    error = 0;
    return nullptr;
}

ConnectResult TlsSocket::Connect(const SocketAddress& address, int& error) {
    if (!wire_) {
        return ConnectResult::NoSocket;
    }
    const ConnectResult result = wire_->Connect(address, error);
    if (result != ConnectResult::Connected) {
        return result;
    }
    // The connection the owner waits for stands only after the handshake.
    OnConnect(0);
    return ConnectResult::InProgress;
}

long TlsSocket::Receive(void* buffer, std::size_t size) {
    const std::size_t unread = Unread();
    if (unread > 0) {
        const std::size_t n = std::min(size, unread);
        std::memcpy(buffer, incoming_.data() + incomingAt_, n);
        incomingAt_ += n;
        if (incomingAt_ == incoming_.size()) {
            incoming_.clear();
            incomingAt_ = 0;
        } else if (incomingAt_ > incoming_.size() / 2) {
            incoming_.erase(0, incomingAt_);
            incomingAt_ = 0;
        }
        if (!paused_ && !wireEnded_ && Unread() < kReadAhead && wire_) {
            wire_->PauseReceive(false);
        }
        return static_cast<long>(n);
    }
    if (phase_ == Phase::Failed) {
        return kError;
    }
    if (wireEnded_) {
        return endError_ != 0 ? kError : 0;
    }
    return kWouldBlock;
}

void TlsSocket::PauseReceive(bool paused) {
    paused_ = paused;
    if (wire_ && !wireEnded_) {
        wire_->PauseReceive(paused || Unread() >= kReadAhead);
    }
    if (!paused) {
        ReportLater();
    }
}

void TlsSocket::SetNoDelay() {
    if (wire_) {
        wire_->SetNoDelay();
    }
}

SocketAddress TlsSocket::LocalAddress() const {
    return wire_ ? wire_->LocalAddress() : SocketAddress{};
}

std::size_t TlsSocket::Backlog() const {
    return AsyncSocket::Backlog() + (wire_ ? wire_->Backlog() : 0);
}

long TlsSocket::SendSome(const char* data, std::size_t size, int& error) {
    error = 0;
    if (phase_ != Phase::Open || !wire_) {
        return kWouldBlock;
    }
    if (wire_->SendFailed()) {
        return kError;
    }
    // Encrypted a record at a time and sent as many records as the wire has room for in one
    // system call. What the wire cannot take yet stays in this socket's queue; the wire's
    // OnSent lets it go on, which only comes while the wire holds bytes.
    std::size_t taken = 0;
    while (taken < size && wire_->Backlog() < kWireHighWater) {
        const std::size_t room = kWireHighWater - wire_->Backlog();
        for (std::size_t encrypted = 0; taken < size && encrypted < room;) {
            const std::size_t n = std::min(size - taken, kRecordPlaintext);
            tls_->Write(std::string_view(data + taken, n));
            taken += n;
            encrypted += n;
        }
        FlushWire();
    }
    if (taken < size) {
        wantWritable_ = true;
    }
    return taken == 0 ? kWouldBlock : static_cast<long>(taken);
}

void TlsSocket::ShutDownNow() {
    if (!wire_) {
        return;
    }
    tls_->Close();
    FlushWire();
    wire_->ShutDownSend();
}

void TlsSocket::ResetNow() {
    if (wire_) {
        wire_->Reset();
    }
}

bool TlsSocket::Truncated() const {
    return wireEnded_ && !closeNotify_ && endError_ == 0;
}

void TlsSocket::GiveUp(const std::string& limit) {
    if (!Securing()) {
        return;
    }
    Fail(phase_ == Phase::Dialogue
             ? "the server did not get to STARTTLS within " + limit
             : "the server did not complete the TLS handshake within " + limit);
    ReportLater();
}

bool TlsSocket::CanSend() const {
    return phase_ == Phase::Open;
}

void TlsSocket::ReportFailureLater(int error) {
    loop_.Post([this, alive = std::weak_ptr<bool>(alive_), error] {
        const auto stillAlive = alive.lock();
        if (!stillAlive || !*stillAlive || closeReported_) {
            return;
        }
        closeReported_ = true;
        owner_.OnClose(error);
    });
}

void TlsSocket::OnConnect(int error) {
    if (error != 0) {
        owner_.OnConnect(error);  // the owner tries the next address
        return;
    }
    securingSince_ = loop_.NowMs();
    owner_.OnSecuring();
    if (dialogue_) {
        phase_ = Phase::Dialogue;  // the server speaks first
        return;
    }
    StartHandshake();
    ReportLater();  // a failure to begin; from the loop, as this may run inside Connect
}

void TlsSocket::StartHandshake() {
    phase_ = Phase::Handshake;
    tls_->Start();
    FlushWire();
    if (tls_->state() == TlsState::Failed) {
        // The client could not even begin (no trusted roots, say): the server waits for a
        // ClientHello that never comes, so nothing else would end the session.
        Fail(DescribeTlsFailure(tls_->failure(), host_));
    }
}

void TlsSocket::OnReceive() {
    ReadWire(false);
    Report();
}

void TlsSocket::OnClose(int error) {
    // What the wire still holds comes before its end.
    ReadWire(true);
    WireEnded(error);
    Report();
}

void TlsSocket::OnSent(std::size_t backlog) {
    const std::weak_ptr<bool> alive = alive_;
    if (wantWritable_ && backlog < kWireHighWater / 2) {
        wantWritable_ = false;
        Writable();  // may hand the owner an OnSent of its own
        if (alive.expired()) {
            return;
        }
    }
    if (phase_ == Phase::Open) {
        // The owner waits for the ciphertext to go too before it calls its side drained.
        owner_.OnSent(Backlog());
    }
}

void TlsSocket::ReadWire(bool all) {
    char block[kWireBlock];
    while (wire_ && !wireEnded_ && phase_ != Phase::Failed) {
        if (!all && (paused_ || Unread() >= kReadAhead)) {
            wire_->PauseReceive(true);  // resumed as the owner reads
            return;
        }
        const long n = wire_->Receive(block, sizeof block);
        if (n == kWouldBlock) {
            return;
        }
        if (n <= 0) {
            WireEnded(n == 0 ? 0 : -1);
            return;
        }
        Process(std::string_view(block, static_cast<std::size_t>(n)));
    }
}

void TlsSocket::Process(std::string_view bytes) {
    std::string rest;  // what the server sent after its go-ahead: the start of the TLS stream
    if (phase_ == Phase::Dialogue) {
        std::string toServer;
        const StartTlsDialogue::Step step = dialogue_->FromServer(bytes, toServer);
        if (step == StartTlsDialogue::Step::Upgrade) {
            rest = dialogue_->TakeRest();
        }
        owner_.OnPlainText(bytes.substr(0, bytes.size() - std::min(rest.size(), bytes.size())));
        wire_->Write(toServer);
        if (step == StartTlsDialogue::Step::Failed) {
            Fail(dialogue_->failure());
            return;
        }
        if (step != StartTlsDialogue::Step::Upgrade) {
            return;
        }
        StartHandshake();
        if (phase_ == Phase::Failed || rest.empty()) {
            return;
        }
        bytes = rest;
    } else if (phase_ != Phase::Handshake && phase_ != Phase::Open) {
        return;
    }
    tls_->Feed(bytes);
    FlushWire();
    tls_->TakeIncoming(incoming_);
    switch (tls_->state()) {
        case TlsState::Handshaking:
            break;
        case TlsState::Open:
        case TlsState::Closed:
            if (phase_ == Phase::Handshake) {
                phase_ = Phase::Open;
                openPending_ = true;
                if (dialogue_) {
                    // The greeting the server gave before TLS is what the client reads first.
                    incoming_.insert(incomingAt_, dialogue_->greeting());
                }
            }
            if (tls_->state() == TlsState::Closed) {
                wireEnded_ = true;  // close_notify: the rest of the wire is not read
                closeNotify_ = true;
            }
            break;
        case TlsState::Failed:
            if (phase_ == Phase::Open) {
                // A broken record once the session runs: the connection is lost, as by a reset.
                wireEnded_ = true;
                endError_ = kBrokenRecord;
                break;
            }
            Fail(DescribeTlsFailure(tls_->failure(), host_));
            break;
    }
}

void TlsSocket::FlushWire() {
    outgoing_.clear();
    tls_->TakeOutgoing(outgoing_);
    if (!outgoing_.empty() && wire_) {
        wire_->Write(outgoing_);
    }
}

void TlsSocket::WireEnded(int error) {
    if (wireEnded_) {
        return;  // after close_notify the rest of the wire means nothing
    }
    wireEnded_ = true;
    endError_ = error;
    switch (phase_) {
        case Phase::Connecting:
        case Phase::Dialogue:
            closedBeforeTls_ = true;
            Fail("server closed the connection before TLS");
            return;
        case Phase::Handshake:
            tls_->EndOfInput();
            FlushWire();
            Fail(tls_->state() == TlsState::Failed ? DescribeTlsFailure(tls_->failure(), host_)
                                                   : "server closed the connection during "
                                                     "the TLS handshake");
            return;
        case Phase::Open:
            tls_->EndOfInput();
            tls_->TakeIncoming(incoming_);
            return;
        case Phase::Failed:
            return;
    }
}

void TlsSocket::Fail(std::string reason) {
    if (phase_ == Phase::Failed) {
        return;
    }
    phase_ = Phase::Failed;
    failure_ = std::move(reason);
    failurePending_ = true;
}

void TlsSocket::Report() {
    const std::weak_ptr<bool> alive = alive_;
    if (failurePending_) {
        failurePending_ = false;
        owner_.OnTlsFailed(failure_, dialogue_ && dialogue_->news());
        return;
    }
    if (phase_ != Phase::Open) {
        return;
    }
    if (openPending_) {
        openPending_ = false;
        Writable();  // anything written before the connection stood
        if (alive.expired()) {
            return;
        }
        owner_.OnConnect(0);
        if (alive.expired()) {
            return;
        }
    }
    if (paused_) {
        return;
    }
    if (Unread() > 0) {
        owner_.OnReceive();
        if (alive.expired()) {
            return;
        }
    }
    if (wireEnded_ && !closeReported_ && Unread() == 0) {
        closeReported_ = true;
        owner_.OnClose(endError_);
        return;
    }
    if (Unread() > 0 && !paused_) {
        ReportLater();  // the owner read part of it: the rest is announced again
    }
}

void TlsSocket::ReportLater() {
    const bool due = failurePending_ || (phase_ == Phase::Open && (Unread() > 0 || wireEnded_));
    if (reportPosted_ || !due) {
        return;
    }
    reportPosted_ = true;
    loop_.Post([this, alive = std::weak_ptr<bool>(alive_)] {
        const auto stillAlive = alive.lock();
        if (!stillAlive || !*stillAlive) {
            return;
        }
        reportPosted_ = false;
        Report();
    });
}

}  // namespace vantel
