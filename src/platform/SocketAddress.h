// A resolved endpoint, IPv4 or IPv6, in a form the core can hold without system headers.
#pragma once

#include <cstdint>
#include <string>

namespace vantel {

struct SocketAddress {
    enum class Family { IPv4, IPv6 };
    Family family = Family::IPv4;
    std::uint8_t bytes[16] = {};  ///< 4 (IPv4) or 16 (IPv6) address bytes, network order
    std::uint16_t port = 0;       ///< host order

    /// "127.0.0.1:25", "[::1]:25".
    std::string ToString() const;
};

}  // namespace vantel
