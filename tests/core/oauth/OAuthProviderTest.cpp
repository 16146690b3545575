#include "core/oauth/OAuthProvider.h"

#include <gtest/gtest.h>

#include "core/oauth/AuthorizationRequest.h"
#include "core/oauth/RedirectAnswer.h"

namespace vantel {
namespace {

OAuthSignIn SignIn(std::string provider, std::string clientId = "") {
    OAuthSignIn signIn;
    signIn.Provider = std::move(provider);
    signIn.Account = "me@example.com";
    signIn.ClientId = std::move(clientId);
    return signIn;
}

TEST(OAuthProviderTest, ResolvesProvidersWithEntryValuesWinning) {
    const OAuthDefaults defaults{"ms-default", "g-default", "g-secret"};
    std::string error;

    OAuthSignIn microsoft = SignIn("Microsoft");
    microsoft.Tenant = "contoso.onmicrosoft.com";
    auto ms = OAuthProvider::Resolve(microsoft, defaults, error);
    ASSERT_TRUE(ms) << error;
    EXPECT_EQ(ms->tokenUrl,
              "https://login.microsoftonline.com/contoso.onmicrosoft.com/oauth2/v2.0/token");
    EXPECT_EQ(ms->deviceUrl,
              "https://login.microsoftonline.com/contoso.onmicrosoft.com/oauth2/v2.0/devicecode");
    EXPECT_EQ(ms->clientId, "ms-default");
    EXPECT_EQ(ms->mechanism, SaslMechanism::XOAuth2);
    EXPECT_NE(ms->scopes.find("offline_access"), std::string::npos);
    EXPECT_TRUE(ms->scopeOnRefresh);

    auto common = OAuthProvider::Resolve(SignIn("microsoft", "own"), defaults, error);
    ASSERT_TRUE(common);
    EXPECT_EQ(common->authorizeUrl,
              "https://login.microsoftonline.com/common/oauth2/v2.0/authorize");
    EXPECT_EQ(common->clientId, "own");

    auto google = OAuthProvider::Resolve(SignIn("google"), defaults, error);
    ASSERT_TRUE(google);
    EXPECT_EQ(google->clientSecret, "g-secret");
    EXPECT_TRUE(google->deviceUrl.empty());
    // The default secret never goes with the entry's own client ID.
    OAuthSignIn ownGoogle = SignIn("google", "own");
    EXPECT_FALSE(OAuthProvider::Resolve(ownGoogle, defaults, error));
    ownGoogle.ClientSecret = "own-secret";
    ASSERT_TRUE(OAuthProvider::Resolve(ownGoogle, defaults, error));

    OAuthSignIn other = SignIn("other", "id");
    other.AuthorizeUrl = "http://127.0.0.1:8080/authorize";
    other.TokenUrl = "http://[::1]:8080/token";
    other.Scopes = "mail";
    other.Mechanism = "oauthbearer";
    auto generic = OAuthProvider::Resolve(other, {}, error);
    ASSERT_TRUE(generic) << error;
    EXPECT_EQ(generic->mechanism, SaslMechanism::OAuthBearer);
}

TEST(OAuthProviderTest, RefusesEntriesThatCannotSignIn) {
    struct Case {
        std::string what;
        OAuthSignIn signIn;
        std::string inError;
    };
    OAuthSignIn badTenant = SignIn("microsoft", "id");
    badTenant.Tenant = "common/../x";
    OAuthSignIn bearerMs = SignIn("microsoft", "id");
    bearerMs.Mechanism = "OAUTHBEARER";
    OAuthSignIn plainHttp = SignIn("other", "id");
    plainHttp.AuthorizeUrl = "https://idp.example/a";
    plainHttp.TokenUrl = "http://idp.example/token";
    plainHttp.Scopes = "mail";
    OAuthSignIn noScopes = plainHttp;
    noScopes.TokenUrl = "https://idp.example/token";
    noScopes.Scopes.clear();
    const Case cases[] = {
        {"no client id", SignIn("microsoft"), "vantel set oauth-microsoft-client-id"},
        {"unknown provider", SignIn("yahoo", "id"), "microsoft, google or other"},
        {"bad tenant", badTenant, "tenant"},
        {"bearer to microsoft", bearerMs, "XOAUTH2 only"},
        {"http off loopback", plainHttp, "https://"},
        {"no scopes", noScopes, "scopes"},
        {"other without urls", SignIn("other", "id"), "authorization URL"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(OAuthProvider::Resolve(c.signIn, {}, error)) << c.what;
        EXPECT_NE(error.find(c.inError), std::string::npos) << c.what << ": " << error;
    }
}

TEST(OAuthProviderTest, EndpointPolicyAllowsHttpToLoopbackOnly) {
    const std::pair<const char*, bool> cases[] = {
        {"https://login.example.com/token", true},
        {"HTTPS://x.example:444/t", true},
        {"http://127.0.0.1:9/token", true},
        {"http://localhost/token", true},
        {"http://[::1]:80/t", true},
        {"http://127.0.0.1.evil.example/t", false},
        {"http://localhost@evil.example/t", false},
        {"https://user@evil.example/t", false},
        {"http://evil.example/t", false},
        {"ftp://x/", false},
        {"https://", false},
        {"https://a b/", false},
        {"http://[::1/t", false},
        {"", false},
    };
    for (const auto& [url, allowed] : cases) {
        EXPECT_EQ(OAuthProvider::IsAllowedEndpoint(url), allowed) << url;
    }
}

TEST(AuthorizationRequestTest, UrlCarriesEveryParameterEncoded) {
    std::string error;
    auto google = OAuthProvider::Resolve(SignIn("google"), {"", "id 1", "s"}, error);
    ASSERT_TRUE(google);
    AuthorizationRequest request{"http://127.0.0.1:5000/", "st&te", "ch", "a+b@example.com"};
    EXPECT_EQ(request.Url(*google),
              "https://accounts.google.com/o/oauth2/v2/auth?response_type=code&client_id=id%201"
              "&redirect_uri=http%3A%2F%2F127.0.0.1%3A5000%2F&scope=https%3A%2F%2Fmail.google."
              "com%2F&state=st%26te&code_challenge=ch&code_challenge_method=S256"
              "&login_hint=a%2Bb%40example.com&access_type=offline&prompt=consent");
    google->authorizeUrl += "?x=1";
    request.loginHint.clear();
    EXPECT_NE(request.Url(*google).find("auth?x=1&response_type=code"), std::string::npos);
    EXPECT_EQ(request.Url(*google).find("login_hint"), std::string::npos);
}

TEST(RedirectAnswerTest, ParsesCodesAndErrorsAndRefusesHostileTargets) {
    struct Case {
        std::string target;
        bool ok;
        std::string code, state, error;
    } cases[] = {
        {"/?code=a%2Fb+c&state=S1&scope=x", true, "a/b c", "S1", ""},
        {"/?state=S&code=C&iss=https%3A%2F%2Fi", true, "C", "S", ""},
        {"http://127.0.0.1:5000/?code=C&state=S#frag", true, "C", "S", ""},
        {"http://localhost:5000?code=C&state=S\r\n", true, "C", "S", ""},
        {"/?error=access_denied&error_description=The+user+said+no&state=S", true, "", "S",
         "access_denied"},
        {"/?&&code=C&&state=S&", true, "C", "S", ""},
        {"/favicon.ico", false, "", "", ""},
        {"/other?code=C&state=S", false, "", "", ""},
        {"/", false, "", "", ""},
        {"/?code=C", false, "", "", ""},
        {"/?code=C&state=", false, "", "", ""},
        {"/?code=&state=S", false, "", "", ""},
        {"/?code=C&code=D&state=S", false, "", "", ""},
        {"/?code=C&state=S&state=S", false, "", "", ""},
        {"/?co%64e=C&code=D&state=S", false, "", "", ""},
        {"/?code=C&error=x&state=S", false, "", "", ""},
        {"/?code=C%&state=S", false, "", "", ""},
        {"/?code=C%4&state=S", false, "", "", ""},
        {"/?code=C%zz&state=S", false, "", "", ""},
        {"/?code=C%0Aset&state=S", false, "", "", ""},
        {"/?code=C&state=S%00", false, "", "", ""},
        {"/?state=S", false, "", "", ""},
        {"", false, "", "", ""},
        {"/?code=" + std::string(RedirectAnswer::kMaxTarget, 'c') + "&state=S", false, "", "", ""},
    };
    for (const Case& c : cases) {
        std::string problem;
        const auto answer = RedirectAnswer::Parse(c.target, "/", problem);
        ASSERT_EQ(answer.has_value(), c.ok) << c.target.substr(0, 80) << ": " << problem;
        if (answer) {
            EXPECT_EQ(answer->code, c.code);
            EXPECT_EQ(answer->state, c.state);
            EXPECT_EQ(answer->error, c.error);
        } else {
            EXPECT_FALSE(problem.empty());
            EXPECT_EQ(problem.find("C%"), std::string::npos);  // the code is never quoted
        }
    }
}

}  // namespace
}  // namespace vantel
