// The SASL messages that carry an OAuth 2.0 access token to a mail server.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantel {

enum class SaslMechanism { XOAuth2, OAuthBearer };

/// "XOAUTH2" or "OAUTHBEARER".
std::string_view SaslMechanismName(SaslMechanism mechanism);
/// The mechanism a name means, in any letter case; nullopt for another name.
std::optional<SaslMechanism> ParseSaslMechanism(std::string_view name);

/// Where the server is, for OAUTHBEARER; either may be empty and is then left out.
struct SaslServer {
    std::string host;
    std::string port;
};

/// The client's first message, base64 as it goes on the wire.
std::string SaslInitialResponse(SaslMechanism mechanism, std::string_view user,
                                std::string_view token, const SaslServer& server = {});

/// What the client answers to an error challenge so that the server sends its final refusal:
/// an empty line for XOAUTH2, a lone 0x01 ("AQ==") for OAUTHBEARER.
std::string_view SaslErrorChallengeAnswer(SaslMechanism mechanism);

/// What a server's error challenge says, for the trace and the retry decision.
struct SaslErrorChallenge {
    std::string status;  ///< "401", "400", "invalid_token", ...
    std::string scope;
    std::string schemes;
    std::string openidConfiguration;
};

/// The challenge (the base64 text after "+ " or "334 ") decoded; nullopt when it is not
/// base64 of a JSON object. Members that are not strings are left empty.
std::optional<SaslErrorChallenge> DecodeSaslErrorChallenge(std::string_view challenge);

}  // namespace vantel
