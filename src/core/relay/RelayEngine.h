// The relay: listening ports, relayed sessions, and the relay state the tray shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/RelaySettings.h"
#include "core/protocol/imap/ImapFramer.h"
#include "core/relay/AcceptHandler.h"
#include "core/relay/DefaultServers.h"
#include "core/relay/ListenSocket.h"
#include "core/relay/RelaySession.h"
#include "core/relay/RelayStateObserver.h"
#include "core/relay/SessionContext.h"
#include "core/rewrite/MessageRewriter.h"
#include "platform/EventLoop.h"
#include "platform/Notifier.h"
#include "platform/TlsClient.h"
#include "platform/TraceSink.h"

namespace vantel {

/// Runs on the event loop's thread only. Keeps the listeners, the sessions and the sweep of
/// their deadlines. Notices go to the user from the loop, never from inside a socket event:
/// a message box (with its nested message loop) must not open in the middle of one. Its
/// sessions reach it as their SessionContext, its listeners as their AcceptHandler.
class RelayEngine : private SessionContext, private AcceptHandler {
  public:
    static constexpr std::size_t kReceiveBlock = RelaySession::kReceiveBlock;
    static constexpr std::uint32_t kSweepPeriodMs = 1000;
    /// How long a stopping relay lets its sessions send on what they had read.
    static constexpr std::uint64_t kStopDrainMs = 10000;
    /// Connections one wake-up of a listener takes at most: what a full system queue holds
    /// (Linux's default net.core.somaxconn), so that a burst is let in at the pace it comes.
    static constexpr int kAcceptsPerEvent = 4096;
    /// The notices the engine gives, through Notifier::ShowError (the first is also in the
    /// tray program's string table).
    static constexpr std::string_view kListenFailedText = "Unable to listen on local port";
    static constexpr std::string_view kConnectFailedText = RelaySession::kConnectFailedText;
    static constexpr std::string_view kSocketFailedText = RelaySession::kSocketFailedText;
    static constexpr std::string_view kAcceptFailedText =
        "Unable to accept connections on local port";
    static constexpr std::string_view kTlsFailedText = RelaySession::kTlsFailedText;

    /// `trace` may be null: nothing is traced.
    RelayEngine(RelaySettings& settings, EventLoop& loop, MessageRewriter& rewriter,
                Notifier& notifier, TraceSink* trace, RelayStateObserver& observer);
    ~RelayEngine();
    RelayEngine(const RelayEngine&) = delete;
    RelayEngine& operator=(const RelayEngine&) = delete;

    /// Brings the listeners in line with the settings: a port that should listen and does
    /// already stays open (re-pointed at its entry), others are closed or opened. Sessions
    /// and the relay state are not touched.
    void StartRelay();
    /// Closes every listener; sessions in progress go on.
    void CloseListeners();
    /// Ends every session at once.
    void CloseAllSessions();
    /// Closes the listeners at once and lets the sessions send on what they have read, for
    /// kStopDrainMs at most; then ends what is left and calls `done` (from the loop).
    void Stop(std::function<void()> done);
    /// Ends everything at once: sessions, listeners, the sweep.
    void ShutdownRelay();

    int FindDefaultListener(ServerType type) const { return defaults_.FindDefaultListener(type); }
    void SelectDefaultServer(int ordinal, ServerType type) {
        defaults_.SelectDefaultServer(ordinal, type);
    }
    int CyclePopServer() { return defaults_.CyclePopServer(); }

    bool relayEnabled() const { return relayEnabled_; }
    bool relayBusy() const { return relayBusy_; }
    /// Sets the state shown (the tray's enable command does this); no listener changes.
    void SetRelayState(bool enabled, bool busy);

    const std::vector<std::unique_ptr<ListenSocket>>& Listeners() const { return listeners_; }
    std::size_t SessionCount() const { return sessions_.size(); }
    /// Bytes read from all relayed connections since the start.
    std::uint64_t BytesRead() const { return bytesRead_; }

