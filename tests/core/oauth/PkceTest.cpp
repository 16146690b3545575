#include "core/oauth/Pkce.h"

#include <gtest/gtest.h>

#include "core/oauth/Base64.h"
#include "core/oauth/FakeCrypto.h"
#include "core/oauth/SignInState.h"

#ifndef _WIN32
#include <openssl/sha.h>
#endif

namespace vantel {

Sha256Digest FakeCrypto::Sha256(std::string_view data) {
    Sha256Digest digest{};
#ifndef _WIN32
    SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest.data());
#else
    for (std::size_t i = 0; i < data.size(); ++i) {
        digest[i % digest.size()] ^= static_cast<std::uint8_t>(data[i]);
    }
#endif
    return digest;
}

namespace {

#ifndef _WIN32
TEST(PkceTest, ChallengeOfTheRfc7636Vector) {
    FakeCrypto crypto;
    EXPECT_EQ(Pkce::ChallengeFor(crypto, "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}
#endif

TEST(PkceTest, VerifierIs32RandomBytesAndMatchesItsChallenge) {
    FakeCrypto crypto;
    const Pkce pkce = Pkce::Make(crypto);
    EXPECT_EQ(pkce.verifier.size(), 43u);
    const auto bytes = Base64UrlDecode(pkce.verifier);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 32u);
    EXPECT_EQ(pkce.challenge, Pkce::ChallengeFor(crypto, pkce.verifier));
    EXPECT_NE(Pkce::Make(crypto).verifier, pkce.verifier);
}

TEST(SignInStateTest, OnlyTheFirstMatchingAnswerIsAccepted) {
    FakeCrypto crypto;
    struct Case {
        std::string name;
        std::vector<std::string> answers;  // the state value is "S"
        std::vector<bool> accepted;
    } cases[] = {
        {"match", {"S"}, {true}},
        {"replay", {"S", "S"}, {true, false}},
        {"mismatch then the right one", {"S-", "S"}, {false, false}},
        {"missing", {""}, {false}},
        {"prefix", {"S~"}, {false}},
    };
    for (const Case& c : cases) {
        SignInState state(crypto);
        ASSERT_EQ(state.Value().size(), 22u);
        for (std::size_t i = 0; i < c.answers.size(); ++i) {
            std::string answer = c.answers[i];
            if (!answer.empty() && answer[0] == 'S') {
                answer = state.Value() + answer.substr(1);
            }
            EXPECT_EQ(state.Accept(answer), c.accepted[i]) << c.name << " #" << i;
        }
        EXPECT_TRUE(state.Used());
    }
}

}  // namespace
}  // namespace vantel
