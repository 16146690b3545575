// The relay: listening ports, relayed sessions, and the relay state the tray shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/RelaySettings.h"
#include "core/relay/ListenSocket.h"
#include "core/relay/PendingClose.h"
#include "core/relay/RelaySocket.h"
#include "core/relay/RelayStateObserver.h"
#include "core/rewrite/MessageRewriter.h"
#include "platform/EventLoop.h"
#include "platform/Notifier.h"
#include "platform/TraceSink.h"

namespace vantel {

/// Runs on the event loop's thread only. Sockets report to it through their SocketEvents;
/// notices to the user are posted to the loop so that a message box (with its nested message
/// loop) never opens in the middle of a socket event.
class RelayEngine {
  public:
    static constexpr std::size_t kReceiveBlock = 2048;
    /// Blocks one receive event relays before sending them on together.
    static constexpr int kBlocksPerEvent = 16;
    /// A session stops reading from one side while the other side has this much unsent...
    static constexpr std::size_t kHighWater = 256 * 1024;
    /// ... and reads again when it is down to this.
    static constexpr std::size_t kLowWater = 64 * 1024;
    /// How long a side whose peer has closed may take to send what it still holds.
    static constexpr std::uint64_t kDrainTimeoutMs = 30000;
    static constexpr std::uint32_t kSweepPeriodMs = 1000;
    /// The notices the engine gives, through Notifier::ShowError.
    static constexpr std::string_view kListenFailedText = "Unable to listen on local port";
    static constexpr std::string_view kConnectFailedText = "Error connecting to host";

    /// `trace` may be null: nothing is traced.
    RelayEngine(RelaySettings& settings, EventLoop& loop, MessageRewriter& rewriter,
                Notifier& notifier, TraceSink* trace, RelayStateObserver& observer);
    ~RelayEngine();
    RelayEngine(const RelayEngine&) = delete;
    RelayEngine& operator=(const RelayEngine&) = delete;

    /// Opens a listener for every entry that should have one. Does not touch listeners
    /// already open, nor the relay state.
    void StartRelay();
    /// Closes every listener; sessions in progress go on.
    void CloseListeners();
    /// Ends every session at once.
    void CloseAllSessions();
    /// Ends everything: sessions, listeners, the sweep.
    void ShutdownRelay();

    /// Entry index served by the listener of the default group of `kind` (0 SMTP, 1 POP3),
    /// or -1.
    int FindDefaultListener(int kind) const;
    /// Points the group's listener at the entry with stored ordinal `ordinal`; the caller
    /// stores the ordinal.
    void SelectDefaultServer(int ordinal, int kind);
    /// Advances DefaultPOPServer to the next entry of the POP3 group and returns it.
    int CyclePopServer();

    bool relayEnabled() const { return relayEnabled_; }
    bool relayBusy() const { return relayBusy_; }
    /// Sets the state shown (the tray's enable command does this); no listener changes.
    void SetRelayState(bool enabled, bool busy);

    const std::vector<std::unique_ptr<ListenSocket>>& Listeners() const { return listeners_; }
    /// Relayed sockets alive, both sides counted.
    std::size_t SocketCount() const { return sockets_.size(); }
    std::size_t PendingCloseCount() const { return pendingCloses_.size(); }

    // Socket events.
    /// A connection waits on `from`, one of the listener's sockets.
    void AcceptClient(ListenSocket& listener, AsyncSocket& from);
    void RemoteConnected(RelaySocket& server, int error);
    void ReceiveBlock(RelaySocket& socket);
    void DrainQueue(RelaySocket& socket);
    void CloseSession(RelaySocket& socket, int error);

  private:
    void ConnectRemote(RelaySocket& client, const ServerEntry& entry);
    void ConnectResolved(std::uint64_t serverId, std::vector<SocketAddress> addresses,
                         const std::string& error);
    /// Tries the server's next address; false when none is left.
    bool ConnectNextAddress(RelaySocket& server, std::string& error);
    void EndFailedSession(RelaySocket& server, const std::string& detail);
    enum class ReadOutcome { Data, Nothing, End };
    /// Reads one block from `socket`, then processes, traces and forwards it.
    ReadOutcome RelayOneBlock(RelaySocket& socket);
    void ForwardBlock(RelaySocket& from, std::string_view data);
    void TraceBlock(RelaySocket& socket, std::string_view text);
    void SweepPendingCloses();
    void DropPendingClose(const RelaySocket& socket);
    /// Unlinks and closes a socket; the object itself goes once the current event is over.
    void Destroy(RelaySocket& socket);
    /// Closes `socket` after its queue is sent (at once when nothing is queued).
    void CloseWhenSent(RelaySocket& socket);
    RelaySocket* FindSocket(std::uint64_t id);
    /// Runs `work` from the loop later, unless the engine is gone by then.
    void Later(std::function<void()> work);
    void Notify(std::string text, std::string detail);
    void UpdateState(bool enabled, bool busy);

    RelaySettings& settings_;
    EventLoop& loop_;
    MessageRewriter& rewriter_;
    Notifier& notifier_;
    TraceSink* trace_;
    RelayStateObserver& observer_;

    std::vector<std::unique_ptr<ListenSocket>> listeners_;
    std::map<std::uint64_t, std::unique_ptr<RelaySocket>> sockets_;
    std::vector<std::unique_ptr<RelaySocket>> graveyard_;
    std::vector<PendingClose> pendingCloses_;
    /// Resolved addresses a server side has yet to try, by socket id.
    std::map<std::uint64_t, std::vector<SocketAddress>> addressesToTry_;
    std::uint64_t nextId_ = 1;
    TimerId sweepTimer_ = 0;
    bool traceTurn_ = false;  ///< the last traced block was an OUT block
    bool relayEnabled_ = false;
    bool relayBusy_ = false;
    std::vector<char> receiveBuffer_;
    /// ReceiveBlock is relaying a batch of blocks: ForwardBlock queues them, the batch's end
    /// sends.
    bool holdSends_ = false;
    /// Lets posted work find out that the engine has gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vantel
