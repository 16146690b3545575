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

    phase_ = Phase::Reaching;
    SocketEvents& socketEvents = *this;
    ServerConnector::Events& connectorEvents = *this;
    connector_ =
        std::make_unique<ServerConnector>(loop_, tls_, entry_, socketEvents, connectorEvents);
    deadline_ = loop_.StartTimer(timeoutMs_, false, [this] { TimedOut(); });
    connector_->Start();
    loop_.Run();

    if (phase_ != Phase::Done) {
        // The loop was stopped from elsewhere (the user pressed Ctrl+C, say).
        Finish("the probe was stopped");
    }
    loop_.StopTimer(deadline_);
    loop_.StopTimer(goodbyeTimer_);
    socket_.reset();
    tlsClient_ = nullptr;
    connector_.reset();
    return std::move(report_);
}

void ConnectionProbe::OnServerReached() {
    report_.connected = true;
}

void ConnectionProbe::OnPlainText(std::string_view bytes) {
    // The STARTTLS dialogue's start is the greeting: the report keeps it as received.
    CollectGreeting(bytes);
}

void ConnectionProbe::OnServerConnected(std::unique_ptr<AsyncSocket> socket, const TlsClient* tls) {
    if (phase_ != Phase::Reaching) {
        return;
    }
    socket_ = std::move(socket);
    tlsClient_ = tls;
    report_.connected = true;
    if (tlsClient_ == nullptr) {
        phase_ = Phase::Greeting;  // the server speaks first
        return;
    }
    Secured();
}

void ConnectionProbe::OnServerFailed(const ServerFailure& failure) {
    if (phase_ != Phase::Reaching) {
        return;
    }
    if (failure.kind != ServerFailure::Kind::Insecure) {
        Finish(failure.reason);
        return;
    }
    if (failure.closedBeforeTls) {
        Finish(EndedText(failure.endError));  // in the words of a plain greeting cut short
        return;
    }
    NoteCertificate(failure.certificate);
    if (IsCertificateProblem(failure.tls.problem)) {
        report_.verification = failure.reason;
    }
    Finish(failure.reason);
}

void ConnectionProbe::OnReceive() {
    if (phase_ == Phase::Done || !socket_) {
        return;
    }
    char block[kReadBlock];
    const long n = socket_->Receive(block, sizeof block);
    if (n == AsyncSocket::kWouldBlock) {
        return;
    }
    if (n <= 0) {
        Ended(n == 0 ? 0 : -1);
        return;
    }
    if (phase_ == Phase::Greeting &&
        CollectGreeting(std::string_view(block, static_cast<std::size_t>(n)))) {
        Goodbye();
    }
}

void ConnectionProbe::OnClose(int error) {
    // What the system still holds comes before the end.
    char block[kReadBlock];
    while (phase_ != Phase::Done && socket_) {
        const long n = socket_->Receive(block, sizeof block);
        if (n <= 0) {
            break;
        }
        if (phase_ == Phase::Greeting &&
            CollectGreeting(std::string_view(block, static_cast<std::size_t>(n)))) {
            Goodbye();
        }
    }
    if (phase_ != Phase::Done) {
        Ended(error);
    }
}

void ConnectionProbe::Secured() {
    report_.encrypted = true;
    report_.tlsVersion = tlsClient_->version();
    report_.cipher = tlsClient_->cipher();
    NoteCertificate(tlsClient_->certificate());
    report_.verified = true;
    report_.verification = entry_.Fingerprint.empty()
                               ? "verified: the certificate is trusted and is for " + entry_.Name
                               : "verified: the certificate is the pinned one";
    if (entry_.Uses(SecurityMode::StartTls)) {
        Goodbye();  // the greeting came before TLS; the server sends none after it
    } else {
        phase_ = Phase::Greeting;
    }
}

void ConnectionProbe::NoteCertificate(CertificateInfo certificate) {
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

std::string ConnectionProbe::EndedText(int error) const {
    if (error != 0) {
        return error > 0 ? "connection failed: " + loop_.DescribeError(error)
                         : "connection failed";  // a read failed; no code given
    }
    return report_.greeting.empty() ? "server closed the connection without a greeting"
           : !greetingDone_         ? "server closed the connection during its greeting"
                                    : "server closed the connection before TLS";
}

std::string ConnectionProbe::GreetingTimeoutText(const std::string& after) const {
    return report_.greeting.empty() ? "no greeting: " + after
           : !greetingDone_         ? "greeting not finished: " + after
                                    : "no answer before TLS: " + after;
}

void ConnectionProbe::Ended(int error) {
    switch (phase_) {
        case Phase::Greeting:
            // A record that failed once TLS stood ends the stream too: the TLS client says why.
            if (tlsClient_ != nullptr && tlsClient_->state() == TlsState::Failed) {
                Finish(DescribeTlsFailure(tlsClient_->failure(), entry_.Name));
                return;
            }
            Finish(EndedText(error));
            return;
        case Phase::Goodbye:
            Finish();
            return;
        case Phase::Reaching:
        case Phase::Done:
            return;
    }
}

void ConnectionProbe::TimedOut() {
    deadline_ = 0;
    const std::string after = "timed out after " + Duration(timeoutMs_);
    switch (phase_) {
        case Phase::Reaching:
            switch (connector_->stage()) {
                case ServerConnector::Stage::Idle:
                case ServerConnector::Stage::Resolving:
                    Finish("name lookup " + after);
                    return;
                case ServerConnector::Stage::Dialogue:
                    Finish(GreetingTimeoutText(after));
                    return;
                case ServerConnector::Stage::Handshake:
                    Finish("TLS handshake not finished: " + after);
                    return;
                case ServerConnector::Stage::Connecting:
                case ServerConnector::Stage::Connected:
                case ServerConnector::Stage::Failed:
                    Finish(after);
                    return;
            }
            return;
        case Phase::Greeting:
            Finish(GreetingTimeoutText(after));
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
    // Over TLS the end of the stream is sent as close_notify.
    socket_->Write(goodbye);
    socket_->ShutDownSend();
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
    if (connector_) {
        // The address connected to, or when none could be, the last one tried.
        report_.address = connector_->address();
    }
    if (!error.empty() && report_.error.empty()) {
        report_.error = error;
    }
    loop_.Quit();
}

}  // namespace vantel
