#include "core/relay/RelaySession.h"

#include <algorithm>
#include <exception>
#include <string_view>

#include "core/protocol/ProtocolDescriptor.h"
#include "core/protocol/pop3/Pop3LoginSwap.h"
#include "core/relay/SecurityProblem.h"

namespace vantel {
namespace {

SocketKind ClientKind(const ServerEntry& entry) {
    return entry.Is(ServerType::Pop3) ? SocketKind::Pop3ClientSide : SocketKind::SendClientSide;
}

SocketKind ServerKind(const ServerEntry& entry) {
    return entry.Is(ServerType::Pop3) ? SocketKind::Pop3ServerSide : SocketKind::SendServerSide;
}

/// `text` with every control byte as '?', fit to go in one line to the client.
std::string ClientLineText(std::string_view text) {
    std::string line;
    for (const char c : text) {
        line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
    }
    return line;
}

/// What the client is told when the server connection could not be secured, in its protocol's
/// words: it can show that, where a dropped connection would only puzzle the user.
std::string ClientRefusal(const ServerEntry& entry, bool news, std::string_view reason) {
    // Certificate names come from the server: none of their bytes may end the line.
    const std::string text =
        "Vantel could not secure the connection to " + entry.Name + ": " + ClientLineText(reason);
    // Before any greeting only the port tells news (563 over TLS) from mail.
    const bool newsPort = news || entry.RemotePort == 563;
    return DescriptorOf(ServerTypeFromStored(entry.Type), newsPort).RefusalLine(text);
}

/// `ms` in seconds for people: "20 s", "0.3 s".
std::string SecondsText(std::uint64_t ms) {
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000 != 0) {
        text += "." + std::to_string(ms % 1000 / 100);
    }
    return text + " s";
}

}  // namespace

RelaySession::RelaySession(SessionContext& engine, std::uint64_t id,
                           std::shared_ptr<const ServerEntry> entry, int connectTimeoutSeconds)
    : engine_(engine),
      id_(id),
      entryCopy_(std::move(entry)),
      entry_(*entryCopy_),
      connector_(engine.loop(), engine.tls(), entry_, server_, *this),
      client_(*this, ClientKind(entry_)),
      server_(*this, ServerKind(entry_)),
      connectTimeoutSeconds_(connectTimeoutSeconds),
      securingLimitMs_(engine.securingLimitMs()),
      framer_(MakeSessionFramer(entry_, engine.rewriter(), engine.maxHeldLiteral(), *this)),
      batch_(engine.onwardBuffer()),
      answers_(engine.backBuffer()) {
    if (engine.tracing()) {
        // The masker hears from the framer what the client's bytes are; untraced, nobody need.
        // The session entry's type tells it what its client says.
        client_.masker = std::make_unique<SecretMasker>(ServerTypeFromStored(entry_.Type));
        framer_->Observe(client_.masker.get());
    }
    if (connectTimeoutSeconds > 0) {
        connectDeadline_ =
            engine_.loop().NowMs() + static_cast<std::uint64_t>(connectTimeoutSeconds) * 1000;
    }
}

void RelaySession::Guarded(const std::function<void()>& work) {
    if (finished_) {
        return;
    }
    try {
        work();
    } catch (const std::exception& e) {
        engine_.Notify({std::string(kFailedText), entry_.Label(), "", e.what()});
        Abort();
    } catch (...) {
        engine_.Notify({std::string(kFailedText), entry_.Label(), "", "unknown error"});
        Abort();
    }
}

