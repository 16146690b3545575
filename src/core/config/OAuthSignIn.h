// How a server entry signs in to its server, beside its address and security.
#pragma once

#include <climits>
#include <string>

namespace vantel {

/// Stored as its number beside the entry ("ServerSignIn<n>"); absent = Password.
enum class SignInMethod : int {
    /// The client's own login passes, or the stored POP3 login replaces it.
    Password = 0,
    /// The relay checks the entry's local password and signs in with an OAuth 2.0 token.
    OAuth2 = 1,
};

constexpr int StoredSignInMethod(SignInMethod method) {
    return static_cast<int>(method);
}

constexpr bool IsKnownSignInMethod(int stored) {
    return stored == StoredSignInMethod(SignInMethod::Password) ||
           stored == StoredSignInMethod(SignInMethod::OAuth2);
}

/// The method of an entry whose stored sign-in value is there but is no number. Known to no
/// program, so it is never taken as Password: the relay refuses the entry.
inline constexpr int kUnreadableSignInMethod = INT_MIN;

/// What an OAuth 2.0 entry signs in with. Empty texts take the provider preset's value (and
/// for the client ID and secret the program-wide default for the provider).
struct OAuthSignIn {
    std::string Provider;  ///< "microsoft", "google" or "other"
    std::string Tenant;    ///< Microsoft: "common", "organizations", "consumers" or a tenant ID
    std::string Account;   ///< the mailbox address, sent to the server as user=
    std::string ClientId;
    std::string ClientSecret;  ///< Google's desktop clients only; never shown
    // Other providers: where to sign in and what to ask for.
    std::string AuthorizeUrl;
    std::string TokenUrl;
    std::string DeviceUrl;  ///< optional
    std::string Scopes;     ///< blank-separated
    std::string Mechanism;  ///< "XOAUTH2" or "OAUTHBEARER"; empty: the provider's

    bool operator==(const OAuthSignIn& other) const {
        return Provider == other.Provider && Tenant == other.Tenant && Account == other.Account &&
               ClientId == other.ClientId && ClientSecret == other.ClientSecret &&
               AuthorizeUrl == other.AuthorizeUrl && TokenUrl == other.TokenUrl &&
               DeviceUrl == other.DeviceUrl && Scopes == other.Scopes &&
               Mechanism == other.Mechanism;
    }
    bool operator!=(const OAuthSignIn& other) const { return !(*this == other); }
};

}  // namespace vantel
