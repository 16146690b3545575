// The forms posted to a provider's token and device endpoints (RFC 6749, RFC 7636, RFC 8628).
#pragma once

#include <string>
#include <string_view>

#include "core/oauth/OAuthProvider.h"

namespace vantel {

class TokenForms {
  public:
    static constexpr std::string_view kDeviceGrant = "urn:ietf:params:oauth:grant-type:device_code";

    /// A new access token for `refreshToken`.
    static std::string Refresh(const OAuthProvider& provider, std::string_view refreshToken);
    /// The code the browser brought back, with the verifier and the byte-identical redirect.
    static std::string Code(const OAuthProvider& provider, std::string_view code,
                            std::string_view redirectUri, std::string_view verifier);
    /// Asks the device endpoint for a user code.
    static std::string DeviceStart(const OAuthProvider& provider);
    /// Asks the token endpoint whether the user has entered the code yet.
    static std::string DevicePoll(const OAuthProvider& provider, std::string_view deviceCode);
};

}  // namespace vantel
