#include "core/oauth/Pkce.h"

#include "core/oauth/Base64.h"

namespace vantel {

Pkce Pkce::Make(Crypto& crypto) {
    Pkce pkce;
    pkce.verifier = Base64UrlEncode(crypto.RandomBytes(32));
    pkce.challenge = ChallengeFor(crypto, pkce.verifier);
    return pkce;
}

std::string Pkce::ChallengeFor(Crypto& crypto, std::string_view verifier) {
    const Sha256Digest digest = crypto.Sha256(verifier);
    return Base64UrlEncode(
        std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

}  // namespace vantel
