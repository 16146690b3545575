#include "platform/win32/Win32Socket.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <iterator>

#include "platform/win32/AddressConversion.h"
#include "platform/win32/Win32EventLoop.h"

namespace vantel {

namespace {

constexpr std::size_t kMaxTransfer = INT_MAX;  // what one recv or send call can take

}  // namespace

Win32Socket::Win32Socket(Win32EventLoop& loop, SocketEvents& events)
    : AsyncSocket(events), loop_(loop) {}

Win32Socket::~Win32Socket() {
    if (ResetPending()) {
        ResetNow();
    }
    CloseSocket();
}

int Win32Socket::OpenHandle(int family) {
    SOCKET handle = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                               WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (handle == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
        // Systems before Windows 7 SP1 lack the flag: clear inheritance afterwards instead.
        handle = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (handle != INVALID_SOCKET) {
            SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
        }
    }
    if (handle == INVALID_SOCKET) {
        return WSAGetLastError();
    }
    Adopt(handle);
    if (!Select()) {
        const int error = WSAGetLastError();
        CloseSocket();
        return error;
    }
    return 0;
}

void Win32Socket::Adopt(SOCKET handle) {
    socket_ = handle;
    message_ = loop_.Attach(handle, this, serial_);
    if (noDelay_) {
        const BOOL on = TRUE;
        setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                   sizeof on);
    }
}

void Win32Socket::CloseSocket() {
    if (socket_ == INVALID_SOCKET) {
        return;
    }
    loop_.Detach(socket_);
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
}

bool Win32Socket::Select() {
    // Leaving FD_READ (FD_ACCEPT) out is how reading (accepting) pauses: Winsock then records
    // no such events at all.
    long events = FD_WRITE | FD_CONNECT | FD_CLOSE;
    if (!paused_) {
        events |= FD_READ | FD_ACCEPT;
    }
    return WSAAsyncSelect(socket_, loop_.window(), message_, events) == 0;
}

unsigned long Win32Socket::BytesWaiting() const {
    u_long waiting = 0;
    if (socket_ == INVALID_SOCKET || ioctlsocket(socket_, FIONREAD, &waiting) != 0) {
        return 0;
    }
    return waiting;
}

void Win32Socket::PostReadIfWaiting() {
    // Data that came while no FD_READ was selected may never be announced on its own.
    if (state_ == State::Connected && !paused_ && BytesWaiting() > 0) {
        PostMessageA(loop_.window(), message_, static_cast<WPARAM>(socket_),
                     WSAMAKESELECTREPLY(FD_READ, 0));
    }
}

bool Win32Socket::Listen(const std::string& address, std::uint16_t port, std::string& error) {
    if (state_ != State::Idle) {
        error = "the socket is already in use";
        return false;
    }
    SocketAddress local;
    if (!ParseListenAddress(address, port, local, error)) {
        return false;
    }
    const bool everyInterface = IsEveryInterface(local);
    const int rc = OpenHandle(local.family == SocketAddress::Family::IPv6 ? AF_INET6 : AF_INET);
    const auto fail = [&](int err) {
        error = "cannot listen on " + local.ToString() + ": " + ErrorText(err);
        CloseSocket();
        return false;
    };
    if (rc != 0) {
        return fail(rc);
    }
    // Exclusive: no other program may take over connections to our port.
    const BOOL on = TRUE;
    const DWORD off = 0;
    setsockopt(socket_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
    if (everyInterface) {
        setsockopt(socket_, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off),
                   sizeof off);
    }
    sockaddr_storage storage;
    const int length = ToSockaddr(local, storage);
    if (bind(socket_, reinterpret_cast<const sockaddr*>(&storage), length) != 0 ||
        listen(socket_, SOMAXCONN) != 0) {
        return fail(WSAGetLastError());
    }
    state_ = State::Listening;
    return true;
}

std::unique_ptr<AsyncSocket> Win32Socket::Accept(SocketEvents& events, int& error) {
    error = 0;
    if (state_ != State::Listening) {
        return nullptr;
    }
    const SOCKET handle = accept(socket_, nullptr, nullptr);
    if (handle == INVALID_SOCKET) {
        const int code = WSAGetLastError();
        // A connection that went away before we took it is no failure of ours.
        if (code != WSAEWOULDBLOCK && code != WSAECONNRESET && code != WSAEINTR) {
            error = code;
        }
        return nullptr;
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
    auto accepted = std::make_unique<Win32Socket>(loop_, events);
    accepted->state_ = State::Connected;
    // The new socket starts out selected like the listener, with the listener's message:
    // selecting again gives it a message of its own.
    accepted->Adopt(handle);
    if (!accepted->Select()) {
        error = WSAGetLastError();
        return nullptr;
    }
    accepted->PostReadIfWaiting();
    return accepted;
}

ConnectResult Win32Socket::Connect(const SocketAddress& address, int& error) {
    if (state_ != State::Idle) {
        error = WSAEISCONN;
        return ConnectResult::Failed;
    }
    // Selected before connecting, so FD_CONNECT cannot be missed.
    error = OpenHandle(address.family == SocketAddress::Family::IPv6 ? AF_INET6 : AF_INET);
    if (error != 0) {
        state_ = State::Failed;
        return ConnectResult::NoSocket;
    }
    sockaddr_storage storage;
    const int length = ToSockaddr(address, storage);
    if (connect(socket_, reinterpret_cast<const sockaddr*>(&storage), length) == 0) {
        // FD_CONNECT still follows; it finds the socket connected and is ignored.
        state_ = State::Connected;
        return ConnectResult::Connected;
    }
    error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
        state_ = State::Failed;
        CloseSocket();
        return ConnectResult::Failed;
    }
    error = 0;
    state_ = State::Connecting;
    return ConnectResult::InProgress;
}

