#include "platform/posix/PosixSocket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <string>

#include "platform/posix/AddressConversion.h"
#include "platform/posix/EpollEventLoop.h"

namespace vantel {

namespace {

// The kernel caps the backlog at its own limit (net.core.somaxconn), so asking for more
// than SOMAXCONN gets the largest the system allows.
constexpr int kBacklog = SOMAXCONN > 65535 ? SOMAXCONN : 65535;

}  // namespace

PosixSocket::PosixSocket(EpollEventLoop& loop, SocketEvents& events)
    : AsyncSocket(events), loop_(loop), token_(loop.Attach(this)) {}

PosixSocket::~PosixSocket() {
    loop_.Detach(token_);
    if (ResetPending()) {
        ResetNow();
    }
    CloseDescriptor();
}

int PosixSocket::OpenDescriptor(int family) {
    fd_ = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return errno;
    }
    if (noDelay_) {
        const int on = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return 0;
}

void PosixSocket::CloseDescriptor() {
    if (fd_ < 0) {
        return;
    }
    // Removed explicitly: a copy of the descriptor in a forked child would keep the epoll
    // registration alive after close.
    if (watched_) {
        loop_.Watch(EPOLL_CTL_DEL, fd_, token_, 0);
        watched_ = false;
    }
    close(fd_);
    fd_ = -1;
}

int PosixSocket::PendingError() {
    int error = 0;
    socklen_t length = sizeof error;
    if (fd_ < 0 || getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return 0;
    }
    return error;
}

bool PosixSocket::UpdateInterest() {
    if (inEvent_) {
        interestStale_ = true;
        return true;
    }
    std::uint32_t wanted = 0;
    switch (state_) {
        case State::Listening:
            wanted = paused_ ? 0u : static_cast<std::uint32_t>(EPOLLIN);
            break;
        case State::Connecting:
            wanted = EPOLLOUT;
            break;
        case State::Connected:
            if (!paused_ && !readEnded_) {
                wanted |= EPOLLIN;
            }
            // Until OnClose is out the hang-up must be heard even while paused; afterwards
            // a dead connection would report it on every pass.
            if (!closeReported_) {
                wanted |= EPOLLRDHUP;
            }
            if (sendBlocked_) {
                wanted |= EPOLLOUT;
            }
            break;
        case State::Idle:
        case State::Failed:
            break;
    }
    if (fd_ < 0 || wanted == 0) {
        if (watched_) {
            loop_.Watch(EPOLL_CTL_DEL, fd_, token_, 0);
            watched_ = false;
        }
        return true;
    }
    if (!watched_) {
        if (!loop_.Watch(EPOLL_CTL_ADD, fd_, token_, wanted)) {
            return false;
        }
        watched_ = true;
    } else if (wanted != watchedEvents_) {
        if (!loop_.Watch(EPOLL_CTL_MOD, fd_, token_, wanted)) {
            return false;
        }
    }
    watchedEvents_ = wanted;
    return true;
}

bool PosixSocket::Listen(const std::string& address, std::uint16_t port, std::string& error) {
    if (state_ != State::Idle) {
        error = "the socket is already in use";
        return false;
    }
    SocketAddress local;
    if (!ParseListenAddress(address, port, local, error)) {
        return false;
    }
    const bool everyInterface = IsEveryInterface(local);
    const int rc = OpenDescriptor(local.family == SocketAddress::Family::IPv6 ? AF_INET6 : AF_INET);
    const auto fail = [&](int err) {
        error = "cannot listen on " + local.ToString() + ": " + ErrorText(err);
        CloseDescriptor();
        return false;
    };
    if (rc != 0) {
        return fail(rc);
    }
    const int on = 1;
    const int off = 0;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (everyInterface) {
        // One socket for IPv4 too; where the system refuses, IPv6 alone is still useful.
        setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    }
    sockaddr_storage storage;
    const socklen_t length = ToSockaddr(local, storage);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&storage), length) != 0 ||
        listen(fd_, kBacklog) != 0) {
        return fail(errno);
    }
    state_ = State::Listening;
    if (!UpdateInterest()) {
        state_ = State::Idle;
        return fail(errno);
    }
    return true;
}