void RelaySession::Start(std::unique_ptr<AsyncSocket> client) {
    client_.socket = std::move(client);
    client_.socket->SetNoDelay();
    client_.connected = true;
    Guarded([this] {
        if (entry_.RemotePort <= 0 || entry_.RemotePort > 65535) {
            // From the loop, like every other end of a session.
            engine_.Later(id_, [this] { Fail(entry_.Name, "the remote port is out of range"); });
            return;
        }
        if (std::string problem = SecurityProblem(entry_, engine_.tls(), engine_.tlsProblem());
            !problem.empty()) {
            engine_.Later(id_, [this, problem] { TlsFailed(problem, false); });
            return;
        }
        if (entry_.SignsInWithOAuth() &&
            entry_.SignIn != StoredSignInMethod(SignInMethod::OAuth2)) {
            // A newer program's way to sign in: the client's login is not passed on instead.
            engine_.Later(id_, [this] {
                Guarded([&] {
                    engine_.Notify({std::string(kUnknownSignInText), entry_.Label(), entry_.Name,
                                    "the entry's sign-in method is unknown to this version"});
                    Refuse(DescriptorOf(ServerTypeFromStored(entry_.Type))
                               .RefusalLine("Vantel does not know how this entry signs in"));
                });
            });
            return;
        }
        if (std::string reason = Pop3LoginSwap::UnsafeLoginReason(entry_); !reason.empty()) {
            engine_.Later(id_, [this, reason] {
                Guarded([&] {
                    engine_.Notify(
                        {std::string(kUnsafeLoginText), entry_.Label(), entry_.Name, reason});
                    Refuse("-ERR Vantel did not send the stored login to " +
                           ClientLineText(entry_.Name) + ": " + reason + "\r\n");
                });
            });
            return;
        }
        // The client's first lines wait on the server end meanwhile.
        connector_.Start();
    });
}

void RelaySession::OnServerConnected(std::unique_ptr<AsyncSocket> socket, const TlsClient*) {
    server_.socket = std::move(socket);
    ServerConnected();
}

void RelaySession::OnServerFailed(const ServerFailure& failure) {
    switch (failure.kind) {
        case ServerFailure::Kind::NoSocket:
            // Its own notice: the host is fine, this computer is out of sockets. New clients
            // wait in the listeners' queues for a while rather than be taken and dropped.
            if (engine_.OutOfSockets()) {
                engine_.Notify({std::string(kSocketFailedText), entry_.Label(), failure.address,
                                failure.reason});
            }
            Abort();
            return;
        case ServerFailure::Kind::Unreachable:
            // With several addresses, the last one tried and why it failed; the client, who
            // would otherwise wait for a greeting that never comes, is let go.
            Fail(failure.address.empty() ? entry_.Name : failure.address, failure.reason);
            return;
        case ServerFailure::Kind::Insecure:
            TlsFailed(failure.reason, failure.news);
            return;
    }
}

void RelaySession::TlsFailed(const std::string& reason, bool news) {
    Guarded([&] {
        engine_.Notify({std::string(kTlsFailedText), entry_.Label(),
                        connector_.address().empty() ? entry_.Name : connector_.address(), reason});
        Refuse(ClientRefusal(entry_, news, reason));
    });
}

void RelaySession::Refuse(const std::string& answer) {
    // Whatever the client said so far was for a server it will never reach.
    server_.socket.reset();
    server_.held.clear();
    server_.broken = true;
    server_.readEnded = true;
    connector_.Cancel();
    connectDeadline_ = 0;
    engine_.TraceBlock(server_, answer);
    Deliver(client_, answer);
    if (!client_.readEnded) {
        client_.readEnded = true;
        if (client_.socket) {
            client_.socket->PauseReceive(true);
        }
    }
    EndDirection(client_);
    CheckFinished();
}

void RelaySession::ServerConnected() {
    engine_.SocketsAvailable();
    server_.connected = true;
    if (server_.readEnded) {
        server_.socket->PauseReceive(true);  // the relay is stopping: it only delivers now
    }
    if (!server_.held.empty()) {
        const std::string held = std::move(server_.held);
        server_.held.clear();
        server_.socket->Write(held);
    }
    SendEndIfDue(server_);
    CheckFinished();
}

void RelaySession::Fail(std::string host, std::string reason) {
    engine_.Notify(
        {std::string(kConnectFailedText), entry_.Label(), std::move(host), std::move(reason)});
    Abort();
}

