// The token record as the token store keeps it: one JSON object, versioned.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/config/OAuthSignIn.h"
#include "core/oauth/TokenRecord.h"

namespace vantel {

class TokenRecordText {
  public:
    static std::string Write(const TokenRecord& record);
    /// nullopt with `error` in words for text that is no record, one a newer Vantel wrote,
    /// or one without an account or refresh token.
    static std::optional<TokenRecord> Read(std::string_view text, std::string& error);

    /// The store's key for `signIn`'s account: provider and account, lower case, every byte
    /// but letters, digits, '.', '-' and '@' written as "_XX", so that no two accounts share
    /// a record and no key leaves the store's folder.
    static std::string Key(const OAuthSignIn& signIn);
};

}  // namespace vantel
