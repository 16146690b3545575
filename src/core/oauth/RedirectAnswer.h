// What the browser brings back to the loopback listener (or the user pastes): the target of
// its GET, "/path?code=...&state=...", or the provider's refusal, "?error=...".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantel {

struct RedirectAnswer {
    /// A longer target is no redirect of a sign-in.
    static constexpr std::size_t kMaxTarget = 16 * 1024;

    std::string code;   ///< secret; empty when `error` is set
    std::string state;  ///< to be checked with SignInState::Accept
    std::string error;  ///< the provider's error code ("access_denied"), else empty
    std::string errorDescription;
    std::string issuer;  ///< "iss", where the provider sends it

    /// Parses a request target ("/?code=..") or a whole pasted URL ("http://127.0.0.1:1/?..")
    /// whose path must be `expectedPath`. nullopt with `problem` in words (never quoting the
    /// code) for another path, a broken escape, a parameter twice, no code and no error, both,
    /// or no state.
    static std::optional<RedirectAnswer> Parse(std::string_view target,
                                               std::string_view expectedPath, std::string& problem);
};

}  // namespace vantel
