// The words of the OAuth 2.0 options of vantel server: checked here, so that the store only
// ever holds values the sign-in can use.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantel {

class OAuthOptions {
  public:
    /// `word` in lower case (ASCII).
    static std::string Lower(std::string_view word);
    /// "microsoft", "google" or "other", in any case; nullopt for anything else.
    static std::optional<std::string> ParseProvider(std::string_view word);
    /// "XOAUTH2" or "OAUTHBEARER" from the word in any case.
    static std::optional<std::string> ParseMechanism(std::string_view word);
    /// something@something, no blanks or control characters.
    static bool IsAccount(std::string_view text);
    /// common, organizations, consumers, a GUID or a domain name.
    static bool IsTenant(std::string_view text);
    /// https://HOST..., or http:// to 127.0.0.1, [::1] or localhost only: a token sent in plain
    /// text over the network could be read on the way.
    static bool IsEndpointUrl(std::string_view text);
    /// A client ID: printable, no blanks.
    static bool IsClientId(std::string_view text);
    /// Scopes separated by blanks, each printable; nullopt when there is none. Runs of blanks
    /// become one.
    static std::optional<std::string> NormalizeScopes(std::string_view text);
};

}  // namespace vantel
