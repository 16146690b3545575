#include "core/oauth/AuthorizationRequest.h"

#include "core/oauth/Pkce.h"

namespace vantel {

std::string AuthorizationRequest::Url(const OAuthProvider& provider) const {
    FormFields fields = {
        {"response_type", "code"},
        {"client_id", provider.clientId},
        {"redirect_uri", redirectUri},
        {"scope", provider.scopes},
        {"state", state},
        {"code_challenge", codeChallenge},
        {"code_challenge_method", std::string(Pkce::kMethod)},
    };
    if (!loginHint.empty()) {
        fields.emplace_back("login_hint", loginHint);
    }
    fields.insert(fields.end(), provider.authorizeExtras.begin(), provider.authorizeExtras.end());
    const char joint = provider.authorizeUrl.find('?') == std::string::npos ? '?' : '&';
    return provider.authorizeUrl + joint + FormEncode(fields);
}

}  // namespace vantel
