// Where and how an entry signs in: the provider's endpoints, scopes and mechanism, with the
// entry's own values and the program-wide defaults applied.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/config/OAuthSignIn.h"
#include "core/oauth/FormEncoding.h"
#include "core/oauth/OAuthDefaults.h"
#include "core/oauth/SaslOAuth.h"

namespace vantel {

struct OAuthProvider {
    enum class Kind { Microsoft, Google, Other };

    Kind kind = Kind::Other;
    std::string name;    ///< "microsoft", "google", "other"
    std::string tenant;  ///< Microsoft only
    std::string authorizeUrl;
    std::string tokenUrl;
    std::string deviceUrl;  ///< empty: the provider has no device code flow
    std::string scopes;     ///< blank-separated
    SaslMechanism mechanism = SaslMechanism::XOAuth2;
    std::string clientId;
    std::string clientSecret;  ///< empty for public clients
    /// Added to the authorization URL (Google: access_type=offline, prompt=consent).
    FormFields authorizeExtras;
    /// Whether a refresh asks for the scopes again (Microsoft wants them).
    bool scopeOnRefresh = false;

    /// The provider of `signIn`; nullopt with `error` in words (what is missing or wrong, and
    /// how to set it) when the entry cannot sign in as it stands.
    static std::optional<OAuthProvider> Resolve(const OAuthSignIn& signIn,
                                                const OAuthDefaults& defaults, std::string& error);

    /// Whether a token or authorization endpoint may be used: https://, or http:// to a
    /// loopback host (127.0.0.1, [::1], localhost) only.
    static bool IsAllowedEndpoint(std::string_view url);
};

}  // namespace vantel
