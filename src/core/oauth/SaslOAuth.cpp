#include "core/oauth/SaslOAuth.h"

#include "core/config/AsciiText.h"
#include "core/oauth/Base64.h"
#include "core/oauth/JsonObject.h"

namespace vantel {
namespace {

constexpr char kSeparator = '\x01';

// The authzid of a gs2 header: ',' and '=' would end or escape it.
std::string EscapeSaslName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == ',') {
            out += "=2C";
        } else if (c == '=') {
            out += "=3D";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string_view SaslMechanismName(SaslMechanism mechanism) {
    return mechanism == SaslMechanism::XOAuth2 ? "XOAUTH2" : "OAUTHBEARER";
}

std::optional<SaslMechanism> ParseSaslMechanism(std::string_view name) {
    if (EqualsNoCase(name, "XOAUTH2")) {
        return SaslMechanism::XOAuth2;
    }
    if (EqualsNoCase(name, "OAUTHBEARER")) {
        return SaslMechanism::OAuthBearer;
    }
    return std::nullopt;
}

std::string SaslInitialResponse(SaslMechanism mechanism, std::string_view user,
                                std::string_view token, const SaslServer& server) {
    std::string message;
    if (mechanism == SaslMechanism::XOAuth2) {
        message.append("user=").append(user);
    } else {
        message.append("n,a=").append(EscapeSaslName(user)).append(",");
        if (!server.host.empty()) {
            message.append(1, kSeparator).append("host=").append(server.host);
        }
        if (!server.port.empty()) {
            message.append(1, kSeparator).append("port=").append(server.port);
        }
    }
    message.append(1, kSeparator).append("auth=Bearer ").append(token);
    message.append(2, kSeparator);
    return Base64Encode(message);
}

std::string_view SaslErrorChallengeAnswer(SaslMechanism mechanism) {
    return mechanism == SaslMechanism::XOAuth2 ? "" : "AQ==";
}

std::optional<SaslErrorChallenge> DecodeSaslErrorChallenge(std::string_view challenge) {
    while (!challenge.empty() && (challenge.back() == ' ' || challenge.back() == '\r')) {
        challenge.remove_suffix(1);
    }
    const std::optional<std::string> json = Base64Decode(challenge);
    if (!json) {
        return std::nullopt;
    }
    std::string error;
    const std::optional<JsonObject> object = JsonObject::Parse(*json, error);
    if (!object) {
        return std::nullopt;
    }
    SaslErrorChallenge decoded;
    decoded.status = object->String("status").value_or("");
    if (decoded.status.empty()) {
        if (const std::optional<std::int64_t> number = object->Integer("status")) {
            decoded.status = std::to_string(*number);
        }
    }
    decoded.scope = object->String("scope").value_or("");
    decoded.schemes = object->String("schemes").value_or("");
    decoded.openidConfiguration = object->String("openid-configuration").value_or("");
    return decoded;
}

}  // namespace vantel
