// The password between the mail client and the relay, for an OAuth 2.0 entry: made at sign-in,
// shown once, kept only as a salted PBKDF2 hash.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Crypto.h"

namespace vantel {

class LocalPassword {
  public:
    /// Enough to make a guess worthless for a password that may be a person's own; few
    /// enough that checking one at each login holds up the relay for milliseconds only.
    static constexpr std::uint32_t kIterations = 20000;
    /// A stored count beyond this is no hash of ours and would stall the relay.
    static constexpr std::uint32_t kMaxIterations = 1000000;
    /// A password a person gives must be at least this long.
    static constexpr std::size_t kMinLength = 8;

    /// 24 random characters of the base64url alphabet (144 bits).
    static std::string Make(Crypto& crypto);
    /// "pbkdf2-sha256$<iterations>$<salt base64>$<key base64>" with a random 16-byte salt.
    static std::string Hash(Crypto& crypto, std::string_view password);
    /// Whether `password` is the one `stored` was made of; the keys compare in constant time.
    /// False for a `stored` that is no hash of this form.
    static bool Verify(Crypto& crypto, std::string_view password, std::string_view stored);
    /// Why `password` cannot be a local password (too short, a line break or NUL in it, which
    /// no login command could carry), or empty when it can.
    static std::string Problem(std::string_view password);
};

}  // namespace vantel