void RelaySession::Emit(const std::string& toServer, const std::string& toClient) {
    Guarded([&] {
        if (!toServer.empty()) {
            engine_.TraceBlock(client_, toServer);
            Deliver(server_, toServer);
        }
        if (!toClient.empty()) {
            engine_.TraceBlock(server_, toClient);
            Deliver(client_, toClient);
        }
        // The login may have let held client bytes, or the end of the client's stream, go.
        SendEndIfDue(server_);
        ResumeIfDrained(server_);
        CheckFinished();
    });
}

void RelaySession::After(std::uint32_t delayMs, std::function<void()> work) {
    SessionContext& engine = engine_;
    const std::uint64_t id = id_;
    auto guarded = [this, work = std::move(work)] { Guarded(work); };
    if (delayMs == 0) {
        engine.Later(id, std::move(guarded));
        return;
    }
    // The timer holds no pointer to the session: Later finds out whether it still runs.
    engine.loop().StartTimer(delayMs, false, [&engine, id, guarded] { engine.Later(id, guarded); });
}

void RelaySession::Readable(RelaySocket& end) {
    Guarded([&] { Pump(end); });
}

void RelaySession::Closed(RelaySocket& end, int error) {
    Guarded([&] {
        if (error != 0) {
            // Whatever the system still holds for us is read first, then the end is given up.
            end.broken = true;
            if (!end.readPaused) {
                Pump(end);
            }
            if (!end.readEnded) {
                EndOfStream(end, true);
            }
            return;
        }
        end.endSeen = true;
        if (!end.readPaused) {
            Pump(end);
        }
    });
}

void RelaySession::Sent(RelaySocket& end, std::size_t backlog) {
    Guarded([&] {
        if (backlog <= kLowWater) {
            ResumeIfDrained(end);
        }
        CheckFinished();
    });
}

void RelaySession::Pump(RelaySocket& from) {
    if (finished_ || from.readEnded || !from.socket || !from.connected) {
        return;
    }
    RelaySocket& to = Other(from);
    batch_.clear();
    answers_.clear();
    bool ended = false;
    bool full = false;
    // After the end of the stream was seen only buffered data is left: it is read in one go.
    // While tracing, one system call takes what is left of the event's blocks, relayed as the
    // blocks of at most kReceiveBlock bytes that a call per block would have read, so the
    // rewriting and the trace see the same cuts, at a fraction of the calls. Without a trace
    // nobody sees the cuts: one call takes as much as the other end may still queue, and the
    // read goes on whole.
    const bool tracing = engine_.tracing();
    const std::size_t cut = tracing ? kReceiveBlock : std::string_view::npos;
    for (int blocks = 0; from.endSeen || blocks < kBlocksPerEvent;) {
        if (Outgoing(to) + batch_.size() > kHighWater) {
            full = true;
            break;
        }
        const int room = from.endSeen ? kBlocksPerEvent : kBlocksPerEvent - blocks;
        std::size_t wanted = kHighWater;
        long n = batch_.empty() && Forwards(from) ? from.socket->Forward(*to.socket, wanted)
                                                  : AsyncSocket::kCannotForward;
        const bool forwarded = n != AsyncSocket::kCannotForward;
        if (!forwarded) {
            wanted = tracing ? static_cast<std::size_t>(room) * kReceiveBlock
                             : std::max(kReceiveBlock, kHighWater - Outgoing(to) - batch_.size());
            n = from.socket->Receive(engine_.receiveBuffer(), wanted);
        }
        if (n == AsyncSocket::kWouldBlock) {
            break;
        }
        if (n <= 0) {
            ended = true;
            from.broken = from.broken || n != 0;
            break;
        }
        const auto size = static_cast<std::size_t>(n);
        if (forwarded) {
            engine_.CountRead(size);
            if (&from == &server_) {
                framer_->ServerPassedUnread();
            }
        } else {
            const std::string_view read(engine_.receiveBuffer(), size);
            for (std::size_t at = 0; at < read.size(); at += cut) {
                RelayBlock(from, read.substr(at, cut));
            }
        }
        blocks += static_cast<int>((size + kReceiveBlock - 1) / kReceiveBlock);
        // A short read took all there was: the loop reports what comes later, so no call is
        // spent on finding the socket empty.
        if (size < wanted && !from.endSeen && !from.broken) {
            break;
        }
    }
    // The blocks go on together: with TCP_NODELAY a write per 2,048-byte block would put each
    // into a TCP segment of its own, and the segments, not the bytes, are what cost the time.
    Deliver(to, batch_);
    Deliver(from, answers_);
    batch_.clear();
    answers_.clear();
    if (&from == &server_) {
        // The server's answer may have let held client bytes go.
        SendEndIfDue(server_);
        ResumeIfDrained(server_);
    }
    if (ended) {
        EndOfStream(from, from.broken);
        return;
    }
    if (full && !from.readPaused) {
        from.readPaused = true;
        from.socket->PauseReceive(true);
    }
}