std::unique_ptr<AsyncSocket> PosixSocket::Accept(SocketEvents& events, int& error) {
    error = 0;
    if (state_ != State::Listening) {
        return nullptr;
    }
    int fd = -1;
    do {
        fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // A connection that went away before we took it is no failure of ours.
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED && errno != EPROTO) {
            error = errno;
        }
        return nullptr;
    }
    auto accepted = std::make_unique<PosixSocket>(loop_, events);
    accepted->fd_ = fd;
    accepted->noDelay_ = noDelay_;  // Linux passes TCP_NODELAY on to accepted connections
    accepted->state_ = State::Connected;
    if (!accepted->UpdateInterest()) {
        error = errno;
        return nullptr;
    }
    return accepted;
}

ConnectResult PosixSocket::Connect(const SocketAddress& address, int& error) {
    if (state_ != State::Idle) {
        error = EISCONN;
        return ConnectResult::Failed;
    }
    error = OpenDescriptor(address.family == SocketAddress::Family::IPv6 ? AF_INET6 : AF_INET);
    if (error != 0) {
        return ConnectResult::NoSocket;
    }
    sockaddr_storage storage;
    const socklen_t length = ToSockaddr(address, storage);
    ConnectResult result = ConnectResult::Connected;
    state_ = State::Connected;
    // Whatever was written before waits for the first writable event.
    sendBlocked_ = Backlog() > 0;
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&storage), length) != 0) {
        if (errno != EINPROGRESS) {
            error = errno;
            state_ = State::Failed;
            CloseDescriptor();
            return ConnectResult::Failed;
        }
        result = ConnectResult::InProgress;
        state_ = State::Connecting;
    }
    if (!UpdateInterest()) {
        error = errno;
        state_ = State::Failed;
        CloseDescriptor();
        return ConnectResult::Failed;
    }
    error = 0;
    return result;
}

long PosixSocket::Receive(void* buffer, std::size_t size) {
    if (state_ != State::Connected || fd_ < 0) {
        return kError;
    }
    if (size == 0) {
        return kWouldBlock;
    }
    for (;;) {
        const ssize_t n = recv(fd_, buffer, size, 0);
        if (n > 0) {
            return static_cast<long>(n);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return kWouldBlock;
        }
        return ReadEnded(static_cast<long>(n));
    }
}

long PosixSocket::ReadEnded(long n) {
    if (n < 0) {
        lastError_ = errno;
    }
    // End of stream or a failed connection: at end of stream epoll would report the socket
    // readable for ever.
    readEnded_ = true;
    UpdateInterest();
    return n == 0 ? 0 : kError;
}

