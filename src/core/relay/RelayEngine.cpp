#include "core/relay/RelayEngine.h"

#include <algorithm>

#include "core/relay/ListenAddresses.h"

namespace vantel {
namespace {

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
      receiveBuffer_(RelaySession::kHighWater) {
    sweepTimer_ = loop_.StartTimer(kSweepPeriodMs, true, [this] { SweepSessions(); });
}

RelayEngine::~RelayEngine() {
    ShutdownRelay();
}

void RelayEngine::ShutdownRelay() {
    *alive_ = false;
    sessions_.clear();
    finished_.clear();
    CloseListeners();
    for (TimerId* timer : {&sweepTimer_, &stopTimer_}) {
        if (*timer != 0) {
            loop_.StopTimer(*timer);
            *timer = 0;
        }
    }
    stopDone_ = nullptr;
}

void RelayEngine::UpdateState(bool enabled, bool busy) {
    relayEnabled_ = enabled;
    relayBusy_ = busy;
    observer_.OnRelayStateChanged();
}

void RelayEngine::SetRelayState(bool enabled, bool busy) {
    relayEnabled_ = enabled;
    relayBusy_ = busy;
}

void RelayEngine::PostWhileAlive(std::function<void()> work) {
    loop_.Post([alive = std::weak_ptr<bool>(alive_), work = std::move(work)] {
        const auto flag = alive.lock();
        if (flag && *flag) {
            work();
        }
    });
}

void RelayEngine::Later(std::uint64_t id, std::function<void()> work) {
    PostWhileAlive([this, id, work = std::move(work)] {
        if (FindSession(id) != nullptr) {
            work();
        }
    });
}

void RelayEngine::Notify(Notice notice) {
    PostWhileAlive([this, notice = std::move(notice)] { notifier_.ShowError(notice); });
}

std::unique_ptr<ListenSocket> RelayEngine::OpenListener(std::size_t index) {
    const ServerEntry& entry = settings_.ServerList[index];
    auto listener =
        std::make_unique<ListenSocket>(static_cast<AcceptHandler&>(*this), static_cast<int>(index),
                                       entry.LocalPort, settings_.ListenAddress);
    std::string failure;
    for (const ListenEndpoint& endpoint : ListenEndpoints(settings_.ListenAddress)) {
        std::string error;
        // A system without IPv6 loopback simply has no second socket.
        if (!listener->Open(loop_, endpoint.addresses, error) && endpoint.required) {
            failure = error;
            break;
        }
    }
    if (!failure.empty() || listener->empty()) {
        Notify({std::string(kListenFailedText), entry.Label(), "",
                failure.empty() ? "no address to listen on" : failure});
        return nullptr;
    }
    return listener;
}

void RelayEngine::StartRelay() {
    if (sessions_.empty()) {
        relayBusy_ = false;
    }
    // Which entries listen, and which of the open listeners can stay as they are.
    std::vector<std::size_t> toOpen;
    std::vector<std::unique_ptr<ListenSocket>> kept;
    std::vector<std::unique_ptr<ListenSocket>> open = std::move(listeners_);
    listeners_.clear();
    for (std::size_t i = 0; i < settings_.ServerList.size(); ++i) {
        if (defaults_.WaitsBehindDefault(i)) {
            continue;
        }
        const ServerEntry& entry = settings_.ServerList[i];
        bool found = false;
        for (auto& listener : open) {
            if (listener && listener->port == entry.LocalPort &&
                listener->address == settings_.ListenAddress) {
                listener->entryIndex = static_cast<int>(i);
                kept.push_back(std::move(listener));
                found = true;
                break;
            }
        }
        if (!found) {
            toOpen.push_back(i);
        }
    }
    // Ports no longer wanted close before new ones open: an entry may have moved onto one.
    open.clear();
    listeners_ = std::move(kept);
    for (std::size_t i : toOpen) {
        if (auto listener = OpenListener(i)) {
            listeners_.push_back(std::move(listener));
        }
    }
    std::stable_sort(listeners_.begin(), listeners_.end(),
                     [](const auto& a, const auto& b) { return a->entryIndex < b->entryIndex; });
}

void RelayEngine::CloseListeners() {
    listeners_.clear();
}

RelaySession* RelayEngine::FindSession(std::uint64_t id) {
    const auto found = sessions_.find(id);
    return found == sessions_.end() ? nullptr : found->second.get();
}

void RelayEngine::AcceptClient(ListenSocket& listener, AsyncSocket& from) {
    // A burst of clients fills the system's queue faster than one accept per wake-up empties it:
    // greetings wait and connections are dropped. A bounded run keeps the other sessions fed.
    for (int i = 0; i < kAcceptsPerEvent && AcceptOne(listener, from); ++i) {
    }
}

bool RelayEngine::AcceptOne(ListenSocket& listener, AsyncSocket& from) {
    if (listener.paused()) {
        return false;
    }
    const bool wasEnabled = relayEnabled_;
    const bool wasBusy = relayBusy_;
    const int entryIndex = listener.entryIndex;
    const bool knownEntry =
        entryIndex >= 0 && static_cast<std::size_t>(entryIndex) < settings_.ServerList.size();
    std::shared_ptr<const ServerEntry> entry = knownEntry
                                                   ? EntryCopy(static_cast<std::size_t>(entryIndex))
                                                   : std::make_shared<const ServerEntry>();

    // The number is taken only by a connection: a look at an empty queue leaves it.
    auto session = std::make_unique<RelaySession>(static_cast<SessionContext&>(*this), nextId_,
                                                  std::move(entry), settings_.ConnectTimeout);
    UpdateState(false, true);
    int error = 0;
    std::unique_ptr<AsyncSocket> accepted = from.Accept(session->clientEnd(), error);
    if (accepted) {
        ++nextId_;
        // An accept alone proves little while server connections still find no socket.
        if (!outOfSockets_) {
            listener.AcceptWorked();
        }
    } else if (error != 0 && listener.PauseAfterFailure(loop_)) {
        // Once for a run of failures: the listener tries again after a pause, growing while
        // the failures go on, so a connection left waiting does not keep the loop busy.
        Notify({std::string(kAcceptFailedText), "local port " + std::to_string(listener.port), "",
                loop_.DescribeError(error)});
    }
    if (!accepted || !knownEntry) {
        // Nothing to relay: a failed accept, or an entry removed while the port stayed open
        // (the connection is dropped by letting it go).
        if (sessions_.empty()) {
            UpdateState(wasEnabled, wasBusy);
        }
        return accepted != nullptr;
    }
    // With cycling, the next connection goes to the next POP3 entry; this one keeps its entry.
    if (listener.port == settings_.DefaultPOPPort && settings_.POPCycleChange != 0) {
        defaults_.CyclePopServer();
    }
    RelaySession& started = *session;
    sessions_.emplace(started.id(), std::move(session));
    started.Start(std::move(accepted));
    return true;
}

std::shared_ptr<const ServerEntry> RelayEngine::EntryCopy(std::size_t index) {
    entryCopies_.resize(settings_.ServerList.size());
    std::shared_ptr<const ServerEntry>& copy = entryCopies_[index];
    // Edited since the last copy was made: running sessions keep that one, new ones get this.
    if (!copy || *copy != settings_.ServerList[index]) {
        copy = std::make_shared<const ServerEntry>(settings_.ServerList[index]);
    }
    return copy;
}

bool RelayEngine::OutOfSockets() {
    const bool first = !outOfSockets_;
    outOfSockets_ = true;
    for (auto& listener : listeners_) {
        listener->PauseAfterFailure(loop_);
    }
    return first;
}

void RelayEngine::CloseAllSessions() {
    std::vector<std::uint64_t> ids;
    for (const auto& [id, session] : sessions_) {
        ids.push_back(id);
    }
    for (std::uint64_t id : ids) {
        if (RelaySession* session = FindSession(id)) {
            session->Abort();
        }
    }
    UpdateState(true, false);
}

void RelayEngine::Stop(std::function<void()> done) {
    CloseListeners();
    stopDone_ = std::move(done);
    if (stopTimer_ != 0) {
        return;  // already stopping
    }
    std::vector<std::uint64_t> ids;
    for (const auto& [id, session] : sessions_) {
        ids.push_back(id);
    }
    for (std::uint64_t id : ids) {
        if (RelaySession* session = FindSession(id)) {
            session->Stop();
        }
    }
    if (sessions_.empty()) {
        StopDone();
        return;
    }
    stopTimer_ = loop_.StartTimer(static_cast<std::uint32_t>(kStopDrainMs), false, [this] {
        stopTimer_ = 0;
        CloseAllSessions();
        StopDone();
    });
}

void RelayEngine::StopDone() {
    if (!stopDone_) {
        return;
    }
    if (stopTimer_ != 0) {
        loop_.StopTimer(stopTimer_);
        stopTimer_ = 0;
    }
    PostWhileAlive(std::move(stopDone_));
    stopDone_ = nullptr;
}

void RelayEngine::SessionFinished(RelaySession& session) {
    const auto found = sessions_.find(session.id());
    if (found == sessions_.end()) {
        return;
    }
    finished_.push_back(std::move(found->second));
    sessions_.erase(found);
    if (finished_.size() == 1) {
        PostWhileAlive([this] { finished_.clear(); });
    }
    if (sessions_.empty()) {
        UpdateState(true, false);
        StopDone();
    }
}

void RelayEngine::TraceBlock(RelaySocket& end, std::string_view text) {
    if (trace_ == nullptr) {
        return;
    }
    const bool in = TracesAsIn(end.kind);
    // The separate prefix marks a change of direction.
    if (in == traceTurn_) {
        trace_->Write("[Vantel] ");
    }
    trace_->Write(in ? "IN: \n" : "OUT: \n");
    std::string line = "[Vantel] ";
    if (IsClientSide(end.kind)) {
        // The masker heard from the framer what these bytes are as it sent them on; without
        // one nothing of the client's is shown, rather than a secret.
        if (end.masker) {
            line.append(TraceCut(end.masker->TakeShown()));
        }
    } else {
        line.append(TraceCut(text));
    }
    trace_->Write(line);
    traceTurn_ = !in;
}

std::uint32_t RelayEngine::LoginFailed() {
    const std::uint32_t delay = loginDelayMs_ == 0 ? kFirstLoginDelayMs : loginDelayMs_;
    loginDelayMs_ = std::min(delay * 2, kMaxLoginDelayMs);
    return delay;
}

void RelayEngine::TraceNote(std::string_view text) {
    if (trace_ == nullptr) {
        return;
    }
    std::string line = "[Vantel] ";
    line.append(text);
    line += '\n';
    trace_->Write(line);
}

void RelayEngine::SweepSessions() {
    const std::uint64_t now = loop_.NowMs();
    std::vector<std::uint64_t> ids;
    for (const auto& [id, session] : sessions_) {
        ids.push_back(id);
    }
    for (std::uint64_t id : ids) {
        if (RelaySession* session = FindSession(id)) {
            session->Sweep(now);
        }
    }
}

}  // namespace vantel