    /// What secures the server connections of encrypted entries; null (with `problem`, why)
    /// where there is none. Sessions started later use the new one; it must outlive them.
    void SetTls(TlsContext* context, std::string problem) {
        tls_ = context;
        tlsProblem_ = std::move(problem);
    }
    /// The largest message literal a session holds to rewrite; sessions started later use a
    /// new value.
    void SetMaxHeldLiteral(std::size_t bytes) { maxHeldLiteral_ = bytes; }
    /// Where OAuth 2.0 entries get their tokens; it outlives the sessions started meanwhile.
    void SetTokenSource(AccessTokenSource* tokens) { tokens_ = tokens; }
    /// The first wrong local login waits this long, each further one twice as long as the
    /// one before, up to kMaxLoginDelayMs.
    static constexpr std::uint32_t kFirstLoginDelayMs = 1000;
    static constexpr std::uint32_t kMaxLoginDelayMs = 30000;
    /// How long a server may take over STARTTLS and the TLS handshake where no ConnectTimeout
    /// is set (RelaySession::kSecuringLimitMs); sessions started later use a new value.
    void SetSecuringLimitMs(std::uint64_t ms) { securingLimitMs_ = ms; }

  private:
    // What the sessions reach (SessionContext).
    EventLoop& loop() override { return loop_; }
    MessageRewriter& rewriter() override { return rewriter_; }
    TlsContext* tls() const override { return tls_; }
    AccessTokenSource* tokens() const override { return tokens_; }
    std::uint32_t LoginFailed() override;
    void LoginSucceeded() override { loginDelayMs_ = 0; }
    const std::string& tlsProblem() const override { return tlsProblem_; }
    std::size_t maxHeldLiteral() const override { return maxHeldLiteral_; }
    std::uint64_t securingLimitMs() const override { return securingLimitMs_; }
    char* receiveBuffer() override { return receiveBuffer_.data(); }
    std::string& onwardBuffer() override { return onwardBuffer_; }
    std::string& backBuffer() override { return backBuffer_; }
    void Later(std::uint64_t id, std::function<void()> work) override;
    void Notify(Notice notice) override;
    bool tracing() const override { return trace_ != nullptr; }
    void TraceBlock(RelaySocket& end, std::string_view text) override;
    void TraceNote(std::string_view text) override;
    void CountRead(std::size_t bytes) override { bytesRead_ += bytes; }
    bool OutOfSockets() override;
    void SocketsAvailable() override { outOfSockets_ = false; }
    void SessionFinished(RelaySession& session) override;

    // What the listeners report (AcceptHandler).
    void AcceptClient(ListenSocket& listener, AsyncSocket& from) override;
    /// Takes one connection waiting on `from`; false when none was there, or it failed.
    bool AcceptOne(ListenSocket& listener, AsyncSocket& from);
    /// A copy of entry `index` as it stands, shared by the sessions that relay for it (the
    /// entry's login alone is hundreds of bytes).
    std::shared_ptr<const ServerEntry> EntryCopy(std::size_t index);

    RelaySession* FindSession(std::uint64_t id);
    /// Opens the listener of entry `index`, or reports why it could not be opened.
    std::unique_ptr<ListenSocket> OpenListener(std::size_t index);
    void SweepSessions();
    /// Runs `work` from the loop later, unless the engine is gone by then.
    void PostWhileAlive(std::function<void()> work);
    void StopDone();
    void UpdateState(bool enabled, bool busy);

    RelaySettings& settings_;
    EventLoop& loop_;
    MessageRewriter& rewriter_;
    Notifier& notifier_;
    TraceSink* trace_;
    RelayStateObserver& observer_;

    std::vector<std::unique_ptr<ListenSocket>> listeners_;
    DefaultServers defaults_{settings_, listeners_};
    std::map<std::uint64_t, std::unique_ptr<RelaySession>> sessions_;
    std::vector<std::shared_ptr<const ServerEntry>> entryCopies_;  ///< by entry index
    std::vector<std::unique_ptr<RelaySession>> finished_;
    std::uint64_t nextId_ = 1;
    TimerId sweepTimer_ = 0;
    bool traceTurn_ = false;  ///< the last traced block was an OUT block
    bool relayEnabled_ = false;
    bool relayBusy_ = false;
    std::vector<char> receiveBuffer_;
    std::string onwardBuffer_;
    std::string backBuffer_;
    std::uint64_t bytesRead_ = 0;
    bool outOfSockets_ = false;
    std::size_t maxHeldLiteral_ = ImapFramer::kMaxHeldLiteral;
    std::uint64_t securingLimitMs_ = RelaySession::kSecuringLimitMs;
    TlsContext* tls_ = nullptr;
    AccessTokenSource* tokens_ = nullptr;
    std::uint32_t loginDelayMs_ = 0;  ///< of the next wrong local login; 0: none failed
    std::string tlsProblem_ = "this program was started without it";
    /// While stopping: called once the last session has ended or the time is up.
    std::function<void()> stopDone_;
    TimerId stopTimer_ = 0;
    /// Lets posted work find out that the engine has gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vantel
