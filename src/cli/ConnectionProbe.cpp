#include "cli/ConnectionProbe.h"

#include <algorithm>
#include <utility>

#include "core/protocol/ProtocolDescriptor.h"
#include "core/relay/SecurityProblem.h"
#include "platform/TlsFailure.h"

namespace vantel {
namespace {

/// Bytes read from the server at a time; a server that sends more gets another event.
constexpr std::size_t kReadBlock = 16 * 1024;

/// "5 s", "1500 ms".
std::string Duration(std::uint32_t ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

/// Whether the handshake failed at the certificate check, rather than before it.
bool IsCertificateProblem(TlsProblem problem) {
    switch (problem) {
        case TlsProblem::Untrusted:
        case TlsProblem::NameMismatch:
        case TlsProblem::Expired:
        case TlsProblem::NotYetValid:
        case TlsProblem::PinMismatch:
            return true;
        case TlsProblem::None:
        case TlsProblem::Handshake:
        case TlsProblem::Closed:
            return false;
    }
    return false;
}

}  // namespace

ConnectionProbe::ConnectionProbe(EventLoop& loop, TlsContext* tls, std::string tlsProblem)
    : loop_(loop), tls_(tls), tlsProblem_(std::move(tlsProblem)) {}

ConnectionProbe::~ConnectionProbe() = default;

ProbeReport ConnectionProbe::Run(const ServerEntry& entry, std::uint32_t timeoutMs) {
    entry_ = entry;
    report_ = ProbeReport{};
    report_.host = entry.Name;
    report_.port = entry.RemotePort;
    timeoutMs_ = std::max<std::uint32_t>(timeoutMs, 1);
    addresses_.clear();
    connectFailure_.clear();
    greetingDone_ = false;
    lineStart_ = 0;

    if (entry.RemotePort <= 0 || entry.RemotePort > 65535) {
        report_.error = "the remote port is out of range";
        return std::move(report_);
    }
    if (std::string problem = SecurityProblem(entry, tls_, tlsProblem_); !problem.empty()) {
        report_.error = std::move(problem);
        return std::move(report_);
    }
    if (entry.Encrypted()) {
        client_ = tls_->CreateClient({entry.Name, entry.Fingerprint});
    }
    if (entry.Uses(SecurityMode::StartTls)) {
        dialogue_ = std::make_unique<StartTlsDialogue>(ServerTypeFromStored(entry.Type));
    }

    phase_ = Phase::Resolving;
    run_ = std::make_shared<bool>(true);
    deadline_ = loop_.StartTimer(timeoutMs_, false, [this] { TimedOut(); });
    loop_.Resolve(entry.Name, static_cast<std::uint16_t>(entry.RemotePort),
                  [this, run = std::weak_ptr<bool>(run_)](std::vector<SocketAddress> addresses,
                                                          std::string error) {
                      if (!run.expired()) {
                          Resolved(std::move(addresses), error);
                      }
                  });
    loop_.Run();

    if (phase_ != Phase::Done) {
        // The loop was stopped from elsewhere (the user pressed Ctrl+C, say).
        Finish("the probe was stopped");
    }
    loop_.StopTimer(deadline_);
    loop_.StopTimer(goodbyeTimer_);
    wire_.reset();
    client_.reset();
    dialogue_.reset();
    run_.reset();
    return std::move(report_);
}

void ConnectionProbe::Resolved(std::vector<SocketAddress> addresses, const std::string& error) {
    if (phase_ != Phase::Resolving) {
        return;
    }
    if (addresses.empty()) {
        Finish(error.empty() ? "no such host" : error);
        return;
    }
    addresses_ = std::move(addresses);
    phase_ = Phase::Connecting;
    ConnectNext();
}

void ConnectionProbe::ConnectNext() {
    while (!addresses_.empty()) {
        const SocketAddress address = addresses_.front();
        addresses_.erase(addresses_.begin());
        report_.address = address.ToString();
        wire_ = loop_.CreateSocket(*this);
        int code = 0;
        const ConnectResult result =
            wire_ ? wire_->Connect(address, code) : ConnectResult::NoSocket;
        switch (result) {
            case ConnectResult::Connected:
                Connected();
                return;
            case ConnectResult::InProgress:
                return;
            case ConnectResult::NoSocket:
                Finish(code != 0 ? loop_.DescribeError(code) : "the system has no socket left");
                return;
            case ConnectResult::Failed:
                connectFailure_ = loop_.DescribeError(code);
                wire_.reset();
                break;
        }
    }
    Finish(connectFailure_.empty() ? "no address left to try" : connectFailure_);
}

void ConnectionProbe::OnConnect(int error) {
    if (phase_ != Phase::Connecting) {
        return;
    }
    if (error != 0) {
        // The name's other addresses come first, as in the relay.
        connectFailure_ = loop_.DescribeError(error);
        wire_.reset();
        ConnectNext();
        return;
    }
    Connected();
}

void ConnectionProbe::Connected() {
    report_.connected = true;
    addresses_.clear();
    wire_->SetNoDelay();
    if (!entry_.Uses(SecurityMode::SslTls)) {
        phase_ = Phase::Plain;  // the server speaks first
        return;
    }
    phase_ = Phase::Handshake;
    client_->Start();
    FlushTls();
    if (client_->state() == TlsState::Failed) {
        TlsFailed();  // it could not even begin
    }
}

void ConnectionProbe::OnReceive() {
    if (phase_ == Phase::Done || !wire_) {
        return;
    }
    char block[kReadBlock];
    const long n = wire_->Receive(block, sizeof block);
    if (n == AsyncSocket::kWouldBlock) {
        return;
    }
    if (n <= 0) {
        Ended(n == 0 ? 0 : -1);
        return;
    }
    FromServer(std::string_view(block, static_cast<std::size_t>(n)));
}

void ConnectionProbe::OnClose(int error) {
    // What the system still holds comes before the end.
    char block[kReadBlock];
    while (phase_ != Phase::Done && wire_) {
        const long n = wire_->Receive(block, sizeof block);
        if (n <= 0) {
            break;
        }
        FromServer(std::string_view(block, static_cast<std::size_t>(n)));
    }
    if (phase_ != Phase::Done) {
        Ended(error);
    }
}

void ConnectionProbe::FromServer(std::string_view bytes) {
    switch (phase_) {
        case Phase::Plain:
            FromServerInPlainText(bytes);
            return;
        case Phase::Handshake:
        case Phase::SecureGreeting:
            FeedTls(bytes);
            return;
        case Phase::Goodbye:
            if (client_ && client_->state() == TlsState::Open) {
                client_->Feed(bytes);  // the answer to the goodbye: of no interest
                std::string ignored;
                client_->TakeIncoming(ignored);
                FlushTls();
            }
            return;
        case Phase::Resolving:
        case Phase::Connecting:
        case Phase::Done:
            return;
    }
}

void ConnectionProbe::FromServerInPlainText(std::string_view bytes) {
    const bool greeted = CollectGreeting(bytes);
    if (!dialogue_) {
        if (greeted) {
            Goodbye();
        }
        return;
    }
    std::string toServer;
    const StartTlsDialogue::Step step = dialogue_->FromServer(bytes, toServer);
    if (!toServer.empty()) {
        wire_->Write(toServer);
    }
    if (step == StartTlsDialogue::Step::Failed) {
        Finish(dialogue_->failure());
        return;
    }
    if (step != StartTlsDialogue::Step::Upgrade) {
        return;
    }
    phase_ = Phase::Handshake;
    client_->Start();
    FlushTls();
    if (client_->state() == TlsState::Failed) {
        TlsFailed();
        return;
    }
    // What came right behind the go-ahead is the start of the server's TLS.
    const std::string rest = dialogue_->TakeRest();
    if (!rest.empty()) {
        FeedTls(rest);
    }
}

void ConnectionProbe::FeedTls(std::string_view bytes) {
    client_->Feed(bytes);
    FlushTls();
    std::string plaintext;
    client_->TakeIncoming(plaintext);
    const TlsState state = client_->state();
    if (phase_ == Phase::Handshake) {
        if (state == TlsState::Handshaking) {
            return;
        }
        if (state == TlsState::Failed) {
            TlsFailed();
            return;
        }
        Secured();
    }
    if (phase_ != Phase::SecureGreeting) {
        return;
    }
    if (CollectGreeting(plaintext)) {
        Goodbye();
    } else if (state == TlsState::Failed) {
        Finish(DescribeTlsFailure(client_->failure(), entry_.Name));
    } else if (state == TlsState::Closed) {
        Ended(0);
    }
}

void ConnectionProbe::FlushTls() {
    std::string ciphertext;
    client_->TakeOutgoing(ciphertext);
    if (!ciphertext.empty() && wire_) {
        wire_->Write(ciphertext);
    }
}

void ConnectionProbe::Secured() {
    report_.encrypted = true;
    report_.tlsVersion = client_->version();
    report_.cipher = client_->cipher();
    NoteCertificate();
    report_.verified = true;
    report_.verification = entry_.Fingerprint.empty()
                               ? "verified: the certificate is trusted and is for " + entry_.Name
                               : "verified: the certificate is the pinned one";
    if (dialogue_) {
        Goodbye();  // the greeting came before TLS; the server sends none after it
    } else {
        phase_ = Phase::SecureGreeting;
    }
}

void ConnectionProbe::TlsFailed() {
    NoteCertificate();
    const TlsFailure& failure = client_->failure();
    const std::string reason = DescribeTlsFailure(failure, entry_.Name);
    if (IsCertificateProblem(failure.problem)) {
        report_.verification = reason;
    }
    FlushTls();  // the alert that tells the server why
    Finish(reason);
}

void ConnectionProbe::NoteCertificate() {
    CertificateInfo certificate = client_->certificate();
    if (!certificate.fingerprint.empty()) {
        report_.certificateSeen = true;
        report_.certificate = std::move(certificate);
    }
}

bool ConnectionProbe::CollectGreeting(std::string_view bytes) {
    std::string& greeting = report_.greeting;
    while (!greetingDone_ && !bytes.empty()) {
        const std::size_t lf = bytes.find('\n');
        const std::size_t end = lf == std::string_view::npos ? bytes.size() : lf + 1;
        const std::size_t room = kMaxGreeting - greeting.size();
        if (end > room) {
            greeting.append(bytes.substr(0, room));
            report_.greetingCut = true;
            greetingDone_ = true;
            break;
        }
        greeting.append(bytes.substr(0, end));
        bytes.remove_prefix(end);
        if (greeting.back() != '\n') {
            break;
        }
        const std::string_view line = std::string_view(greeting).substr(lineStart_);
        lineStart_ = greeting.size();
        greetingDone_ = DescriptorOf(ServerTypeFromStored(entry_.Type)).EndsGreeting(line);
    }
    return greetingDone_;
}

void ConnectionProbe::Ended(int error) {
    switch (phase_) {
        case Phase::Plain:
        case Phase::SecureGreeting: {
            if (phase_ == Phase::SecureGreeting) {
                client_->EndOfInput();
                std::string plaintext;
                client_->TakeIncoming(plaintext);
                if (CollectGreeting(plaintext)) {
                    Finish();
                    return;
                }
            }
            std::string reason = report_.greeting.empty() ? "server closed the connection "
                                                            "without a greeting"
                                 : !greetingDone_ ? "server closed the connection during its "
                                                    "greeting"
                                                  : "server closed the connection before TLS";
            if (error != 0) {
                reason = error > 0 ? "connection failed: " + loop_.DescribeError(error)
                                   : "connection failed";  // a read failed; no code given
            }
            Finish(reason);
            return;
        }
        case Phase::Handshake:
            client_->EndOfInput();
            FlushTls();
            if (client_->state() == TlsState::Failed) {
                TlsFailed();
            } else {
                Finish("server closed the connection during the TLS handshake");
            }
            return;
        case Phase::Goodbye:
            Finish();
            return;
        case Phase::Resolving:
        case Phase::Connecting:
        case Phase::Done:
            return;
    }
}

void ConnectionProbe::TimedOut() {
    deadline_ = 0;
    const std::string after = "timed out after " + Duration(timeoutMs_);
    switch (phase_) {
        case Phase::Resolving:
            Finish("name lookup " + after);
            return;
        case Phase::Connecting:
            Finish(after);
            return;
        case Phase::Plain:
        case Phase::SecureGreeting:
            Finish(report_.greeting.empty() ? "no greeting: " + after
                   : !greetingDone_         ? "greeting not finished: " + after
                                            : "no answer before TLS: " + after);
            return;
        case Phase::Handshake:
            Finish("TLS handshake not finished: " + after);
            return;
        case Phase::Goodbye:
            Finish();
            return;
        case Phase::Done:
            return;
    }
}

void ConnectionProbe::Goodbye() {
    phase_ = Phase::Goodbye;
    const std::string_view goodbye = DescriptorOf(ServerTypeFromStored(entry_.Type)).goodbye;
    if (report_.encrypted) {
        client_->Write(goodbye);
        client_->Close();
        FlushTls();
    } else {
        wire_->Write(goodbye);
    }
    wire_->ShutDownSend();
    goodbyeTimer_ = loop_.StartTimer(kGoodbyeMs, false, [this] {
        goodbyeTimer_ = 0;
        Finish();
    });
}

void ConnectionProbe::Finish(const std::string& error) {
    if (phase_ == Phase::Done) {
        return;
    }
    phase_ = Phase::Done;
    if (!error.empty() && report_.error.empty()) {
        report_.error = error;
    }
    loop_.Quit();
}

}  // namespace vantel
