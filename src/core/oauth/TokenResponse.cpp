#include "core/oauth/TokenResponse.h"

#include <optional>

#include "core/config/AsciiText.h"
#include "core/oauth/JsonObject.h"
#include "core/oauth/OAuthAdvice.h"
#include "platform/EscapedText.h"

namespace vantel {
namespace {

constexpr std::size_t kMaxDescription = 200;

// A provider's words, safe for one line of ours.
std::string Quoted(std::string_view text) {
    std::string line = EscapeControls(text.substr(0, kMaxDescription));
    if (text.size() > kMaxDescription) {
        line += "...";
    }
    return line;
}

TokenResponse Failure(TokenResponse::Kind kind, std::string reason, std::uint32_t retryAfter) {
    TokenResponse response;
    response.kind = kind;
    response.reason = std::move(reason);
    response.retryAfterSeconds = retryAfter;
    return response;
}

// Errors that say the provider is busy or broken right now, not that the grant is bad.
bool IsPassingError(std::string_view error) {
    return error == "temporarily_unavailable" || error == "server_error";
}

}  // namespace

bool TokenResponse::IsSafeToken(std::string_view token) {
    if (token.empty() || token.size() > kMaxTokenBytes) {
        return false;
    }
    for (char c : token) {
        if (c < '!' || c > '~') {
            return false;
        }
    }
    return true;
}

TokenResponse TokenResponse::Read(std::string_view provider, const HttpResponse& http) {
    const int status = http.status;
    const std::string_view body = http.body;
    const std::string_view transportError = http.error;
    const std::uint32_t retryAfter = http.retryAfterSeconds;
    using Kind = TokenResponse::Kind;
    if (status == 0) {
        return Failure(Kind::Temporary,
                       "the token endpoint could not be reached: " +
                           Quoted(transportError.empty() ? "no answer" : transportError),
                       retryAfter);
    }
    if (status >= 500 || status == 429) {
        return Failure(
            Kind::Temporary,
            "the token endpoint is busy or failing (HTTP " + std::to_string(status) + ")",
            retryAfter);
    }
    std::string parseError;
    const std::optional<JsonObject> json = JsonObject::Parse(body, parseError);
    if (status != 200) {
        const std::optional<std::string> error = json ? json->String("error") : std::nullopt;
        if (!error || error->empty()) {
            return Failure(Kind::Permanent,
                           "the token endpoint refused with HTTP " + std::to_string(status) +
                               " and no OAuth error: check its URL",
                           retryAfter);
        }
        TokenResponse response;
        response.error = Quoted(*error);
        response.retryAfterSeconds = retryAfter;
        const std::string description = json->String("error_description").value_or("");
        response.kind = IsPassingError(*error) ? Kind::Temporary : Kind::Permanent;
        response.reason = OAuthAdvice(provider, *error, description);
        if (response.reason.empty()) {
            response.reason = "the provider refused: " + response.error;
            if (!description.empty()) {
                response.reason += " (" + Quoted(description) + ")";
            }
        }
        return response;
    }
    // A 200 that is no token (a captive portal's page, a proxy's) says nothing of the grant.
    if (!json) {
        return Failure(Kind::Temporary, "the token endpoint's answer is no JSON object",
                       retryAfter);
    }
    const std::string accessToken = json->String("access_token").value_or("");
    if (!IsSafeToken(accessToken)) {
        return Failure(Kind::Temporary, "the token endpoint's answer holds no usable access token",
                       retryAfter);
    }
    const std::optional<std::string> type = json->String("token_type");
    if (type && !EqualsNoCase(*type, "BEARER")) {
        return Failure(
            Kind::Permanent,
            "the token endpoint gave a token of type " + Quoted(*type) + ", not a bearer token",
            retryAfter);
    }
    const std::string refreshToken = json->String("refresh_token").value_or("");
    if (!refreshToken.empty() && !IsSafeToken(refreshToken)) {
        return Failure(Kind::Temporary, "the token endpoint's answer holds a broken refresh token",
                       retryAfter);
    }
    const std::int64_t expiresIn =
        json->Has("expires_in") ? json->Integer("expires_in").value_or(0) : kDefaultLifetimeSeconds;
    if (expiresIn <= 0) {
        return Failure(Kind::Temporary, "the token endpoint gave a token that has already expired",
                       retryAfter);
    }
    TokenResponse response;
    response.kind = Kind::Success;
    response.accessToken = accessToken;
    response.refreshToken = refreshToken;
    response.scope = Quoted(json->String("scope").value_or(""));
    response.expiresIn = expiresIn < kMaxLifetimeSeconds ? expiresIn : kMaxLifetimeSeconds;
    return response;
}

}  // namespace vantel