void RelaySession::RelayBlock(RelaySocket& from, std::string_view block) {
    engine_.CountRead(block.size());
    const std::size_t onward = batch_.size();
    const std::size_t back = answers_.size();
    if (&from == &server_) {
        connectDeadline_ = 0;  // the server has spoken
        if (client_.masker) {
            client_.masker->ServerReplied(block);  // it follows the server only for the trace
        }
        framer_->FromServer(block, batch_, answers_);
    } else {
        framer_->FromClient(block, batch_, answers_);
    }
    engine_.TraceBlock(from, std::string_view(batch_).substr(onward));
    if (answers_.size() > back) {
        engine_.TraceBlock(Other(from), std::string_view(answers_).substr(back));
    }
}

bool RelaySession::Forwards(RelaySocket& from) {
    // What is forwarded is never seen here, so it can be neither traced nor rewritten.
    RelaySocket& to = Other(from);
    // The socket itself declines while `to` has bytes queued.
    return !engine_.tracing() && framer_->PassesUnread(&from == &server_) && to.connected &&
           !to.broken && to.socket;
}

std::size_t RelaySession::Outgoing(RelaySocket& to) const {
    return to.Backlog() + (&to == &server_ ? framer_->HeldForServer() : 0);
}

void RelaySession::Deliver(RelaySocket& to, std::string_view bytes) {
    if (bytes.empty() || to.broken) {
        return;  // an end whose connection failed takes nothing more
    }
    if (!to.connected) {
        to.held.append(bytes);
        return;
    }
    if (to.socket) {
        to.socket->Write(bytes);
    }
}

void RelaySession::DeliverCarried(RelaySocket& from) {
    std::string carried;
    if (&from == &client_) {
        framer_->ClientEnded(carried);
    } else {
        framer_->ServerEnded(carried);
    }
    if (carried.empty()) {
        return;
    }
    // Relayed text like any other: traced (and so masked) before it goes.
    engine_.TraceBlock(from, carried);
    if (&from == &server_ && client_.masker) {
        client_.masker->ServerReplied(carried);
    }
    Deliver(Other(from), carried);
}

void RelaySession::EndOfStream(RelaySocket& from, bool broken) {
    from.readEnded = true;
    from.endSeen = false;
    from.broken = from.broken || broken;
    RelaySocket& to = Other(from);
    // Asked before the framer hears of the end, which settles what it holds.
    const bool cut = &from == &server_ && framer_->ServerInMessage() &&
                     (from.broken || (from.socket && from.socket->Truncated()));
    DeliverCarried(from);
    if (&from == &client_ && !server_.connected && server_.held.empty()) {
        Abort();  // the client left before saying anything: nobody is waiting for the server
        return;
    }
    if (cut) {
        CutClient();
    }
    if (from.broken) {
        // Nothing can reach `from` any more: what its partner still says has nowhere to go.
        if (!to.readEnded) {
            to.readEnded = true;
            if (to.socket) {
                to.socket->PauseReceive(true);
            }
        }
    }
    EndDirection(to);
    CheckFinished();
}

