#include "core/oauth/SaslOAuth.h"

#include <optional>

#include "core/config/AsciiText.h"
#include "core/oauth/Base64.h"

namespace vantel {

std::string SaslOAuth::InitialResponse(std::string_view mechanism, std::string_view account,
                                       std::string_view token, std::string_view host, int port) {
    std::string message;
    if (EqualsNoCase(mechanism, "OAUTHBEARER")) {
        message = "n,a=";
        for (const char c : account) {
            message += c == ','   ? std::string("=2C")
                       : c == '=' ? std::string("=3D")
                                  : std::string(1, c);
        }
        message += ",\x01host=" + std::string(host) + "\x01port=" + std::to_string(port);
    } else {
        message = "user=" + std::string(account);
    }
    message +=
        "\x01"
        "auth=Bearer " +
        std::string(token) + "\x01\x01";
    return Base64Encode(message);
}

std::string SaslOAuth::ChallengeAnswer(std::string_view mechanism) {
    return EqualsNoCase(mechanism, "OAUTHBEARER") ? "AQ==" : "";
}

std::string SaslOAuth::DescribeChallenge(std::string_view challenge) {
    const std::optional<std::string> decoded = Base64Decode(challenge);
    if (!decoded) {
        return {};
    }
    std::string text;
    for (const char c : *decoded) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f) {
            text += c;
        }
    }
    return text.substr(0, 200);
}

}  // namespace vantel
