#include "core/oauth/OAuthDefaults.h"

#ifndef VANTEL_MICROSOFT_CLIENT_ID
#define VANTEL_MICROSOFT_CLIENT_ID ""
#endif
#ifndef VANTEL_GOOGLE_CLIENT_ID
#define VANTEL_GOOGLE_CLIENT_ID ""
#endif
#ifndef VANTEL_GOOGLE_CLIENT_SECRET
#define VANTEL_GOOGLE_CLIENT_SECRET ""
#endif

namespace vantel {

OAuthDefaults OAuthDefaults::BuiltIn() {
    return {VANTEL_MICROSOFT_CLIENT_ID, VANTEL_GOOGLE_CLIENT_ID, VANTEL_GOOGLE_CLIENT_SECRET};
}

OAuthDefaults OAuthDefaults::Over(const OAuthDefaults& settings) {
    OAuthDefaults result = BuiltIn();
    if (!settings.microsoftClientId.empty()) {
        result.microsoftClientId = settings.microsoftClientId;
    }
    if (!settings.googleClientId.empty()) {
        result.googleClientId = settings.googleClientId;
        // A secret belongs to its client: the built-in one must not go with another ID.
        result.googleClientSecret = settings.googleClientSecret;
    } else if (!settings.googleClientSecret.empty()) {
        result.googleClientSecret = settings.googleClientSecret;
    }
    return result;
}

}  // namespace vantel
