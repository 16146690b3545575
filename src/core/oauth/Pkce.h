// Proof Key for Code Exchange (RFC 7636, S256): the authorization code is worth nothing to
// whoever intercepts the redirect without the verifier.
#pragma once

#include <string>
#include <string_view>

#include "platform/Crypto.h"

namespace vantel {

struct Pkce {
    std::string verifier;   ///< secret: goes only to the token endpoint
    std::string challenge;  ///< goes in the authorization URL
    static constexpr std::string_view kMethod = "S256";

    /// A verifier of 32 random bytes (43 characters) and its challenge.
    static Pkce Make(Crypto& crypto);
    /// base64url(SHA-256(verifier)).
    static std::string ChallengeFor(Crypto& crypto, std::string_view verifier);
};

}  // namespace vantel
