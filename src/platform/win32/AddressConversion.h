// Name lookup and the system's error texts (the address structures: SockaddrConversion).
// Included only by the Windows sources.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/SocketAddress.h"
#include "platform/bsd/SockaddrConversion.h"

namespace vantel {

/// Blocks on the system resolver; the addresses in its order, or empty with `error` set.
std::vector<SocketAddress> LookUpHost(const std::string& host, std::uint16_t port,
                                      std::string& error);
/// The system's text for a Winsock or Windows error code.
std::string ErrorText(int error);

}  // namespace vantel
