// Fuzzes what reaches the OAuth 2.0 code from outside, by byte 0 modulo 4: the redirect the
// browser brings back (0), a server's error challenge (1), a token endpoint's answer (2), a
// device endpoint's answer or a token record (3). None may crash or overrun, hand back a code
// or state holding control characters, or a token that could break a mail server's line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/oauth/Base64.h"
#include "core/oauth/DeviceAuthorization.h"
#include "core/oauth/RedirectAnswer.h"
#include "core/oauth/SaslOAuth.h"
#include "core/oauth/TokenRecordText.h"
#include "core/oauth/TokenResponse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] % 4 == 0) {
        std::string problem;
        const auto answer = vantel::RedirectAnswer::Parse(input, "/", problem);
        if (answer) {
            for (char c : answer->code + answer->state) {
                if (static_cast<unsigned char>(c) < 0x20) {
                    std::abort();
                }
            }
            if (answer->state.empty() || answer->code.empty() == answer->error.empty()) {
                std::abort();
            }
        } else if (problem.empty()) {
            std::abort();
        }
    } else if (data[0] % 4 == 2) {
        const auto response = vantel::TokenResponse::Read(
            "microsoft", {200 + data[0] % 300, std::string(input), "", 0});
        if (response.kind == vantel::TokenResponse::Kind::Success &&
            (!vantel::TokenResponse::IsSafeToken(response.accessToken) || response.expiresIn <= 0 ||
             response.expiresIn > vantel::TokenResponse::kMaxLifetimeSeconds)) {
            std::abort();
        }
        if (response.kind != vantel::TokenResponse::Kind::Success && response.reason.empty()) {
            std::abort();
        }
    } else if (data[0] % 4 == 3) {
        std::string error;
        const auto device = vantel::DeviceAuthorization::Read(200, input, error);
        if (device && (device->intervalSeconds < 1 || device->deviceCode.empty())) {
            std::abort();
        }
        vantel::TokenRecordText::Read(input, error);
    } else {
        // Both as it came and as base64 of it, so that the JSON parser sees the bytes too.
        vantel::DecodeSaslErrorChallenge(input);
        vantel::DecodeSaslErrorChallenge(vantel::Base64Encode(input));
    }
    return 0;
}
