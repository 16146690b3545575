#include "platform/posix/AddressConversion.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace vantel {
namespace {

/// System texts start a sentence; in a notice they follow a label.
std::string LowerFirst(std::string text) {
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' &&
        (text.size() < 2 || !(text[1] >= 'A' && text[1] <= 'Z'))) {
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    }
    return text;
}

}  // namespace

SocketAddress FromSockaddr(const sockaddr* address) {
    SocketAddress result;
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 in6;
        std::memcpy(&in6, address, sizeof in6);
        result.family = SocketAddress::Family::IPv6;
        std::memcpy(result.bytes, &in6.sin6_addr, 16);
        result.port = ntohs(in6.sin6_port);
    } else {
        sockaddr_in in4;
        std::memcpy(&in4, address, sizeof in4);
        result.family = SocketAddress::Family::IPv4;
        std::memcpy(result.bytes, &in4.sin_addr, 4);
        result.port = ntohs(in4.sin_port);
    }
    return result;
}

socklen_t ToSockaddr(const SocketAddress& address, sockaddr_storage& storage) {
    std::memset(&storage, 0, sizeof storage);
    if (address.family == SocketAddress::Family::IPv6) {
        sockaddr_in6 in6{};
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(address.port);
        std::memcpy(&in6.sin6_addr, address.bytes, 16);
        std::memcpy(&storage, &in6, sizeof in6);
        return sizeof in6;
    }
    sockaddr_in in4{};
    in4.sin_family = AF_INET;
    in4.sin_port = htons(address.port);
    std::memcpy(&in4.sin_addr, address.bytes, 4);
    std::memcpy(&storage, &in4, sizeof in4);
    return sizeof in4;
}

bool ParseAddress(const std::string& text, std::uint16_t port, SocketAddress& address) {
    std::string bare = text;
    if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') {
        bare = bare.substr(1, bare.size() - 2);
    }
    address = SocketAddress{};
    address.port = port;
    if (inet_pton(AF_INET, bare.c_str(), address.bytes) == 1) {
        address.family = SocketAddress::Family::IPv4;
        return true;
    }
    if (inet_pton(AF_INET6, bare.c_str(), address.bytes) == 1) {
        address.family = SocketAddress::Family::IPv6;
        return true;
    }
    return false;
}

std::vector<SocketAddress> LookUpHost(const std::string& host, std::uint16_t port,
                                      std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        if (rc == EAI_NONAME || rc == EAI_NODATA) {
            error = "no such host";
        } else {
            error = rc == EAI_SYSTEM ? ErrorText(errno) : LowerFirst(gai_strerror(rc));
        }
        return {};
    }
    std::vector<SocketAddress> addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) {
            continue;
        }
        SocketAddress address = FromSockaddr(entry->ai_addr);
        address.port = port;
        const bool seen = std::any_of(addresses.begin(), addresses.end(), [&](const auto& a) {
            return a.family == address.family &&
                   std::memcmp(a.bytes, address.bytes, sizeof a.bytes) == 0;
        });
        if (!seen) {
            addresses.push_back(address);
        }
    }
    freeaddrinfo(found);
    if (addresses.empty()) {
        error = "no IPv4 or IPv6 address";
    }
    return addresses;
}

std::string ErrorText(int error) {
    switch (error) {
        case ECONNREFUSED:
            return "connection refused";
        case ETIMEDOUT:
            return "timed out";
        case EHOSTUNREACH:
            return "host unreachable";
        case ENETUNREACH:
            return "network unreachable";
        case ECONNRESET:
            return "connection reset";
        case EADDRINUSE:
            return "address already in use";
        case EMFILE:
        case ENFILE:
            return "too many open files";
        default:
            return LowerFirst(std::system_category().message(error));
    }
}

}  // namespace vantel
