#include "cli/OAuthOptions.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace vantel {
namespace {

struct Case {
    const char* what;
    std::function<bool(std::string_view)> check;
    std::string text;
    bool accepted;
};

TEST(OAuthOptionsTest, ValuesAcceptedAndRefused) {
    const auto account = &OAuthOptions::IsAccount;
    const auto tenant = &OAuthOptions::IsTenant;
    const auto url = &OAuthOptions::IsEndpointUrl;
    const auto id = &OAuthOptions::IsClientId;
    const Case cases[] = {
        {"account", account, "alice@example.org", true},
        {"account with a quoted @ in the name", account, "a@b@example.org", true},
        {"account without @", account, "alice", false},
        {"account without a name", account, "@example.org", false},
        {"account without a domain", account, "alice@", false},
        {"account with a blank", account, "alice @example.org", false},
        {"account with CRLF", account, "alice@example.org\r\nRSET", false},
        {"account with NUL", account, std::string("alice@x\0y", 9), false},
        {"account too long", account, std::string(250, 'a') + "@example.org", false},
        {"tenant common", tenant, "common", true},
        {"tenant in upper case", tenant, "Organizations", true},
        {"tenant consumers", tenant, "consumers", true},
        {"tenant GUID", tenant, "72f988bf-86f1-41af-91ab-2d7cd011db47", true},
        {"tenant GUID one short", tenant, "72f988bf-86f1-41af-91ab-2d7cd011db4", false},
        {"tenant GUID not hex", tenant, "72f988bf-86f1-41af-91ab-2d7cd011dbzz", false},
        {"tenant domain", tenant, "contoso.onmicrosoft.com", true},
        {"tenant single label", tenant, "contoso", false},
        {"tenant empty label", tenant, "contoso..com", false},
        {"tenant leading hyphen", tenant, "-contoso.com", false},
        {"tenant path", tenant, "contoso.com/oauth2", false},
        {"tenant blank", tenant, "con toso.com", false},
        {"https URL", url, "https://auth.example.org/authorize", true},
        {"https in upper case", url, "HTTPS://auth.example.org", true},
        {"https without host", url, "https:///authorize", false},
        {"http to 127.0.0.1", url, "http://127.0.0.1:8080/token", true},
        {"http to ::1", url, "http://[::1]:8080/token", true},
        {"http to localhost", url, "http://localhost/token", true},
        {"http to another host", url, "http://auth.example.org/token", false},
        {"http to a host named after loopback", url, "http://127.0.0.1.example.org/", false},
        {"http to localhost as user info", url, "http://localhost@evil.example.org/", false},
        {"ftp", url, "ftp://auth.example.org/", false},
        {"URL with a blank", url, "https://auth.example.org/a b", false},
        {"URL with a line break", url, "https://auth.example.org/\n", false},
        {"client ID", id, "9e5f94bc-e8a4-4e73-b8be-63364c29d753", true},
        {"client ID empty", id, "", false},
        {"client ID with a blank", id, "abc def", false},
        {"client ID with a byte above ASCII", id, "abc\xc3\xa9", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.check(c.text), c.accepted) << c.what;
    }
}

TEST(OAuthOptionsTest, WordsAndScopes) {
    EXPECT_EQ(OAuthOptions::ParseProvider("Microsoft"), "microsoft");
    EXPECT_EQ(OAuthOptions::ParseProvider("other"), "other");
    EXPECT_FALSE(OAuthOptions::ParseProvider("yahoo"));
    EXPECT_EQ(OAuthOptions::ParseMechanism("oauthbearer"), "OAUTHBEARER");
    EXPECT_EQ(OAuthOptions::ParseMechanism("XOAuth2"), "XOAUTH2");
    EXPECT_FALSE(OAuthOptions::ParseMechanism("plain"));
    const struct {
        const char* text;
        std::optional<std::string> scopes;
    } scopes[] = {
        {"openid  offline_access ", "openid offline_access"},
        {"https://mail.example.org/", "https://mail.example.org/"},
        {"   ", std::nullopt},
        {"a\tb", std::nullopt},
        {"a\r\nb", std::nullopt},
    };
    for (const auto& c : scopes) {
        EXPECT_EQ(OAuthOptions::NormalizeScopes(c.text), c.scopes) << c.text;
    }
}

}  // namespace
}  // namespace vantel
