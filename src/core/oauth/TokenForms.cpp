#include "core/oauth/TokenForms.h"

#include "core/oauth/FormEncoding.h"

namespace vantel {
namespace {

// The client's own fields: the secret only where the provider issued one.
void AddClient(const OAuthProvider& provider, FormFields& fields) {
    fields.emplace_back("client_id", provider.clientId);
    if (!provider.clientSecret.empty()) {
        fields.emplace_back("client_secret", provider.clientSecret);
    }
}

}  // namespace

std::string TokenForms::Refresh(const OAuthProvider& provider, std::string_view refreshToken) {
    FormFields fields{{"grant_type", "refresh_token"},
                      {"refresh_token", std::string(refreshToken)}};
    AddClient(provider, fields);
    if (provider.scopeOnRefresh) {
        fields.emplace_back("scope", provider.scopes);
    }
    return FormEncode(fields);
}

std::string TokenForms::Code(const OAuthProvider& provider, std::string_view code,
                             std::string_view redirectUri, std::string_view verifier) {
    FormFields fields{{"grant_type", "authorization_code"},
                      {"code", std::string(code)},
                      {"redirect_uri", std::string(redirectUri)},
                      {"code_verifier", std::string(verifier)}};
    AddClient(provider, fields);
    return FormEncode(fields);
}

std::string TokenForms::DeviceStart(const OAuthProvider& provider) {
    FormFields fields{{"client_id", provider.clientId}, {"scope", provider.scopes}};
    return FormEncode(fields);
}

std::string TokenForms::DevicePoll(const OAuthProvider& provider, std::string_view deviceCode) {
    FormFields fields{{"grant_type", std::string(kDeviceGrant)},
                      {"device_code", std::string(deviceCode)}};
    AddClient(provider, fields);
    return FormEncode(fields);
}

}  // namespace vantel
