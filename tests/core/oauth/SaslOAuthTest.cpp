#include "core/oauth/SaslOAuth.h"

#include <gtest/gtest.h>

#include "core/oauth/Base64.h"

namespace vantel {
namespace {

TEST(Base64Test, RoundTripsAndRefusesAnyOtherSpelling) {
    for (const std::string& bytes :
         {std::string(), std::string("f"), std::string("fo"), std::string("foo"),
          std::string("\x00\xff\xfe\x01", 4), std::string(100, '\xfb')}) {
        EXPECT_EQ(Base64Decode(Base64Encode(bytes)), bytes);
        EXPECT_EQ(Base64UrlDecode(Base64UrlEncode(bytes)), bytes);
    }
    EXPECT_EQ(Base64Encode("\xfb\xff"), "+/8=");
    EXPECT_EQ(Base64UrlEncode("\xfb\xff"), "-_8");
    for (const char* bad :
         {"Zm9", "Zm9v=", "Zm=v", "Zm9v\r\n", "Z===", "Zh==", "-_8=", "====", "Zm 9v", "Zg=\x01"}) {
        EXPECT_FALSE(Base64Decode(bad)) << bad;
    }
    for (const char* bad : {"+/8", "-_8=", "Z", "Zh", "Zm9v\n"}) {
        EXPECT_FALSE(Base64UrlDecode(bad)) << bad;
    }
}

TEST(SaslOAuthTest, InitialResponsesMatchTheWireFormat) {
    struct Case {
        SaslMechanism mechanism;
        std::string user;
        SaslServer server;
        std::string expected;
    } cases[] = {
        {SaslMechanism::XOAuth2,
         "someuser@example.com",
         {},
         "user=someuser@example.com\x01"
         "auth=Bearer T0k\x01\x01"},
        {SaslMechanism::OAuthBearer,
         "user",
         {"server.example.com", "993"},
         "n,a=user,\x01host=server.example.com\x01port=993\x01"
         "auth=Bearer T0k\x01\x01"},
        {SaslMechanism::OAuthBearer,
         "",
         {},
         "n,a=,\x01"
         "auth=Bearer T0k\x01\x01"},
        {SaslMechanism::OAuthBearer,
         "a,b=c",
         {"", "587"},
         "n,a=a=2Cb=3Dc,\x01port=587\x01"
         "auth=Bearer T0k\x01\x01"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Base64Decode(SaslInitialResponse(c.mechanism, c.user, "T0k", c.server)),
                  c.expected);
    }
    EXPECT_EQ(SaslErrorChallengeAnswer(SaslMechanism::XOAuth2), "");
    EXPECT_EQ(SaslErrorChallengeAnswer(SaslMechanism::OAuthBearer), "AQ==");
    EXPECT_EQ(ParseSaslMechanism("oauthBearer"), SaslMechanism::OAuthBearer);
    EXPECT_FALSE(ParseSaslMechanism("PLAIN"));
}

TEST(SaslOAuthTest, ErrorChallengesDecodeAndJunkGivesNothing) {
    const auto google = DecodeSaslErrorChallenge(
        "eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIG1hYyIsInNjb3BlIjoiaHR0cHM6Ly9tYWlsLmdv"
        "b2dsZS5jb20vIn0K\r");
    ASSERT_TRUE(google);
    EXPECT_EQ(google->status, "401");
    EXPECT_EQ(google->schemes, "bearer mac");
    EXPECT_EQ(google->scope, "https://mail.google.com/");

    const auto bearer = DecodeSaslErrorChallenge(Base64Encode(
        R"({"status":"invalid_token","scope":"mail","openid-configuration":"https://x/.well"})"));
    ASSERT_TRUE(bearer);
    EXPECT_EQ(bearer->status, "invalid_token");
    EXPECT_EQ(bearer->openidConfiguration, "https://x/.well");

    const auto numeric = DecodeSaslErrorChallenge(Base64Encode(R"({"status":400,"scope":[1]})"));
    ASSERT_TRUE(numeric);
    EXPECT_EQ(numeric->status, "400");
    EXPECT_EQ(numeric->scope, "");

    for (const std::string& junk :
         {std::string(""), std::string("not base64!"), Base64Encode("[1,2]"),
          Base64Encode("{\"status\":"), Base64Encode("{\"a\":1,\"a\":2}"),
          Base64Encode(std::string(100, '[')), Base64Encode("\"text\""),
          Base64Encode(std::string("{\"s\":\"\xff\xfe\"}"))}) {
        EXPECT_FALSE(DecodeSaslErrorChallenge(junk)) << junk;
    }
}

}  // namespace
}  // namespace vantel
