// A listening port of the relay, serving one server entry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/relay/AcceptHandler.h"
#include "platform/AsyncSocket.h"
#include "platform/EventLoop.h"

namespace vantel {

/// The sockets of one local port (127.0.0.1 and ::1, or the one address the user chose).
/// Accepting pauses for a while after a failure (out of descriptors, say), so a connection
/// that stays queued does not make the loop spin. Each connection waiting is offered to
/// `owner`.
class ListenSocket {
  public:
    ListenSocket(AcceptHandler& owner, int entryIndex, int port, std::string address)
        : entryIndex(entryIndex), port(port), address(std::move(address)), owner_(owner) {}
    ListenSocket(const ListenSocket&) = delete;
    ListenSocket& operator=(const ListenSocket&) = delete;
    ~ListenSocket();

    /// Opens one socket on the first of `addresses` that takes the port; false (with the
    /// reason) when none did.
    bool Open(EventLoop& loop, const std::vector<std::string>& addresses, std::string& error);
    bool empty() const { return endpoints_.empty(); }
    /// Where it listens, one address per open socket.
    std::vector<SocketAddress> LocalAddresses() const;

    /// An accept failed: stop accepting for the back-off time, which doubles with every
    /// failure in a row. Returns whether this failure begins a new run of them.
    bool PauseAfterFailure(EventLoop& loop);
    /// An accept worked: the next failure starts from the shortest back-off again.
    void AcceptWorked() { backOffMs_ = 0; }
    bool paused() const { return resumeTimer_ != 0; }

    /// Position of the entry it serves in ServerList; re-pointed when the default changes.
    int entryIndex;
    const int port;             ///< the local port it listens on
    const std::string address;  ///< the ListenAddress setting it was opened for

    static constexpr std::uint32_t kFirstBackOffMs = 100;
    static constexpr std::uint32_t kLongestBackOffMs = 2000;

  private:
    class Endpoint : public SocketEvents {
      public:
        explicit Endpoint(ListenSocket& listener) : listener_(listener) {}
        void OnAccept() override;
        std::unique_ptr<AsyncSocket> socket;

      private:
        ListenSocket& listener_;
    };

    void Resume();

    AcceptHandler& owner_;
    std::vector<std::unique_ptr<Endpoint>> endpoints_;
    EventLoop* loop_ = nullptr;
    std::uint32_t backOffMs_ = 0;
    TimerId resumeTimer_ = 0;
};

}  // namespace vantel
