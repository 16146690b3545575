// A resolved endpoint, IPv4 or IPv6, in a form the core can hold without system headers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantel {

struct SocketAddress {
    enum class Family { IPv4, IPv6 };
    Family family = Family::IPv4;
    std::uint8_t bytes[16] = {};  ///< 4 (IPv4) or 16 (IPv6) address bytes, network order
    std::uint16_t port = 0;       ///< host order

    /// "127.0.0.1:25", "[::1]:25".
    std::string ToString() const;

    /// Reads a dotted IPv4 address ("192.0.2.1"): four decimal parts of 0 to 255, nothing
    /// else. False for anything that would need a name lookup.
    static bool ParseIPv4(std::string_view text, std::uint16_t port, SocketAddress& address);
};

}  // namespace vantel
