// The Linux event loop: epoll for sockets, a min-heap of timers, an eventfd for wake-ups.
// Included only by the POSIX sources.
#pragma once

#include <sys/epoll.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/LookupPool.h"
#include "platform/PostQueue.h"
#include "platform/posix/AddressConversion.h"

namespace vantel {

class PosixSocket;

class EpollEventLoop : public EventLoop {
  public:
    EpollEventLoop();
    ~EpollEventLoop() override;
    EpollEventLoop(const EpollEventLoop&) = delete;
    EpollEventLoop& operator=(const EpollEventLoop&) = delete;

    /// False when the system refused an epoll or eventfd descriptor.
    bool ok() const { return epollFd_ >= 0 && wakeFd_ >= 0; }

    std::uint64_t NowMs() override;
    std::unique_ptr<AsyncSocket> CreateSocket(SocketEvents& events) override;
    TimerId StartTimer(std::uint32_t delayMs, bool periodic,
                       std::function<void()> callback) override;
    void StopTimer(TimerId id) override;
    void Post(std::function<void()> work) override;
    void Resolve(const std::string& host, std::uint16_t port, ResolveCallback done) override;
    std::string DescribeError(int code) const override;
    void Run() override;
    void Quit() override;

    /// For PosixSocket: a token that names the socket in epoll events. Tokens are never
    /// reused, so an event for a socket destroyed meanwhile finds nothing.
    std::uint64_t Attach(PosixSocket* socket);
    void Detach(std::uint64_t token);
    /// epoll_ctl for `fd` under `token`; `op` is EPOLL_CTL_ADD, _MOD or _DEL.
    bool Watch(int op, int fd, std::uint64_t token, std::uint32_t events);
    /// Whether `token` still names a live socket.
    bool IsAttached(std::uint64_t token) const { return sockets_.count(token) != 0; }

    /// For descriptors that are not sockets (an inotify instance): `onReady` runs on the loop
    /// whenever `fd` is ready for `events`. Returns the token for RemoveDescriptor, or 0 when
    /// epoll refuses the descriptor. The owner keeps `fd` open until it has removed it.
    std::uint64_t AddDescriptor(int fd, std::uint32_t events, std::function<void()> onReady);
    /// Stops watching `fd`; events already collected for it are dropped. Callable from its
    /// own `onReady`.
    void RemoveDescriptor(std::uint64_t token, int fd);

    /// The pipe through which sockets forward to each other ([0] to read, [1] to write),
    /// empty between forwards; nullptr where forwarding cannot be used. Only while SIGPIPE is
    /// ignored: a splice into a connection the peer reset cannot be told not to raise it.
    const int* ForwardPipe();
    /// The system refused to splice a socket: every forward reads and sends from now on.
    void ForwardingUnavailable() { forwarding_ = Forwarding::Unavailable; }

  private:
    /// How large the forwarding pipe is made: as much as one forward moves.
    static constexpr int kForwardPipeSize = 256 * 1024;
    enum class Forwarding { Untried, Ready, Unavailable };

    struct Timer {
        std::shared_ptr<std::function<void()>> callback;
        std::uint32_t period = 0;    // 0 for one-shot timers
        std::uint64_t sequence = 0;  // of its one live heap entry; older entries are stale
    };
    struct HeapEntry {
        std::uint64_t due;
        std::uint64_t sequence;  // orders equal due times by start, and cuts off a round
        TimerId id;
        bool operator>(const HeapEntry& other) const {
            return due != other.due ? due > other.due : sequence > other.sequence;
        }
    };

    void Schedule(TimerId id, Timer& timer, std::uint64_t due);
    void DropStaleEntries();
    int WaitTimeoutMs();
    void RunDueTimers();
    void RunPosted();
    void Dispatch(std::uint64_t token, std::uint32_t events);

    int epollFd_ = -1;
    int wakeFd_ = -1;
    std::shared_ptr<PostQueue> posts_;
    LookupPool lookups_{&LookUpHost};
    std::deque<std::function<void()>> pending_;  // taken from posts_, not yet run
    std::atomic<bool> quit_{false};
    /// The thread inside Run, if any: its posts go straight to pending_.
    std::atomic<std::thread::id> runner_{};

    std::unordered_map<std::uint64_t, PosixSocket*> sockets_;
    // Held by pointer: a handler may remove itself while it runs.
    std::unordered_map<std::uint64_t, std::shared_ptr<std::function<void()>>> descriptors_;
    std::uint64_t nextToken_ = 1;  // 0 is the wake descriptor; sockets and descriptors share

    std::unordered_map<TimerId, Timer> timers_;
    std::vector<HeapEntry> heap_;
    TimerId nextTimer_ = 1;
    std::uint64_t nextSequence_ = 0;

    std::vector<epoll_event> ready_;
    Forwarding forwarding_ = Forwarding::Untried;
    int forwardPipe_[2] = {-1, -1};
};

}  // namespace vantel
