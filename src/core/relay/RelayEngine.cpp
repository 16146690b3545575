#include "core/relay/RelayEngine.h"

#include <algorithm>

namespace vantel {
namespace {

constexpr int kPop3 = static_cast<int>(ServerType::Pop3);

/// The port and current 0-based ordinal of the default group of `kind`.
struct Group {
    int port;
    int ordinal;
};

Group DefaultGroup(const RelaySettings& settings, int kind) {
    switch (kind) {
        case static_cast<int>(ServerType::Smtp):
            return {settings.DefaultPort, settings.DefaultServer};
        case kPop3:
            return {settings.DefaultPOPPort, settings.DefaultPOPServer - 1};
        default:
            return {143, 0};
    }
}

bool InGroup(const ServerEntry& entry, int kind, int port) {
    return entry.Type == kind && entry.LocalPort == port;
}

/// Text as traced: ends at the first NUL, at most 255 bytes.
std::string_view TraceCut(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    return text.substr(0, 255);
}

}  // namespace

RelayEngine::RelayEngine(RelaySettings& settings, EventLoop& loop, MessageRewriter& rewriter,
                         Notifier& notifier, TraceSink* trace, RelayStateObserver& observer)
    : settings_(settings),
      loop_(loop),
      rewriter_(rewriter),
      notifier_(notifier),
      trace_(trace),
      observer_(observer),
      receiveBuffer_(kReceiveBlock) {
    sweepTimer_ = loop_.StartTimer(kSweepPeriodMs, true, [this] { SweepPendingCloses(); });
}

RelayEngine::~RelayEngine() {
    ShutdownRelay();
}

void RelayEngine::ShutdownRelay() {
    *alive_ = false;
    pendingCloses_.clear();
    addressesToTry_.clear();
    for (auto& [id, socket] : sockets_) {
        socket->peer = nullptr;
    }
    sockets_.clear();
    graveyard_.clear();
    CloseListeners();
    if (sweepTimer_ != 0) {
        loop_.StopTimer(sweepTimer_);
        sweepTimer_ = 0;
    }
}

void RelayEngine::UpdateState(bool enabled, bool busy) {
    relayEnabled_ = enabled;
    relayBusy_ = busy;
    observer_.UpdateTrayIcon();
}

void RelayEngine::SetRelayState(bool enabled, bool busy) {
    relayEnabled_ = enabled;
    relayBusy_ = busy;
}

void RelayEngine::Later(std::function<void()> work) {
    loop_.Post([alive = std::weak_ptr<bool>(alive_), work = std::move(work)] {
        const auto flag = alive.lock();
        if (flag && *flag) {
            work();
        }
    });
}

void RelayEngine::Notify(std::string text, std::string detail) {
    Later([this, text = std::move(text), detail = std::move(detail)] {
        notifier_.ShowError(text, detail);
    });
}

void RelayEngine::StartRelay() {
    relayBusy_ = false;
    int smtpOrdinal = 0;
    int popOrdinal = 1;
    for (std::size_t i = 0; i < settings_.ServerList.size(); ++i) {
        const ServerEntry& entry = settings_.ServerList[i];
        // Of each default group only the chosen entry listens.
        if (InGroup(entry, static_cast<int>(ServerType::Smtp), settings_.DefaultPort) &&
            smtpOrdinal++ != settings_.DefaultServer) {
            continue;
        }
        if (InGroup(entry, kPop3, settings_.DefaultPOPPort) &&
            popOrdinal++ != settings_.DefaultPOPServer) {
            continue;
        }
        auto listener = std::make_unique<ListenSocket>(*this, static_cast<int>(i));
        std::string error;
        if (entry.LocalPort < 0 || entry.LocalPort > 65535) {
            error = "port out of range";
        } else {
            listener->socket = loop_.CreateSocket(*listener);
            if (!listener->socket) {
                error = "no socket could be created";
            } else if (!listener->socket->Listen(settings_.ListenAddress,
                                                 static_cast<std::uint16_t>(entry.LocalPort),
                                                 error)) {
                listener->socket.reset();
            }
        }
        if (!listener->socket) {
            Notify(std::string(kListenFailedText),
                   "port " + std::to_string(entry.LocalPort) + " for " + entry.Name + ": " + error);
            continue;
        }
        listener->port = entry.LocalPort;
        if (settings_.ListenAddress.empty()) {
            // Clients that try "localhost" as ::1 first find the port there too; a system
            // without IPv6 loopback simply has no second socket.
            std::string ignored;
            listener->ipv6Socket = loop_.CreateSocket(listener->Ipv6Events());
            if (listener->ipv6Socket &&
                !listener->ipv6Socket->Listen("::1", static_cast<std::uint16_t>(entry.LocalPort),
                                              ignored)) {
                listener->ipv6Socket.reset();
            }
        }
        listeners_.push_back(std::move(listener));
    }
}

void RelayEngine::CloseListeners() {
    listeners_.clear();
}

void RelayEngine::CloseAllSessions() {
    pendingCloses_.clear();
    addressesToTry_.clear();
    for (auto& [id, socket] : sockets_) {
        socket->peer = nullptr;
        if (socket->socket) {
            socket->socket->ShutDownSend();
            socket->socket.reset();
        }
        graveyard_.push_back(std::move(socket));
    }
    sockets_.clear();
    Later([this] { graveyard_.clear(); });
    UpdateState(true, false);
}

int RelayEngine::FindDefaultListener(int kind) const {
    const int port = DefaultGroup(settings_, kind).port;
    for (const auto& listener : listeners_) {
        const auto index = static_cast<std::size_t>(listener->entryIndex);
        if (index < settings_.ServerList.size() &&
            InGroup(settings_.ServerList[index], kind, port)) {
            return listener->entryIndex;
        }
    }
    return -1;
}

void RelayEngine::SelectDefaultServer(int ordinal, int kind) {
    const Group group = DefaultGroup(settings_, kind);
    const int wanted = kind == kPop3 ? ordinal - 1 : ordinal;
    int current = -1;
    int next = -1;
    int number = 0;
    for (std::size_t j = 0; j < settings_.ServerList.size(); ++j) {
        if (!InGroup(settings_.ServerList[j], kind, group.port)) {
            continue;
        }
        if (number == group.ordinal) {
            current = static_cast<int>(j);
        }
        if (number == wanted) {
            next = static_cast<int>(j);
        }
        ++number;
    }
    if (current == -1 || next == -1) {
        return;
    }
    for (auto& listener : listeners_) {
        if (listener->entryIndex == current) {
            listener->entryIndex = next;
            return;
        }
    }
}

int RelayEngine::CyclePopServer() {
    const int count = static_cast<int>(std::count_if(
        settings_.ServerList.begin(), settings_.ServerList.end(),
        [this](const ServerEntry& e) { return InGroup(e, kPop3, settings_.DefaultPOPPort); }));
    const int next = settings_.DefaultPOPServer < count ? settings_.DefaultPOPServer + 1 : 1;
    SelectDefaultServer(next, kPop3);
    settings_.DefaultPOPServer = next;
    return next;
}

RelaySocket* RelayEngine::FindSocket(std::uint64_t id) {
    const auto found = sockets_.find(id);
    return found == sockets_.end() ? nullptr : found->second.get();
}

void RelayEngine::AcceptClient(ListenSocket& listener, AsyncSocket& from) {
    const bool wasEnabled = relayEnabled_;
    const bool wasBusy = relayBusy_;
    const int entryIndex = listener.entryIndex;
    const bool knownEntry =
        entryIndex >= 0 && static_cast<std::size_t>(entryIndex) < settings_.ServerList.size();
    const bool pop3 =
        knownEntry && settings_.ServerList[static_cast<std::size_t>(entryIndex)].Type == kPop3;

    auto client = std::make_unique<RelaySocket>(
        *this, nextId_++, pop3 ? SocketKind::Pop3ClientSide : SocketKind::SendClientSide,
        entryIndex);
    UpdateState(false, true);
    client->socket = from.Accept(*client);
    if (!client->socket || !knownEntry) {
        // Nothing to relay: a failed accept, or an entry removed while the port stayed open
        // (the connection is dropped by letting it go).
        if (sockets_.empty()) {
            UpdateState(wasEnabled, wasBusy);
        }
        return;
    }
    client->socket->SetNoDelay();
    client->connected = true;
    RelaySocket& clientRef = *client;
    sockets_.emplace(client->id, std::move(client));

    // With cycling, the next connection goes to the next POP3 entry; this one keeps its entry.
    if (listener.port == settings_.DefaultPOPPort && settings_.POPCycleChange != 0) {
        CyclePopServer();
    }
    ConnectRemote(clientRef, settings_.ServerList[static_cast<std::size_t>(entryIndex)]);
}

void RelayEngine::ConnectRemote(RelaySocket& client, const ServerEntry& entry) {
    const SocketKind kind = client.kind == SocketKind::Pop3ClientSide ? SocketKind::Pop3ServerSide
                                                                      : SocketKind::SendServerSide;
    auto server = std::make_unique<RelaySocket>(*this, nextId_++, kind, client.entryIndex);
    server->peer = &client;
    client.peer = server.get();
    const std::uint64_t serverId = server->id;
    if (settings_.ConnectTimeout > 0) {
        pendingCloses_.push_back(
            {server.get(),
             loop_.NowMs() + static_cast<std::uint64_t>(settings_.ConnectTimeout) * 1000});
    }
    sockets_.emplace(serverId, std::move(server));

    if (entry.RemotePort <= 0 || entry.RemotePort > 65535) {
        const std::string detail =
            entry.Name + ": remote port " + std::to_string(entry.RemotePort) + " is out of range";
        Later([this, serverId, detail] {
            if (RelaySocket* s = FindSocket(serverId)) {
                EndFailedSession(*s, detail);
            }
        });
        return;
    }
    // Resolving may take seconds; the loop goes on meanwhile and the client's first lines
    // wait in the server side's queue.
    const std::weak_ptr<bool> alive = alive_;
    loop_.Resolve(entry.Name, static_cast<std::uint16_t>(entry.RemotePort),
                  [this, alive, serverId](std::vector<SocketAddress> addresses, std::string error) {
                      const auto flag = alive.lock();
                      if (flag && *flag) {
                          ConnectResolved(serverId, std::move(addresses), error);
                      }
                  });
}

void RelayEngine::ConnectResolved(std::uint64_t serverId, std::vector<SocketAddress> addresses,
                                  const std::string& error) {
    RelaySocket* server = FindSocket(serverId);
    if (server == nullptr) {
        return;  // the session ended while the name was being resolved
    }
    const std::string host =
        settings_.ServerList.size() > static_cast<std::size_t>(server->entryIndex)
            ? settings_.ServerList[static_cast<std::size_t>(server->entryIndex)].Name
            : std::string();
    if (addresses.empty()) {
        EndFailedSession(*server, host + ": " + (error.empty() ? "no address" : error));
        return;
    }
    addressesToTry_[serverId] = std::move(addresses);
    std::string connectError;
    if (!ConnectNextAddress(*server, connectError)) {
        EndFailedSession(*server, host + ": " + connectError);
    }
}

bool RelayEngine::ConnectNextAddress(RelaySocket& server, std::string& error) {
    auto& addresses = addressesToTry_[server.id];
    while (!addresses.empty()) {
        const SocketAddress address = addresses.front();
        addresses.erase(addresses.begin());
        server.socket = loop_.CreateSocket(server);
        if (!server.socket) {
            error = "Could not create new socket";
            continue;
        }
        int code = 0;
        switch (server.socket->Connect(address, code)) {
            case ConnectResult::Connected:
                server.socket->SetNoDelay();
                RemoteConnected(server, 0);
                return true;
            case ConnectResult::InProgress:
                server.socket->SetNoDelay();
                return true;
            case ConnectResult::Failed:
                error = address.ToString() + ": error " + std::to_string(code);
                server.socket.reset();
                break;
        }
    }
    addressesToTry_.erase(server.id);
    if (error.empty()) {
        error = "no address left to try";
    }
    return false;
}

void RelayEngine::EndFailedSession(RelaySocket& server, const std::string& detail) {
    Notify(std::string(kConnectFailedText), detail);
    if (server.peer != nullptr) {
        Destroy(*server.peer);
    }
    Destroy(server);
}

void RelayEngine::RemoteConnected(RelaySocket& server, int error) {
    if (error != 0) {
        // Refused or unreachable: try the name's other addresses before giving up on the
        // session, whose client would otherwise wait for a greeting that never comes.
        server.socket.reset();
        std::string why = "connection failed, error " + std::to_string(error);
        if (!ConnectNextAddress(server, why)) {
            const std::size_t index = static_cast<std::size_t>(server.entryIndex);
            EndFailedSession(server, (index < settings_.ServerList.size()
                                          ? settings_.ServerList[index].Name + ": "
                                          : std::string()) +
                                         why);
        }
        return;
    }
    addressesToTry_.erase(server.id);
    server.connected = true;
    DrainQueue(server);
}

void RelayEngine::TraceBlock(RelaySocket& socket, std::string_view text) {
    if (trace_ == nullptr) {
        return;
    }
    const bool in = TracesAsIn(socket.kind);
    // The separate prefix marks a change of direction.
    if (in == traceTurn_) {
        trace_->Write("[Vantel] ");
    }
    trace_->Write(in ? "IN: \n" : "OUT: \n");
    std::string line = "[Vantel] ";
    if (IsClientSide(socket.kind)) {
        // The whole block goes through the masker: an AUTH line further on changes what the
        // following blocks show.
        line.append(TraceCut(socket.masker.MaskClientText(text)));
    } else {
        line.append(TraceCut(text));
    }
    trace_->Write(line);
    traceTurn_ = !in;
}

RelayEngine::ReadOutcome RelayEngine::RelayOneBlock(RelaySocket& socket) {
    const long n = socket.socket->Receive(receiveBuffer_.data(), receiveBuffer_.size());
    if (n == 0) {
        return ReadOutcome::End;
    }
    if (n < 0) {
        return ReadOutcome::Nothing;  // nothing to read now; a reset comes as a close
    }
    const std::string_view block(receiveBuffer_.data(), static_cast<std::size_t>(n));
    std::string_view out;
    switch (socket.kind) {
        case SocketKind::SendClientSide:
            out = rewriter_.ProcessMessageBlock(block, socket.stream, KludgeType::SmtpKludge);
            break;
        case SocketKind::Pop3ServerSide:
            out = rewriter_.ProcessMessageBlock(block, socket.stream, KludgeType::Pop3Kludge);
            break;
        case SocketKind::Pop3ClientSide:
            out = rewriter_.ProcessPop3ClientBlock(block, socket.stream, socket.entryIndex);
            break;
        case SocketKind::SendServerSide:
            out = block;
            break;
    }
    TraceBlock(socket, out);
    if (!TracesAsIn(socket.kind)) {
        // A server's reply ends a sent message, a client's command starts a new retrieved
        // one: the next block of the other direction is header again.
        socket.stream.inBody = false;
        if (socket.peer != nullptr) {
            socket.peer->stream.inBody = false;
        }
    }
    if (!IsClientSide(socket.kind) && socket.peer != nullptr) {
        socket.peer->masker.ServerReplied(block);
    }
    ForwardBlock(socket, out);
    return ReadOutcome::Data;
}

void RelayEngine::ReceiveBlock(RelaySocket& socket) {
    DropPendingClose(socket);
    if (!socket.socket) {
        return;
    }
    // Every block is read and rewritten on its own, but the blocks waiting are sent on in one
    // go: with TCP_NODELAY a send per block would put every 2,048 bytes into a TCP segment of
    // its own, and the segments, not the bytes, are what cost the time.
    ReadOutcome outcome = ReadOutcome::Data;
    holdSends_ = true;
    for (int i = 0; i < kBlocksPerEvent && outcome == ReadOutcome::Data; ++i) {
        outcome = RelayOneBlock(socket);
        if (socket.peer != nullptr && socket.peer->Queued() > kHighWater) {
            break;
        }
    }
    holdSends_ = false;
    if (socket.peer != nullptr) {
        DrainQueue(*socket.peer);
    }
    if (outcome == ReadOutcome::End) {
        CloseSession(socket, 0);
        return;
    }
    if (socket.peer != nullptr && socket.peer->Queued() > kHighWater && !socket.readPaused) {
        socket.readPaused = true;
        socket.socket->PauseReceive(true);
    }
}

void RelayEngine::ForwardBlock(RelaySocket& from, std::string_view data) {
    RelaySocket* peer = from.peer;
    if (peer == nullptr || data.empty()) {
        return;  // a session without a server side drops what its client sends
    }
    if (peer->sent == peer->outbound.size()) {
        peer->outbound.clear();
        peer->sent = 0;
    }
    peer->outbound.append(data);
    if (peer->connected && !holdSends_) {
        DrainQueue(*peer);
    }
}

void RelayEngine::DrainQueue(RelaySocket& socket) {
    if (!socket.socket || !socket.connected) {
        return;
    }
    while (socket.Queued() > 0) {
        const long r = socket.socket->Send(socket.outbound.data() + socket.sent, socket.Queued());
        if (r == AsyncSocket::kWouldBlock) {
            break;  // OnSend calls again when there is room
        }
        if (r <= 0) {
            // The connection broke; end the session from the loop, not from inside a send.
            const std::uint64_t id = socket.id;
            Later([this, id] {
                if (RelaySocket* s = FindSocket(id)) {
                    CloseSession(*s, -1);
                }
            });
            return;
        }
        socket.sent += static_cast<std::size_t>(r);
    }
    if (socket.sent > kHighWater && socket.sent * 2 > socket.outbound.size()) {
        socket.outbound.erase(0, socket.sent);
        socket.sent = 0;
    }
    RelaySocket* source = socket.peer;
    if (source != nullptr && source->readPaused && socket.Queued() <= kLowWater && source->socket) {
        source->readPaused = false;
        source->socket->PauseReceive(false);
    }
    if (socket.closing && socket.Queued() == 0) {
        socket.socket->ShutDownSend();
        Destroy(socket);
    }
}

void RelayEngine::CloseSession(RelaySocket& socket, int error) {
    // Whatever the closing side still had to say is read, rewritten and passed on first.
    if (error == 0 && socket.socket) {
        // Bounded: after the peer's end of stream only what is buffered can come.
        for (int reads = 0; reads < 4096 && RelayOneBlock(socket) == ReadOutcome::Data; ++reads) {
        }
    }
    const std::string carried = MessageRewriter::FlushStream(socket.stream);
    if (!carried.empty()) {
        ForwardBlock(socket, carried);
    }
    RelaySocket* peer = socket.peer;
    Destroy(socket);
    if (peer != nullptr) {
        CloseWhenSent(*peer);
    }
}

void RelayEngine::CloseWhenSent(RelaySocket& socket) {
    if (!socket.connected || !socket.socket || socket.Queued() == 0) {
        if (socket.socket && socket.connected) {
            socket.socket->ShutDownSend();
        }
        Destroy(socket);
        return;
    }
    socket.closing = true;
    socket.closeDeadline = loop_.NowMs() + kDrainTimeoutMs;
}

void RelayEngine::DropPendingClose(const RelaySocket& socket) {
    pendingCloses_.erase(std::remove_if(pendingCloses_.begin(), pendingCloses_.end(),
                                        [&](const PendingClose& p) { return p.socket == &socket; }),
                         pendingCloses_.end());
}

void RelayEngine::Destroy(RelaySocket& socket) {
    DropPendingClose(socket);
    addressesToTry_.erase(socket.id);
    if (socket.peer != nullptr) {
        socket.peer->peer = nullptr;
        socket.peer = nullptr;
    }
    socket.socket.reset();
    const auto found = sockets_.find(socket.id);
    if (found == sockets_.end()) {
        return;
    }
    graveyard_.push_back(std::move(found->second));
    sockets_.erase(found);
    if (graveyard_.size() == 1) {
        Later([this] { graveyard_.clear(); });
    }
    if (sockets_.empty()) {
        UpdateState(true, false);
    }
}

void RelayEngine::SweepPendingCloses() {
    const std::uint64_t now = loop_.NowMs();
    std::vector<RelaySocket*> expired;
    for (const PendingClose& pending : pendingCloses_) {
        if (pending.deadline <= now) {
            expired.push_back(pending.socket);
        }
    }
    for (auto& [id, socket] : sockets_) {
        if (socket->closing && socket->closeDeadline <= now) {
            expired.push_back(socket.get());
        }
    }
    // Ids, because destroying one side also unlinks the other.
    std::vector<std::uint64_t> ids;
    for (RelaySocket* socket : expired) {
        ids.push_back(socket->id);
        if (socket->peer != nullptr) {
            ids.push_back(socket->peer->id);
        }
    }
    for (std::uint64_t id : ids) {
        if (RelaySocket* socket = FindSocket(id)) {
            Destroy(*socket);
        }
    }
}

}  // namespace vantel