long PosixSocket::Forward(AsyncSocket& to, std::size_t max) {
    auto* target = dynamic_cast<PosixSocket*>(&to);
    if (target == nullptr || state_ != State::Connected || fd_ < 0 || !target->CanSend() ||
        !target->SendOpen() || target->Backlog() != 0 || max == 0) {
        return kCannotForward;
    }
    const int* pipe = loop_.ForwardPipe();
    if (pipe == nullptr) {
        return kCannotForward;
    }
    for (;;) {
        // The pipe is empty here, so EAGAIN can only mean the socket has nothing to read.
        const ssize_t n =
            splice(fd_, nullptr, pipe[1], nullptr, max, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (n > 0) {
            target->SendFromPipe(pipe[0], static_cast<std::size_t>(n));
            return static_cast<long>(n);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return kWouldBlock;
        }
        if (n < 0 && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
            loop_.ForwardingUnavailable();  // this system cannot splice sockets: read instead
            return kCannotForward;
        }
        return ReadEnded(static_cast<long>(n));
    }
}

void PosixSocket::SendFromPipe(int pipe, std::size_t size) {
    while (size > 0) {
        const ssize_t n =
            splice(pipe, nullptr, fd_, nullptr, size, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (n > 0) {
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // the connection is full or failed: the rest goes the usual way
        }
    }
    if (size == 0) {
        return;
    }
    // Every socket shares the pipe, so it must be empty again: what the connection did not
    // take moves into the send queue, and a failed connection is met by the send there.
    std::string rest(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = read(pipe, rest.data() + got, size - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    rest.resize(got);
    Write(rest);
    if (got < size) {
        // Not to be expected of a pipe of our own; should it happen, the pipe is given up
        // and this connection, short of bytes, fails rather than go on with a gap.
        loop_.ForwardingUnavailable();
        ReportFailureLater(EIO);
    }
}

long PosixSocket::SendSome(const char* data, std::size_t size, int& error) {
    for (;;) {
        // MSG_NOSIGNAL: a peer that reset the connection must not kill the process.
        const ssize_t n = send(fd_, data, size, MSG_NOSIGNAL);
        if (n >= 0) {
            if (static_cast<std::size_t>(n) < size) {
                sendBlocked_ = true;
                UpdateInterest();
            }
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            sendBlocked_ = true;
            UpdateInterest();
            return kWouldBlock;
        }
        error = errno;
        lastError_ = errno;
        return kError;
    }
}

void PosixSocket::ShutDownNow() {
    shutdown(fd_, SHUT_WR);
}

void PosixSocket::ResetNow() {
    if (fd_ < 0) {
        return;
    }
    // A zero linger time makes close send a reset and drop what is still unsent.
    const linger abortive{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    readEnded_ = true;
    CloseDescriptor();
}

void PosixSocket::ReportFailureLater(int error) {
    EpollEventLoop& loop = loop_;
    const std::uint64_t token = token_;
    loop_.Post([&loop, token, this, error] {
        // Tokens are never reused: an attached token still names this very socket.
        if (!loop.IsAttached(token) || closeReported_) {
            return;
        }
        closeReported_ = true;
        readEnded_ = true;
        UpdateInterest();
        events_.OnClose(error);
    });
}

void PosixSocket::PauseReceive(bool paused) {
    paused_ = paused;
    UpdateInterest();
}

void PosixSocket::SetNoDelay() {
    if (noDelay_) {
        return;  // set already, or taken from the listener
    }
    noDelay_ = true;
    if (fd_ >= 0) {
        const int on = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
}

SocketAddress PosixSocket::LocalAddress() const {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        return SocketAddress{};
    }
    return FromSockaddr(reinterpret_cast<const sockaddr*>(&storage));
}

void PosixSocket::HandleEvents(std::uint32_t events) {
    // Any callback may destroy this socket: afterwards only these copies are safe to use.
    EpollEventLoop& loop = loop_;
    const std::uint64_t token = token_;
    // Changes to the registration wait for the end of the event, where they become one call:
    // reading the end of the stream and hearing of it would otherwise cost two.
    struct EventScope {
        EpollEventLoop& loop;
        const std::uint64_t token;
        PosixSocket& socket;
        ~EventScope() {
            if (loop.IsAttached(token)) {
                socket.inEvent_ = false;
                if (socket.interestStale_) {
                    socket.interestStale_ = false;
                    socket.UpdateInterest();
                }
            }
        }
    } scope{loop, token, *this};
    inEvent_ = true;

    if (state_ == State::Listening) {
        events_.OnAccept();
        return;
    }
    if (state_ == State::Connecting) {
        // A connection that failed says so with an error or hang-up event: only then is its
        // error asked for.
        int error = (events & (EPOLLERR | EPOLLHUP)) != 0 ? PendingError() : 0;
        if (error == 0 && (events & EPOLLERR) != 0) {
            error = ECONNABORTED;
        }
        if (error == 0) {
            state_ = State::Connected;
            sendBlocked_ = false;
            UpdateInterest();
        } else {
            state_ = State::Failed;
            CloseDescriptor();
        }
        events_.OnConnect(error);
        if (error == 0 && loop.IsAttached(token)) {
            Writable();  // what was written while connecting goes now
        }
        return;
    }
    if (state_ != State::Connected) {
        return;
    }

    // Data that came with the hang-up is offered before the news of it.
    if ((events & EPOLLIN) != 0 && !paused_ && !readEnded_) {
        events_.OnReceive();
        if (!loop.IsAttached(token)) {
            return;
        }
    }
    if ((events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0 && !closeReported_) {
        int error = 0;
        if ((events & (EPOLLHUP | EPOLLERR)) != 0) {
            error = PendingError();
            if (error == 0) {
                error = lastError_;  // a Receive in OnReceive may have taken it already
            }
        }
        closeReported_ = true;
        UpdateInterest();
        events_.OnClose(error);
        if (!loop.IsAttached(token)) {
            return;
        }
    }
    // A dead connection counts as writable: the owner learns from Send that it is over.
    if ((events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) != 0 && sendBlocked_ && fd_ >= 0) {
        sendBlocked_ = false;
        UpdateInterest();
        Writable();
    }
}

}  // namespace vantel
