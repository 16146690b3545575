// Between SocketAddress and the system's socket address structures, and name lookup.
// Included only by the POSIX sources.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/SocketAddress.h"

namespace vantel {

SocketAddress FromSockaddr(const sockaddr* address);
/// Fills `storage` and returns the length of the filled structure.
socklen_t ToSockaddr(const SocketAddress& address, sockaddr_storage& storage);
/// Parses a literal IPv4 or IPv6 address (brackets around IPv6 allowed).
bool ParseAddress(const std::string& text, std::uint16_t port, SocketAddress& address);
/// Blocks on the system resolver; the addresses in its order, or empty with `error` set.
std::vector<SocketAddress> LookUpHost(const std::string& host, std::uint16_t port,
                                      std::string& error);
/// The system's text for an errno value.
std::string ErrorText(int error);

}  // namespace vantel
