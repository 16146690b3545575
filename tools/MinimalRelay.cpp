// vantel-minrelay: the least a relay can do, for the benchmark to measure the relay against. One
// thread, edge-triggered epoll, one 256 KiB buffer shared by every connection, no parsing: what
// one side sends goes to the other, and a side that cannot take it all stops the other from
// being read until it can. With --splice the bytes go through a pipe per direction instead and
// never reach user space. A half-close is passed on; a failed side ends both.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kBufferBytes = 256 * 1024;
constexpr int kBacklog = 65535;  // the kernel caps it at net.core.somaxconn

/// One direction: bytes read from `from` go to `to`. What `to` did not take waits in `pending`
/// (or in the pipe), and `from` is not read again until it has gone.
struct Direction {
    int from = -1;
    int to = -1;
    std::string pending;
    std::size_t sent = 0;  ///< of `pending`
    int pipe[2] = {-1, -1};
    std::size_t inPipe = 0;
    bool ended = false;  ///< `from` reached its end, passed on as a shutdown of `to`
};

struct Pair;

/// What an epoll event names: the listener (pair null) or one end of a pair.
struct Tag {
    Pair* pair;
};

struct Pair {
    Direction up;    ///< client to server
    Direction down;  ///< server to client
    Tag clientTag{this};
    Tag serverTag{this};
    bool dead = false;
};

struct Relay {
    int epoll = -1;
    int listener = -1;
    sockaddr_in server{};
    bool splice = false;
    std::vector<char> buffer = std::vector<char>(kBufferBytes);
    Tag listenTag{nullptr};
};

void Watch(const Relay& relay, int op, int fd, Tag* tag) {
    epoll_event event{};
    event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    event.data.ptr = tag;
    epoll_ctl(relay.epoll, op, fd, &event);
}

void Close(Pair& pair) {
    if (pair.dead) {
        return;
    }
    pair.dead = true;
    for (Direction* d : {&pair.up, &pair.down}) {
        for (int& fd : d->pipe) {
            if (fd >= 0) {
                close(fd);
                fd = -1;
            }
        }
    }
    close(pair.up.from);
    close(pair.up.to);
}