void RelaySession::CutClient() {
    // A plain end here would pass the part for the whole. A reset after what was relayed
    // lets the client tell: it reads every byte the system delivers before it, and then a
    // failed connection; what the system still held unsent is lost with it, which costs
    // nothing as the message is incomplete anyway.
    engine_.TraceNote(server_.socket && server_.socket->Truncated()
                          ? "The server's TLS stream ended without close_notify in the middle of "
                            "a message: the client's connection is reset"
                          : "The server's connection broke off in the middle of a message: the "
                            "client's connection is reset");
    client_.resetWanted = true;
    if (!client_.readEnded) {
        // The client's connection goes: what it says from now on has nowhere to go.
        client_.readEnded = true;
        if (client_.socket) {
            client_.socket->PauseReceive(true);
        }
        DeliverCarried(client_);
        EndDirection(server_);
    }
}

void RelaySession::EndDirection(RelaySocket& to) {
    to.shutDownWanted = true;
    SendEndIfDue(to);
}

void RelaySession::SendEndIfDue(RelaySocket& to) {
    if (!to.shutDownWanted || !to.connected || !to.socket || to.broken) {
        return;
    }
    if (&to == &server_ && framer_->HeldForServer() > 0) {
        return;  // client bytes wait for the server's go-ahead; the end follows them
    }
    if (to.resetWanted) {
        to.socket->Reset();
    } else {
        to.socket->ShutDownSend();
    }
}

void RelaySession::ResumeIfDrained(RelaySocket& to) {
    RelaySocket& source = Other(to);
    if (!source.readPaused || source.readEnded || Outgoing(to) > kLowWater) {
        return;
    }
    source.readPaused = false;
    if (source.socket) {
        source.socket->PauseReceive(false);
    }
    if (source.endSeen) {
        Pump(source);  // its end came while it was paused: no further event announces it
    }
}

void RelaySession::Stop() {
    Guarded([this] {
        for (RelaySocket* end : {&client_, &server_}) {
            if (!end->readEnded) {
                end->readEnded = true;
                if (end->socket) {
                    end->socket->PauseReceive(true);
                }
                DeliverCarried(*end);
            }
        }
        if (!server_.connected && server_.held.empty()) {
            Abort();
            return;
        }
        EndDirection(client_);
        EndDirection(server_);
        CheckFinished();
    });
}

void RelaySession::CheckFinished() {
    if (finished_) {
        return;
    }
    if (!client_.readEnded || !server_.readEnded) {
        return;
    }
    if (client_.Drained() && server_.Drained()) {
        Finish();
    } else if (drainDeadline_ == 0) {
        drainDeadline_ = engine_.loop().NowMs() + kDrainTimeoutMs;
    }
}

bool RelaySession::SweepSecuring(std::uint64_t now) {
    if (server_.connected || !connector_.Securing()) {
        return false;
    }
    // ConnectTimeout bounds the securing as it bounds the connect; where it waits for ever,
    // the relay's own limit does, as nothing else would end a server that stalls here.
    const bool set = connectTimeoutSeconds_ > 0;
    if (set && connectDeadline_ == 0) {
        return true;
    }
    const std::uint64_t due =
        set ? connectDeadline_ : connector_.securingSince() + securingLimitMs_;
    if (due <= now) {
        connector_.GiveUp(set ? std::to_string(connectTimeoutSeconds_) + " s"
                              : SecondsText(securingLimitMs_));
    }
    return true;
}

void RelaySession::Sweep(std::uint64_t now) {
    if (finished_) {
        return;
    }
    const bool connectDue = !SweepSecuring(now) && connectDeadline_ != 0 && connectDeadline_ <= now;
    if (connectDue && !server_.connected) {
        // The connection itself never came about: the user hears of it like of a refusal.
        connector_.GiveUp(std::to_string(connectTimeoutSeconds_) + " s");
    } else if (connectDue || (drainDeadline_ != 0 && drainDeadline_ <= now)) {
        Abort();  // a server that connected but never spoke is let go quietly
    }
}

void RelaySession::Abort() {
    Finish();
}

void RelaySession::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    // The sockets close now; this object, whose ends may be in the middle of an event, goes
    // once the event is over.
    client_.socket.reset();
    server_.socket.reset();
    connector_.Cancel();
    engine_.SessionFinished(*this);
}

}  // namespace vantel
