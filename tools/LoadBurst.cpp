#include "LoadBurst.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

namespace vantel::load {
namespace {

using Clock = std::chrono::steady_clock;

enum class Step { Greeting, Ehlo, Held, Quit, Done };

struct Client {
    int fd = -1;
    Step step = Step::Greeting;
    Clock::time_point start;
    double greetingMs = -1;
    std::string line;  ///< the reply line read so far
};

double Ms(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void CloseClient(Client& client) {
    if (client.fd >= 0) {
        close(client.fd);
        client.fd = -1;
    }
}

/// Sends a short command whole; a loopback socket with room for a few bytes always takes it.
bool SendLine(const Client& client, const char* text) {
    const std::size_t size = std::strlen(text);
    return send(client.fd, text, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
}

/// Reads what came; moves the client on at each complete reply. False when it is over.
bool Read(Client& client, long& held) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 && errno == EAGAIN;  // all read; or the end, or a failure
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != '\n') {
                if (client.line.size() < 512) {
                    client.line += buffer[i];
                }
                continue;
            }
            std::string line;
            line.swap(client.line);
            // The last line of a reply has a space (or nothing) after its code.
            if (line.size() >= 4 && line[3] == '-') {
                continue;
            }
            const std::string code = line.substr(0, 3);
            if (client.step == Step::Greeting && code == "220") {
                client.greetingMs = Ms(client.start, Clock::now());
                if (!SendLine(client, "EHLO burst.example.org\r\n")) {
                    return false;
                }
                client.step = Step::Ehlo;
            } else if (client.step == Step::Ehlo && code == "250") {
                client.step = Step::Held;
                ++held;
            } else if (client.step == Step::Quit && code == "221") {
                client.step = Step::Done;
                return false;
            } else {
                return false;
            }
        }
    }
}

}  // namespace

double Quantile(std::vector<double>& values, double q) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size())));
    return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

BurstOutcome RunBurst(std::uint16_t port, long count, int sources, std::uint32_t settleMs) {
    BurstOutcome outcome;
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    if (epoll < 0) {
        outcome.error = std::strerror(errno);
        return outcome;
    }
    std::vector<Client> clients(static_cast<std::size_t>(count));
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const Clock::time_point begin = Clock::now();
    long open = 0;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        Client& client = clients[i];
        client.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (client.fd < 0) {
            outcome.error = std::string("socket: ") + std::strerror(errno);
            client.step = Step::Done;
            continue;
        }
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr =
            htonl(INADDR_LOOPBACK + 1 +
                  static_cast<std::uint32_t>(i % static_cast<std::size_t>(sources)));
        const int on = 1;
        setsockopt(client.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        client.start = Clock::now();
        if (bind(client.fd, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0 ||
            (connect(client.fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0 &&
             errno != EINPROGRESS)) {
            outcome.error = std::string("connect: ") + std::strerror(errno);
            CloseClient(client);
            client.step = Step::Done;
            continue;
        }
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u64 = i;
        epoll_ctl(epoll, EPOLL_CTL_ADD, client.fd, &event);
        ++open;
    }
    long held = 0;
    long ended = count - open;
    bool released = false;
    std::vector<epoll_event> events(1024);
    const auto release = [&] {
        released = true;
        outcome.seconds = Ms(begin, Clock::now()) / 1000;
        outcome.held = held;
        for (Client& client : clients) {
            if (client.step == Step::Held && SendLine(client, "QUIT\r\n")) {
                client.step = Step::Quit;
            } else if (client.fd >= 0) {
                CloseClient(client);
                client.step = Step::Done;
                ++ended;
            }
        }
    };
    while (ended < count) {
        if (!released && held + ended >= count) {
            release();
            continue;
        }
        const double waited = Ms(begin, Clock::now());
        // After the release the QUITs get as long again.
        const double limit = released ? 2.0 * settleMs : settleMs;
        if (waited >= limit) {
            if (released) {
                break;
            }
            release();
            continue;
        }
        const int n = epoll_wait(epoll, events.data(), static_cast<int>(events.size()),
                                 static_cast<int>(limit - waited) + 1);
        for (int i = 0; i < n; ++i) {
            Client& client = clients[events[i].data.u64];
            if (client.fd < 0) {
                continue;
            }
            const bool wasHeld = client.step == Step::Held;
            if (!Read(client, held)) {
                if (client.step == Step::Done) {
                    ++outcome.quit;
                }
                if (wasHeld || client.step == Step::Held) {
                    --held;  // it was open, and is not any more
                }
                CloseClient(client);
                client.step = Step::Done;
                ++ended;
            }
        }
    }
    std::vector<double> waits;
    waits.reserve(clients.size());
    for (Client& client : clients) {
        CloseClient(client);
        // A session never greeted waited the whole time.
        waits.push_back(client.greetingMs >= 0 ? client.greetingMs : settleMs);
    }
    close(epoll);
    outcome.failed = count - outcome.held;
    outcome.p50Ms = Quantile(waits, 0.50);
    outcome.p99Ms = Quantile(waits, 0.99);
    return outcome;
}

}  // namespace vantel::load
