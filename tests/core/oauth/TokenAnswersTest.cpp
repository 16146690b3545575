// What the token and device endpoints answer, as the relay reads it.
#include <gtest/gtest.h>

#include <string>

#include "core/oauth/DeviceAuthorization.h"
#include "core/oauth/TokenResponse.h"

namespace vantel {
namespace {

using Kind = TokenResponse::Kind;

TEST(TokenResponseTest, SortsAnswersIntoTokensPassingFailuresAndRefusals) {
    struct Case {
        const char* name;
        int status;
        std::string body;
        const char* transport;
        Kind kind;
        const char* error;
        const char* inReason;  ///< a part of the reason, or "" for a token
    };
    const std::string token = R"({"access_token":"at-1","token_type":"Bearer","expires_in":3599,)"
                              R"("refresh_token":"rt-2","scope":"mail"})";
    const Case cases[] = {
        {"a token", 200, token, "", Kind::Success, "", ""},
        {"no answer", 0, "", "connection refused", Kind::Temporary, "", "connection refused"},
        {"busy", 503, "<html>", "", Kind::Temporary, "", "HTTP 503"},
        {"too many", 429, "{}", "", Kind::Temporary, "", "HTTP 429"},
        {"provider busy", 400, R"({"error":"temporarily_unavailable"})", "", Kind::Temporary,
         "temporarily_unavailable", "temporarily_unavailable"},
        {"grant ended", 400, R"({"error":"invalid_grant","error_description":"AADSTS70043: x"})",
         "", Kind::Permanent, "invalid_grant", "sign in again"},
        {"unknown error", 400, R"({"error":"weird_thing","error_description":"odd\r\nline"})", "",
         Kind::Permanent, "weird_thing", "weird_thing (odd\\r\\nline)"},
        {"refusal without words", 403, "<html>Forbidden</html>", "", Kind::Permanent, "",
         "HTTP 403"},
        {"a portal's page", 200, "<html>log in to the wifi</html>", "", Kind::Temporary, "",
         "no JSON"},
        {"no token", 200, R"({"token_type":"Bearer"})", "", Kind::Temporary, "",
         "no usable access token"},
        {"a line break in the token", 200, R"({"access_token":"a\r\nA1 LOGOUT"})", "",
         Kind::Temporary, "", "no usable access token"},
        {"a blank in the token", 200, R"({"access_token":"a b"})", "", Kind::Temporary, "",
         "no usable access token"},
        {"a broken refresh token", 200, R"({"access_token":"a","refresh_token":"r\n"})", "",
         Kind::Temporary, "", "broken refresh token"},
        {"not bearer", 200, R"({"access_token":"a","token_type":"mac"})", "", Kind::Permanent, "",
         "type mac"},
        {"already expired", 200, R"({"access_token":"a","expires_in":0})", "", Kind::Temporary, "",
         "already expired"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TokenResponse r =
            TokenResponse::Read("microsoft", {c.status, c.body, c.transport, 0});
        EXPECT_EQ(r.kind, c.kind);
        EXPECT_EQ(r.error, c.error);
        EXPECT_NE(r.reason.find(c.inReason), std::string::npos) << r.reason;
        if (c.kind != Kind::Success) {
            EXPECT_TRUE(r.accessToken.empty());
        }
    }
    const TokenResponse ok = TokenResponse::Read("google", {200, token, "", 0});
    EXPECT_EQ(ok.accessToken, "at-1");
    EXPECT_EQ(ok.refreshToken, "rt-2");
    EXPECT_EQ(ok.scope, "mail");
    EXPECT_EQ(ok.expiresIn, 3599);
}

TEST(TokenResponseTest, BoundsLifetimesAndKeepsRetryAfter) {
    EXPECT_EQ(TokenResponse::Read("other", {200, R"({"access_token":"a"})", "", 0}).expiresIn,
              TokenResponse::kDefaultLifetimeSeconds);
    EXPECT_EQ(TokenResponse::Read("other",
                                  {200, R"({"access_token":"a","expires_in":"99999999"})", "", 0})
                  .expiresIn,
              TokenResponse::kMaxLifetimeSeconds);
    EXPECT_EQ(TokenResponse::Read("other", {503, "", "", 42}).retryAfterSeconds, 42u);
    const std::string huge =
        R"({"access_token":")" + std::string(TokenResponse::kMaxTokenBytes + 1, 'a') + R"("})";
    EXPECT_EQ(TokenResponse::Read("other", {200, huge, "", 0}).kind, Kind::Temporary);
}

TEST(DeviceAuthorizationTest, ReadsTheAnswerAndPollsSlowerOnRequest) {
    std::string error;
    auto device = DeviceAuthorization::Read(
        200,
        R"({"device_code":"dc","user_code":"ABCD-EFGH","verification_url":"https://x.test/device",)"
        R"("expires_in":900,"interval":0,"message":"Go\u001b[2J there"})",
        error);
    ASSERT_TRUE(device) << error;
    EXPECT_EQ(device->verificationUri, "https://x.test/device");
    EXPECT_EQ(device->intervalSeconds, DeviceAuthorization::kMinIntervalSeconds);
    EXPECT_EQ(device->message, "Go\\x1b[2J there");

    using Poll = DeviceAuthorization::Poll;
    EXPECT_EQ(device->Next("authorization_pending"), Poll::Again);
    EXPECT_EQ(device->Next("slow_down"), Poll::Again);
    EXPECT_EQ(device->Next("slow_down"), Poll::Again);
    EXPECT_EQ(device->intervalSeconds, 1 + 2 * DeviceAuthorization::kSlowDownSeconds);
    EXPECT_EQ(device->Next("expired_token"), Poll::Done);
    EXPECT_EQ(device->Next(""), Poll::Done);

    const struct {
        int status;
        const char* body;
        const char* inError;
    } refused[] = {
        {400, R"({"error":"invalid_client","error_description":"AADSTS7000218"})",
         "invalid_client (AADSTS7000218)"},
        {200, R"({"device_code":"dc","user_code":"u","verification_uri":"javascript:x"})", "lacks"},
        {200, R"({"user_code":"u","verification_uri":"https://x.test/"})", "lacks"},
        {502, "<html>", "HTTP 502"},
        {0, "", "could not be reached"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.body);
        EXPECT_FALSE(DeviceAuthorization::Read(c.status, c.body, error));
        EXPECT_NE(error.find(c.inError), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace vantel
