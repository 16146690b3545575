// The parts of address handling that the BSD socket calls of POSIX and Winsock share:
// between SocketAddress and the system's address structures, and reading a lookup's answer.
// Included only by the platform backends.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include <cstdint>
#include <string>
#include <vector>

#include "platform/SocketAddress.h"

namespace vantel {

#ifdef _WIN32
using SockaddrLength = int;
#else
using SockaddrLength = socklen_t;
#endif

SocketAddress FromSockaddr(const sockaddr* address);
/// Fills `storage` and returns the length of the filled structure.
SockaddrLength ToSockaddr(const SocketAddress& address, sockaddr_storage& storage);
/// Parses a literal IPv4 or IPv6 address (brackets around IPv6 allowed).
bool ParseAddress(const std::string& text, std::uint16_t port, SocketAddress& address);
/// The IPv4 and IPv6 addresses of a lookup's answer, each once, in the resolver's order.
std::vector<SocketAddress> AddressesOf(const addrinfo* found, std::uint16_t port);
/// The local address a listener binds, or false with `error` set when `text` names none.
bool ParseListenAddress(const std::string& text, std::uint16_t port, SocketAddress& local,
                        std::string& error);
/// Whether `address` is the unspecified IPv6 address, which takes IPv4 connections too.
bool IsEveryInterface(const SocketAddress& address);

}  // namespace vantel
