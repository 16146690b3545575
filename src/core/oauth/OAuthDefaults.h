// The program-wide client registrations an entry falls back on when it names none itself.
#pragma once

#include <string>

#include "core/config/RelaySettings.h"

namespace vantel {

struct OAuthDefaults {
    /// The `vantel set` keys that hold them.
    static constexpr const char* kMicrosoftClientIdKey = "oauth-microsoft-client-id";
    static constexpr const char* kGoogleClientIdKey = "oauth-google-client-id";
    static constexpr const char* kGoogleClientSecretKey = "oauth-google-client-secret";

    std::string microsoftClientId;
    std::string googleClientId;
    std::string googleClientSecret;  ///< never shown

    /// What the packager built in (empty unless given at build time).
    static OAuthDefaults BuiltIn();
    /// `settings`' values where set, else the built-in ones.
    static OAuthDefaults Over(const OAuthDefaults& settings);
    /// Over the program-wide values `settings` hold.
    static OAuthDefaults Of(const RelaySettings& settings) {
        return Over({settings.OAuthDefaultMicrosoftClientId, settings.OAuthDefaultGoogleClientId,
                     settings.OAuthDefaultGoogleClientSecret});
    }
};

}  // namespace vantel
