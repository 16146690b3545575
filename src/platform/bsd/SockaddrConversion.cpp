#include "platform/bsd/SockaddrConversion.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

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

SockaddrLength ToSockaddr(const SocketAddress& address, sockaddr_storage& storage) {
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

std::vector<SocketAddress> AddressesOf(const addrinfo* found, std::uint16_t port) {
    std::vector<SocketAddress> addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) {
            continue;
        }
        SocketAddress address = FromSockaddr(entry->ai_addr);
        address.port = port;
        // A resolver may give one address more than once (through several names, say).
        const bool seen = std::any_of(addresses.begin(), addresses.end(), [&](const auto& a) {
            return a.family == address.family &&
                   std::memcmp(a.bytes, address.bytes, sizeof a.bytes) == 0;
        });
        if (!seen) {
            addresses.push_back(address);
        }
    }
    return addresses;
}

bool ParseListenAddress(const std::string& text, std::uint16_t port, SocketAddress& local,
                        std::string& error) {
    if (ParseAddress(text, port, local)) {
        return true;
    }
    error = "not an IP address: " + text;
    return false;
}

bool IsEveryInterface(const SocketAddress& address) {
    return address.family == SocketAddress::Family::IPv6 &&
           std::all_of(std::begin(address.bytes), std::end(address.bytes),
                       [](auto b) { return b == 0; });
}

}  // namespace vantel
