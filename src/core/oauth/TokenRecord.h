// What is kept of one account's sign-in, in the token store.
#pragma once

#include <cstdint>
#include <string>

namespace vantel {

struct TokenRecord {
    static constexpr int kVersion = 1;

    int Version = kVersion;
    std::string Account;  ///< the mailbox address signed in
    std::string Provider;
    std::string TokenUrl;
    std::string ClientId;
    std::string Tenant;
    std::string Scopes;  ///< granted, blank-separated
    std::string AccessToken;
    std::int64_t AccessExpiry = 0;  ///< UTC seconds
    std::string RefreshToken;
    std::int64_t RefreshedAt = 0;  ///< UTC seconds the refresh token was last issued
    /// "pbkdf2-sha256$<iterations>$<salt base64>$<key base64>" of the local password.
    std::string LocalPasswordHash;
    /// Set when the provider refused the refresh token (invalid_grant): the entry must be
    /// signed in again. The tokens stay until a new sign-in replaces them.
    bool SignInNeeded = false;
    std::string SignInNeededReason;  ///< the advice in words
};

}  // namespace vantel
