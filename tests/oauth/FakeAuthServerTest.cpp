// The fake authorization server's flows as a client meets them, through the real libcurl
// client: what later tests of the sign-in lean on.
#include "oauth/FakeAuthServer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "LoopRunner.h"
#include "TempDir.h"
#include "platform/posix/CurlHttpClient.h"

namespace vantel {
namespace {

using test::FakeAuthServer;

// The PKCE vector of RFC 7636, appendix B.
constexpr const char* kVerifier = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
constexpr const char* kChallenge = "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";
constexpr const char* kRedirect = "http://127.0.0.1:4711/";

class FakeAuthServerTest : public testing::Test {
  protected:
    FakeAuthServerTest() : loop_(CreateEventLoop()), server_(pki_) {
        const auto ca = dir_.path() / "ca.pem";
        std::ofstream(ca) << pki_.caPem();
        client_ = std::make_unique<CurlHttpClient>(*loop_, CurlHttpClient::Options{ca.string()});
    }
    HttpResponse Post(const std::string& path, const std::string& form) {
        std::optional<HttpResponse> answer;
        client_->PostForm(HttpRequest{server_.Url(path), form, 10000},
                          [&](HttpResponse r) { answer = std::move(r); });
        EXPECT_TRUE(test::RunUntil(
            *loop_, [&] { return answer.has_value(); }, 15000));
        return answer.value_or(HttpResponse{});
    }
    /// The code the browser would bring back.
    std::string Code() {
        const std::string location = server_.Authorize(
            std::string("response_type=code&client_id=vantel-test-client&redirect_uri=") +
            "http%3A%2F%2F127.0.0.1%3A4711%2F&code_challenge=" + kChallenge +
            "&code_challenge_method=S256&state=st4te");
        const auto query = FakeAuthServer::ParseForm(location.substr(location.find('?') + 1));
        EXPECT_EQ(query.at("state"), "st4te");
        return query.at("code");
    }

    test::TempDir dir_;
    test::TestPki pki_;
    std::unique_ptr<EventLoop> loop_;
    FakeAuthServer server_;
    std::unique_ptr<CurlHttpClient> client_;
};

TEST_F(FakeAuthServerTest, PkceVectorAndTheCodeExchangeChecks) {
    EXPECT_EQ(FakeAuthServer::S256(kVerifier), kChallenge);
    const std::string base = "grant_type=authorization_code&client_id=vantel-test-client";
    struct Case {
        const char* name;
        std::string extra;  // after code=
        int status;
        const char* bodyPart;
    };
    const Case cases[] = {
        {"wrong verifier",
         std::string("&redirect_uri=http%3A%2F%2F127.0.0.1%3A4711%2F&code_verifier=") + "x" +
             (kVerifier + 1),
         400, "AADSTS501481"},
        {"redirect not byte-identical",
         std::string("&redirect_uri=http%3A%2F%2F127.0.0.1%3A4711&code_verifier=") + kVerifier, 400,
         "AADSTS50011"},
        {"right",
         std::string("&redirect_uri=http%3A%2F%2F127.0.0.1%3A4711%2F&code_verifier=") + kVerifier,
         200, "\"access_token\":\"access-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string code = Code();
        const HttpResponse r = Post("/token", base + "&code=" + code + c.extra);
        EXPECT_EQ(r.status, c.status) << r.error;
        EXPECT_NE(r.body.find(c.bodyPart), std::string::npos) << r.body;
        // Single use, whatever came of the first try.
        const HttpResponse again = Post("/token", base + "&code=" + code + c.extra);
        EXPECT_EQ(again.status, 400);
        EXPECT_NE(again.body.find("invalid_grant"), std::string::npos);
    }
    EXPECT_EQ(server_.issued(), 1);
}

TEST_F(FakeAuthServerTest, RefreshRotatesAndIntrospectionKnowsOnlyTheCurrentToken) {
    const std::string code = Code();
    ASSERT_EQ(
        Post("/token", "grant_type=authorization_code&client_id=vantel-test-client&code=" + code +
                           "&redirect_uri=http%3A%2F%2F127.0.0.1%3A4711%2F"
                           "&code_verifier=" +
                           kVerifier)
            .status,
        200);
    const std::string firstAccess = server_.accessToken();
    const std::string firstRefresh = server_.refreshToken();
    const std::string refresh =
        "grant_type=refresh_token&client_id=vantel-test-client&refresh_token=";
    EXPECT_EQ(Post("/token", refresh + firstRefresh).status, 200);
    EXPECT_NE(server_.refreshToken(), firstRefresh);
    const HttpResponse reused = Post("/token", refresh + firstRefresh);
    EXPECT_EQ(reused.status, 400);
    EXPECT_NE(reused.body.find("AADSTS70043"), std::string::npos);
    EXPECT_EQ(Post("/token", "grant_type=refresh_token&client_id=other&refresh_token=" +
                                 server_.refreshToken())
                  .status,
              401);

    EXPECT_EQ(Post("/introspect", "token=" + server_.accessToken()).body,
              "{\"active\":true,\"username\":\"user@example.test\"}");
    EXPECT_EQ(Post("/introspect", "token=" + firstAccess).body, "{\"active\":false}");
}

TEST_F(FakeAuthServerTest, DeviceCodePollingFollowsTheScript) {
    const HttpResponse start = Post("/devicecode", "client_id=vantel-test-client&scope=x");
    ASSERT_EQ(start.status, 200);
    const std::size_t at = start.body.find("device-");
    const std::string device = start.body.substr(at, start.body.find('"', at) - at);
    server_.ScriptDevice({"authorization_pending", "slow_down", "authorization_pending"});
    const std::string poll =
        "grant_type=urn%3Aietf%3Aparams%3Aoauth%3Agrant-type%3Adevice_code&client_id=vantel-test-"
        "client&device_code=" +
        device;
    for (const char* expected : {"authorization_pending", "slow_down", "authorization_pending"}) {
        const HttpResponse r = Post("/token", poll);
        EXPECT_EQ(r.status, 400);
        EXPECT_NE(r.body.find(expected), std::string::npos) << r.body;
    }
    EXPECT_EQ(Post("/token", poll).status, 200);
    EXPECT_EQ(Post("/token", poll).status, 400) << "a device code is used once";
}

TEST_F(FakeAuthServerTest, TheBrowserIsSentBackOverHttps) {
    server_.RefuseAuthorization("access_denied");
    EXPECT_EQ(server_.Authorize(std::string("response_type=code&client_id=vantel-test-client"
                                            "&redirect_uri=http%3A%2F%2F127.0.0.1%3A4711%2F"
                                            "&code_challenge=") +
                                kChallenge + "&code_challenge_method=S256&state=s"),
              std::string(kRedirect) + "?error=access_denied&state=s");
    // Bad requests get no redirect at all.
    EXPECT_EQ(server_.Authorize("response_type=code&client_id=vantel-test-client&redirect_uri="
                                "https%3A%2F%2Fevil.example%2F&code_challenge_method=S256&state=s"),
              "");
}

}  // namespace
}  // namespace vantel
