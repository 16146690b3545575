// Fuzzes what reaches the OAuth 2.0 code from outside: the redirect the browser brings back
// (byte 0 even) and a server's error challenge (byte 0 odd). Neither may crash, overrun or
// hand back a code or state holding control characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/oauth/Base64.h"
#include "core/oauth/RedirectAnswer.h"
#include "core/oauth/SaslOAuth.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] % 2 == 0) {
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
    } else {
        // Both as it came and as base64 of it, so that the JSON parser sees the bytes too.
        vantel::DecodeSaslErrorChallenge(input);
        vantel::DecodeSaslErrorChallenge(vantel::Base64Encode(input));
    }
    return 0;
}
