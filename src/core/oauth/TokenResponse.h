// What a token endpoint answered, read and checked: a token the relay may send to a mail
// server, a failure worth trying again later, or a refusal only a person can mend.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/HttpClient.h"

namespace vantel {

struct TokenResponse {
    enum class Kind {
        Success,
        Temporary,  ///< unreachable, time-out, 5xx, 429, a broken answer: the tokens stay
        Permanent,  ///< the provider refused (invalid_grant, invalid_client, ...)
    };

    /// A token's lifetime is cut to this: a longer one would outlive a revoked grant here.
    static constexpr std::int64_t kMaxLifetimeSeconds = 24 * 60 * 60;
    /// The lifetime of a token whose answer gives none (RFC 6749 leaves it out).
    static constexpr std::int64_t kDefaultLifetimeSeconds = 60 * 60;
    /// A longer token is no token of any provider, and would not fit a mail server's line.
    static constexpr std::size_t kMaxTokenBytes = 16 * 1024;

    Kind kind = Kind::Temporary;
    std::string accessToken;   ///< Success: secret
    std::string refreshToken;  ///< Success: secret; empty when not rotated
    std::string scope;         ///< Success: as granted; empty when not given
    std::int64_t expiresIn = 0;
    std::string error;  ///< the OAuth error code, where the answer gave one
    /// Why it failed, for people: the provider's advice, or its error and description
    /// (escaped, cut short). Never holds a secret.
    std::string reason;
    std::uint32_t retryAfterSeconds = 0;

    /// Reads an answer of the token endpoint of `provider` ("microsoft", "google", "other");
    /// a status of 0 means none came.
    static TokenResponse Read(std::string_view provider, const HttpResponse& http);

    /// Whether `token` may go into a mail server's line: 1 to kMaxTokenBytes visible ASCII
    /// characters, so no line break or blank can smuggle a command in.
    static bool IsSafeToken(std::string_view token);
};

}  // namespace vantel
