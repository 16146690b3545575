#include "platform/win32/AddressConversion.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace vantel {

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

int ToSockaddr(const SocketAddress& address, sockaddr_storage& storage) {
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
        // Not gai_strerror: it writes into one static buffer, and lookups run in parallel.
        error = ErrorText(rc);
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
        case WSAECONNREFUSED:
            return "connection refused";
        case WSAETIMEDOUT:
            return "timed out";
        case WSAEHOSTUNREACH:
            return "host unreachable";
        case WSAENETUNREACH:
            return "network unreachable";
        case WSAECONNRESET:
            return "connection reset";
        case WSAEADDRINUSE:
            return "address already in use";
        case WSAEMFILE:
            return "too many open sockets";
        case WSAHOST_NOT_FOUND:
        case WSANO_DATA:
            return "no such host";
        default:
            break;
    }
    char buffer[512];
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    if (text.empty()) {
        return "error " + std::to_string(error);
    }
    return text + " (" + std::to_string(error) + ")";
}

}  // namespace vantel
