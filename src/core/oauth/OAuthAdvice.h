// What a person can do about a provider's refusal, in words.
#pragma once

#include <string>
#include <string_view>

namespace vantel {

/// Advice for the error a token endpoint (or the browser's redirect) gave: `provider` is
/// "microsoft", "google" or "other", `error` the OAuth error code, `description` the
/// provider's text (Microsoft puts its AADSTS number there). Empty when there is none to give.
std::string OAuthAdvice(std::string_view provider, std::string_view error,
                        std::string_view description);

}  // namespace vantel
