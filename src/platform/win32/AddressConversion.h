// Between SocketAddress and the Winsock address structures, and name lookup. Included only
// by the Windows sources.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/SocketAddress.h"

namespace vantel {

SocketAddress FromSockaddr(const sockaddr* address);
/// Fills `storage` and returns the length of the filled structure.
int ToSockaddr(const SocketAddress& address, sockaddr_storage& storage);
/// Parses a literal IPv4 or IPv6 address (brackets around IPv6 allowed).
bool ParseAddress(const std::string& text, std::uint16_t port, SocketAddress& address);
/// Blocks on the system resolver; the addresses in its order, or empty with `error` set.
std::vector<SocketAddress> LookUpHost(const std::string& host, std::uint16_t port,
                                      std::string& error);
/// The system's text for a Winsock or Windows error code.
std::string ErrorText(int error);

}  // namespace vantel