long Win32Socket::Receive(void* buffer, std::size_t size) {
    if (state_ != State::Connected || socket_ == INVALID_SOCKET) {
        return kError;
    }
    if (size == 0) {
        return kWouldBlock;
    }
    const int n = recv(socket_, static_cast<char*>(buffer),
                       static_cast<int>(std::min(size, kMaxTransfer)), 0);
    if (n > 0) {
        return n;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        return kWouldBlock;
    }
    readEnded_ = true;
    return n == 0 ? 0 : kError;
}

long Win32Socket::SendSome(const char* data, std::size_t size, int& error) {
    // Winsock announces FD_WRITE again only after a send failed with WSAEWOULDBLOCK, so a
    // short send goes on until it does; otherwise the Writable owed might never come.
    size = std::min<std::size_t>(size, LONG_MAX);
    std::size_t taken = 0;
    while (taken < size) {
        const int n =
            send(socket_, data + taken, static_cast<int>(std::min(size - taken, kMaxTransfer)), 0);
        if (n == SOCKET_ERROR) {
            const int code = WSAGetLastError();
            if (code == WSAEWOULDBLOCK) {
                sendBlocked_ = true;
                return taken > 0 ? static_cast<long>(taken) : kWouldBlock;
            }
            // What was taken is reported; the next send reports the failure.
            if (taken > 0) {
                return static_cast<long>(taken);
            }
            error = code;
            return kError;
        }
        taken += static_cast<std::size_t>(n);
    }
    return static_cast<long>(taken);
}

void Win32Socket::ShutDownNow() {
    shutdown(socket_, SD_SEND);
}

void Win32Socket::ResetNow() {
    if (socket_ == INVALID_SOCKET) {
        return;
    }
    // A zero linger time makes closesocket send a reset and drop what is still unsent.
    const linger abortive{1, 0};
    setsockopt(socket_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive),
               sizeof abortive);
    readEnded_ = true;
    CloseSocket();
}

void Win32Socket::ReportFailureLater(int error) {
    Win32EventLoop& loop = loop_;
    const SOCKET handle = socket_;
    const std::uint64_t serial = serial_;
    loop_.Post([&loop, handle, serial, this, error] {
        // The serial names this attachment alone: a socket gone meanwhile is not touched.
        if (!loop.IsAttached(handle, serial) || closeReported_) {
            return;
        }
        closeReported_ = true;
        readEnded_ = true;
        events_.OnClose(error);
    });
}

void Win32Socket::PauseReceive(bool paused) {
    if (paused == paused_) {
        return;
    }
    paused_ = paused;
    if (socket_ == INVALID_SOCKET || state_ == State::Failed) {
        return;
    }
    Select();
    if (state_ == State::Listening && !paused_) {
        // Connections that queued up meanwhile may not be announced again on their own.
        PostMessageA(loop_.window(), message_, static_cast<WPARAM>(socket_),
                     WSAMAKESELECTREPLY(FD_ACCEPT, 0));
    }
    PostReadIfWaiting();
}

void Win32Socket::SetNoDelay() {
    noDelay_ = true;
    if (socket_ != INVALID_SOCKET) {
        const BOOL on = TRUE;
        setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                   sizeof on);
    }
}

SocketAddress Win32Socket::LocalAddress() const {
    sockaddr_storage storage{};
    int length = sizeof storage;
    if (socket_ == INVALID_SOCKET ||
        getsockname(socket_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        return SocketAddress{};
    }
    return FromSockaddr(reinterpret_cast<const sockaddr*>(&storage));
}

void Win32Socket::HandleEvent(int event, int error) {
    // Any callback may destroy this socket: afterwards only these copies are safe to use.
    Win32EventLoop& loop = loop_;
    const SOCKET handle = socket_;
    const std::uint64_t serial = serial_;

    switch (event) {
        case FD_ACCEPT:
            if (state_ == State::Listening) {
                events_.OnAccept();
            }
            return;
        case FD_CONNECT:
            if (state_ != State::Connecting) {
                return;
            }
            if (error == 0) {
                state_ = State::Connected;
            } else {
                state_ = State::Failed;
                CloseSocket();
            }
            events_.OnConnect(error);
            if (error == 0 && loop.IsAttached(handle, serial)) {
                Writable();  // what was written while connecting goes now
            }
            return;
        case FD_READ:
            if (state_ == State::Connected && !paused_ && !readEnded_) {
                events_.OnReceive();
            }
            return;
        case FD_WRITE:
            // Also the first FD_WRITE after a connect that finished at once: what was queued
            // before goes then.
            if (state_ == State::Connected) {
                sendBlocked_ = false;
                Writable();
            }
            return;
        case FD_CLOSE:
            break;
        default:
            return;
    }

    if (state_ != State::Connected || closeReported_) {
        return;
    }
    // Data that came with the hang-up is offered before the news of it.
    if (!paused_ && !readEnded_ && BytesWaiting() > 0) {
        events_.OnReceive();
        if (!loop.IsAttached(handle, serial)) {
            return;
        }
    }
    closeReported_ = true;
    events_.OnClose(error);
    // After a reset (which Wine reports as a plain close) no FD_WRITE comes: a sender
    // waiting for one learns from Send instead. After a half-close Send blocks again.
    if (loop.IsAttached(handle, serial) && sendBlocked_) {
        sendBlocked_ = false;
        Writable();
    }
}

}  // namespace vantel
