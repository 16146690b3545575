#include "platform/posix/EpollEventLoop.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <iterator>
#include <thread>

#include "platform/posix/AddressConversion.h"
#include "platform/posix/PosixSocket.h"

namespace vantel {

namespace {

constexpr std::uint64_t kWakeToken = 0;
constexpr std::size_t kMaxEventsPerWait = 256;

}  // namespace

EpollEventLoop::EpollEventLoop() : ready_(kMaxEventsPerWait) {
    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const int wakeFd = wakeFd_;
    posts_ = std::make_shared<PostQueue>([wakeFd] {
        const std::uint64_t one = 1;
        // A full counter still wakes the loop, so a failed write loses nothing.
        (void)!write(wakeFd, &one, sizeof one);
    });
    if (ok()) {
        Watch(EPOLL_CTL_ADD, wakeFd_, kWakeToken, EPOLLIN);
    }
}

EpollEventLoop::~EpollEventLoop() {
    // After Close no thread touches the wake descriptor, so it can go.
    posts_->Close();
    for (const int fd : forwardPipe_) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
    if (epollFd_ >= 0) {
        close(epollFd_);
    }
}

std::uint64_t EpollEventLoop::NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

std::unique_ptr<AsyncSocket> EpollEventLoop::CreateSocket(SocketEvents& events) {
    return std::make_unique<PosixSocket>(*this, events);
}

TimerId EpollEventLoop::StartTimer(std::uint32_t delayMs, bool periodic,
                                   std::function<void()> callback) {
    const TimerId id = nextTimer_++;
    Timer& timer = timers_[id];
    timer.callback = std::make_shared<std::function<void()>>(std::move(callback));
    // A zero period would fire on every pass and starve everything else.
    timer.period = periodic ? std::max<std::uint32_t>(delayMs, 1) : 0;
    Schedule(id, timer, NowMs() + delayMs);
    return id;
}

void EpollEventLoop::StopTimer(TimerId id) {
    timers_.erase(id);
    DropStaleEntries();
}

void EpollEventLoop::Schedule(TimerId id, Timer& timer, std::uint64_t due) {
    timer.sequence = nextSequence_++;
    heap_.push_back(HeapEntry{due, timer.sequence, id});
    std::push_heap(heap_.begin(), heap_.end(), std::greater<>());
}

void EpollEventLoop::DropStaleEntries() {
    // Timers restarted on every read would otherwise leave the heap growing until each old
    // due time passed.
    if (heap_.size() <= 2 * timers_.size() + 64) {
        return;
    }
    heap_.erase(std::remove_if(heap_.begin(), heap_.end(),
                               [this](const HeapEntry& entry) {
                                   const auto it = timers_.find(entry.id);
                                   return it == timers_.end() ||
                                          it->second.sequence != entry.sequence;
                               }),
                heap_.end());
    std::make_heap(heap_.begin(), heap_.end(), std::greater<>());
}

int EpollEventLoop::WaitTimeoutMs() {
    if (!pending_.empty()) {
        return 0;
    }
    while (!heap_.empty()) {
        const HeapEntry& top = heap_.front();
        const auto it = timers_.find(top.id);
        if (it != timers_.end() && it->second.sequence == top.sequence) {
            const std::uint64_t now = NowMs();
            if (top.due <= now) {
                return 0;
            }
            return static_cast<int>(std::min<std::uint64_t>(top.due - now, INT_MAX));
        }
        std::pop_heap(heap_.begin(), heap_.end(), std::greater<>());
        heap_.pop_back();
    }
    return -1;
}

std::string EpollEventLoop::DescribeError(int code) const {
    return ErrorText(code);
}

void EpollEventLoop::RunDueTimers() {
    const std::uint64_t now = NowMs();
    // Timers started by these callbacks wait for the next pass, so a callback that keeps
    // restarting itself at delay 0 cannot hold the loop here.
    const std::uint64_t lastSequence = nextSequence_;
    while (!heap_.empty() && !quit_) {
        const HeapEntry top = heap_.front();
        if (top.due > now || top.sequence >= lastSequence) {
            return;
        }
        std::pop_heap(heap_.begin(), heap_.end(), std::greater<>());
        heap_.pop_back();
        const auto it = timers_.find(top.id);
        if (it == timers_.end() || it->second.sequence != top.sequence) {
            continue;
        }
        // Held here: the callback may stop its own timer, which destroys the map's copy.
        const std::shared_ptr<std::function<void()>> callback = it->second.callback;
        if (it->second.period == 0) {
            timers_.erase(it);
        } else {
            std::uint64_t due = top.due + it->second.period;
            if (due <= now) {
                due = now + it->second.period;  // after a stall: no burst of catch-up calls
            }
            Schedule(top.id, it->second, due);
        }
        (*callback)();
    }
}

void EpollEventLoop::Post(std::function<void()> work) {
    // Work the loop posts to itself (a session's notice, its own clean-up) needs no wake-up:
    // the loop runs it before it waits again.
    if (runner_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
        pending_.push_back(std::move(work));
        return;
    }
    posts_->Push(std::move(work));
}

void EpollEventLoop::Resolve(const std::string& host, std::uint16_t port, ResolveCallback done) {
    // A literal address is answered by the loop itself: no lookup, and no wake-up from
    // another thread.
    SocketAddress literal;
    if (SocketAddress::ParseIPv4(host, port, literal)) {
        Post([done = std::move(done), literal] { done({literal}, std::string()); });
        return;
    }
    lookups_.Resolve(posts_, host, port, std::move(done));
}

void EpollEventLoop::Run() {
    // A loop run from inside the loop's own work hands the thread back to the outer run.
    const std::thread::id outer = runner_.exchange(std::this_thread::get_id());
    while (!quit_) {
        const int timeout = WaitTimeoutMs();
        const int count =
            epoll_wait(epollFd_, ready_.data(), static_cast<int>(ready_.size()), timeout);
        if (count < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < count && !quit_; ++i) {
            const std::uint64_t token = ready_[i].data.u64;
            if (token == kWakeToken) {
                std::uint64_t counter = 0;
                (void)!read(wakeFd_, &counter, sizeof counter);
                for (auto& work : posts_->TakeAll()) {
                    pending_.push_back(std::move(work));
                }
            } else {
                Dispatch(token, ready_[i].events);
            }
        }
        RunPosted();
        RunDueTimers();
    }
    runner_ = outer;
    quit_ = false;
}

void EpollEventLoop::RunPosted() {
    // Work posted by this work waits for the next pass, so the sockets are heard in between;
    // a loop run from inside the work (a test's modal notice) starts after this batch.
    std::deque<std::function<void()>> batch;
    batch.swap(pending_);
    while (!batch.empty() && !quit_) {
        const std::function<void()> work = std::move(batch.front());
        batch.pop_front();
        work();
    }
    // What is left when Quit comes stays, first, for the next Run.
    pending_.insert(pending_.begin(), std::make_move_iterator(batch.begin()),
                    std::make_move_iterator(batch.end()));
}

void EpollEventLoop::Dispatch(std::uint64_t token, std::uint32_t events) {
    const auto socket = sockets_.find(token);
    if (socket != sockets_.end()) {
        socket->second->HandleEvents(events);
        return;
    }
    const auto descriptor = descriptors_.find(token);
    if (descriptor != descriptors_.end()) {
        const std::shared_ptr<std::function<void()>> onReady = descriptor->second;
        (*onReady)();
    }
}

void EpollEventLoop::Quit() {
    quit_ = true;
    const std::uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
}

std::uint64_t EpollEventLoop::Attach(PosixSocket* socket) {
    const std::uint64_t token = nextToken_++;
    sockets_.emplace(token, socket);
    return token;
}

void EpollEventLoop::Detach(std::uint64_t token) {
    sockets_.erase(token);
}

bool EpollEventLoop::Watch(int op, int fd, std::uint64_t token, std::uint32_t events) {
    epoll_event event{};
    event.events = events;
    event.data.u64 = token;
    return epoll_ctl(epollFd_, op, fd, &event) == 0;
}

std::uint64_t EpollEventLoop::AddDescriptor(int fd, std::uint32_t events,
                                            std::function<void()> onReady) {
    const std::uint64_t token = nextToken_++;
    if (!Watch(EPOLL_CTL_ADD, fd, token, events)) {
        return 0;
    }
    descriptors_.emplace(token, std::make_shared<std::function<void()>>(std::move(onReady)));
    return token;
}

void EpollEventLoop::RemoveDescriptor(std::uint64_t token, int fd) {
    if (descriptors_.erase(token) != 0) {
        Watch(EPOLL_CTL_DEL, fd, token, 0);
    }
}

const int* EpollEventLoop::ForwardPipe() {
    if (forwarding_ == Forwarding::Untried) {
        forwarding_ = Forwarding::Unavailable;
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_IGN &&
            pipe2(forwardPipe_, O_NONBLOCK | O_CLOEXEC) == 0) {
            // A smaller pipe (the system's limit for users may be lower) only moves less at once.
            (void)fcntl(forwardPipe_[1], F_SETPIPE_SZ, kForwardPipeSize);
            forwarding_ = Forwarding::Ready;
        }
    }
    return forwarding_ == Forwarding::Ready ? forwardPipe_ : nullptr;
}

std::unique_ptr<EventLoop> CreateEventLoop() {
    auto loop = std::make_unique<EpollEventLoop>();
    if (!loop->ok()) {
        return nullptr;
    }
    return loop;
}

}  // namespace vantel