/// Sends what waits for `d.to`; false while some of it is still there.
bool Flush(Relay& relay, Direction& d) {
    if (relay.splice) {
        while (d.inPipe > 0) {
            const ssize_t n = splice(d.pipe[0], nullptr, d.to, nullptr, d.inPipe,
                                     SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
            if (n <= 0) {
                return false;
            }
            d.inPipe -= static_cast<std::size_t>(n);
        }
        return true;
    }
    while (d.sent < d.pending.size()) {
        const ssize_t n =
            send(d.to, d.pending.data() + d.sent, d.pending.size() - d.sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        d.sent += static_cast<std::size_t>(n);
    }
    std::string().swap(d.pending);
    d.sent = 0;
    return true;
}

/// Moves what `d.from` has to `d.to` until one of them would block; false when the pair failed.
bool Move(Relay& relay, Direction& d) {
    if (!Flush(relay, d)) {
        return errno == EAGAIN;
    }
    while (!d.ended) {
        ssize_t n = 0;
        if (relay.splice) {
            n = splice(d.from, nullptr, d.pipe[1], nullptr, kBufferBytes,
                       SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        } else {
            n = recv(d.from, relay.buffer.data(), relay.buffer.size(), 0);
        }
        if (n < 0) {
            return errno == EAGAIN;
        }
        if (n == 0) {
            d.ended = true;
            shutdown(d.to, SHUT_WR);
            return true;
        }
        if (relay.splice) {
            d.inPipe = static_cast<std::size_t>(n);
        } else {
            const ssize_t sent =
                send(d.to, relay.buffer.data(), static_cast<std::size_t>(n), MSG_NOSIGNAL);
            if (sent < 0 && errno != EAGAIN) {
                return false;
            }
            const std::size_t done = sent < 0 ? 0 : static_cast<std::size_t>(sent);
            if (done < static_cast<std::size_t>(n)) {
                d.pending.assign(relay.buffer.data() + done, static_cast<std::size_t>(n) - done);
                d.sent = 0;
            }
        }
        if (!Flush(relay, d)) {
            return errno == EAGAIN;
        }
    }
    return true;
}

void Serve(Relay& relay, Pair& pair, std::uint32_t events) {
    // A failed connect, or a reset: both sides go.
    if ((events & EPOLLERR) != 0 || !Move(relay, pair.up) || !Move(relay, pair.down) ||
        (pair.up.ended && pair.down.ended && pair.up.inPipe == 0 && pair.down.inPipe == 0 &&
         pair.up.pending.empty() && pair.down.pending.empty())) {
        Close(pair);
    }
}

void Accept(Relay& relay, std::vector<std::unique_ptr<Pair>>& dead) {
    for (;;) {
        const int client = accept4(relay.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) {
            return;
        }
        const int server = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (server < 0) {
            close(client);
            continue;
        }
        const int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (connect(server, reinterpret_cast<const sockaddr*>(&relay.server),
                    sizeof relay.server) != 0 &&
            errno != EINPROGRESS) {
            close(client);
            close(server);
            continue;
        }
        auto* pair = new Pair;
        pair->up.from = pair->down.to = client;
        pair->up.to = pair->down.from = server;
        if (relay.splice && (pipe2(pair->up.pipe, O_NONBLOCK | O_CLOEXEC) != 0 ||
                             pipe2(pair->down.pipe, O_NONBLOCK | O_CLOEXEC) != 0)) {
            Close(*pair);
            dead.emplace_back(pair);
            continue;
        }
        Watch(relay, EPOLL_CTL_ADD, client, &pair->clientTag);
        Watch(relay, EPOLL_CTL_ADD, server, &pair->serverTag);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Relay relay;
    int arg = 1;
    if (arg < argc && std::strcmp(argv[arg], "--splice") == 0) {
        relay.splice = true;
        ++arg;
    }
    if (argc - arg != 2) {
        std::fputs("Usage: vantel-minrelay [--splice] LISTEN_PORT SERVER_PORT (on 127.0.0.1)\n",
                   stderr);
        return 2;
    }
    const int listenPort = std::atoi(argv[arg]);
    const int serverPort = std::atoi(argv[arg + 1]);
    if (listenPort <= 0 || listenPort > 65535 || serverPort <= 0 || serverPort > 65535) {
        std::fputs("vantel-minrelay: the ports must be 1 to 65535\n", stderr);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    relay.server.sin_family = AF_INET;
    relay.server.sin_port = htons(static_cast<std::uint16_t>(serverPort));
    relay.server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in local = relay.server;
    local.sin_port = htons(static_cast<std::uint16_t>(listenPort));
    relay.listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(relay.listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (relay.listener < 0 ||
        bind(relay.listener, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        listen(relay.listener, kBacklog) != 0) {
        std::fprintf(stderr, "vantel-minrelay: cannot listen on port %d: %s\n", listenPort,
                     std::strerror(errno));
        return 1;
    }
    relay.epoll = epoll_create1(EPOLL_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN | EPOLLET;
    event.data.ptr = &relay.listenTag;
    epoll_ctl(relay.epoll, EPOLL_CTL_ADD, relay.listener, &event);

    std::vector<std::unique_ptr<Pair>> dead;
    std::vector<epoll_event> events(1024);
    for (;;) {
        const int n = epoll_wait(relay.epoll, events.data(), static_cast<int>(events.size()), -1);
        if (n < 0 && errno != EINTR) {
            return 1;
        }
        for (int i = 0; i < n; ++i) {
            auto* tag = static_cast<Tag*>(events[i].data.ptr);
            if (tag->pair == nullptr) {
                Accept(relay, dead);
            } else if (!tag->pair->dead) {
                Serve(relay, *tag->pair, events[i].events);
                if (tag->pair->dead) {
                    // Freed after this batch: another event of it may still be in the list.
                    // Its descriptors are closed, so no later batch names it.
                    dead.emplace_back(tag->pair);
                }
            }
        }
        dead.clear();
    }
}
