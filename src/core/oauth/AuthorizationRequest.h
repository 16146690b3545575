// The provider's sign-in page the browser is sent to.
#pragma once

#include <string>
#include <string_view>

#include "core/oauth/OAuthProvider.h"

namespace vantel {

struct AuthorizationRequest {
    std::string redirectUri;  ///< sent again, byte for byte, when the code is exchanged
    std::string state;
    std::string codeChallenge;
    std::string loginHint;  ///< the account; left out when empty

    /// The authorization URL: code flow with PKCE S256, plus the provider's extras.
    std::string Url(const OAuthProvider& provider) const;
};

}  // namespace vantel
