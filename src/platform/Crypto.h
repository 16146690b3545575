// The system's cryptography where the core needs it: random bytes and SHA-256.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantel {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Crypto {
  public:
    virtual ~Crypto() = default;
    /// `count` bytes from the system's secure generator; throws when it has none to give.
    virtual std::string RandomBytes(std::size_t count) = 0;
    virtual Sha256Digest Sha256(std::string_view data) = 0;
    /// PBKDF2 with HMAC-SHA-256, a 32-byte key.
    virtual Sha256Digest Pbkdf2Sha256(std::string_view password, std::string_view salt,
                                      std::uint32_t iterations) = 0;
};

}  // namespace vantel
