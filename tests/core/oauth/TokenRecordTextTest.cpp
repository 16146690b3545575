#include "core/oauth/TokenRecordText.h"

#include <gtest/gtest.h>

#include <set>

#include "core/oauth/FakeCrypto.h"
#include "core/oauth/LocalPassword.h"

namespace vantel {
namespace {

TEST(TokenRecordTextTest, WritesAndReadsEveryField) {
    const TokenRecord record{TokenRecord::kVersion,
                             "Me@Example.com",
                             "microsoft",
                             "https://login.example/token",
                             "cid",
                             "common",
                             "a b",
                             "at",
                             1'900'000'000,
                             "rt",
                             1'800'000'000,
                             "pbkdf2-sha256$1$AA==$AA==",
                             true,
                             "\xc3\xa9 refused"};
    std::string error;
    const auto read = TokenRecordText::Read(TokenRecordText::Write(record), error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(TokenRecordText::Write(*read), TokenRecordText::Write(record));

    const struct {
        const char* text;
        const char* inError;
    } refused[] = {
        {"", "damaged"},
        {"{\"version\":1,\"account\":\"a\"", "damaged"},
        {R"({"account":"a","refresh_token":"r"})", "no version"},
        {R"({"version":2,"account":"a","refresh_token":"r"})", "newer Vantel (version 2)"},
        {R"({"version":1,"account":"a"})", "no refresh token"},
        {R"({"version":1,"refresh_token":"r"})", "no account"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.text);
        EXPECT_FALSE(TokenRecordText::Read(c.text, error));
        EXPECT_NE(error.find(c.inError), std::string::npos) << error;
    }
}

TEST(TokenRecordTextTest, KeysAreSafeFileNamesAndKeepAccountsApart) {
    const auto key = [](std::string provider, std::string account) {
        OAuthSignIn signIn;
        signIn.Provider = std::move(provider);
        signIn.Account = std::move(account);
        return TokenRecordText::Key(signIn);
    };
    EXPECT_EQ(key("Google", "Me@Example.COM"), key("google", "me@example.com"));
    EXPECT_EQ(key("google", "me@example.com"), "google-me@example.com");
    const std::string hostile[] = {
        "../../etc/passwd",
        "..",
        "a/b",
        "a\\b",
        std::string("nul\0x", 5),
        "a_2fb",
        "a/b ",
        "x+tag@example.com",
        std::string(300, 'a'),
        std::string(300, 'a') + "b",
        "\xff\xfe",
    };
    std::set<std::string> keys{key("microsoft", "a/b")};
    for (const std::string& account : hostile) {
        SCOPED_TRACE(account);
        const std::string k = key("microsoft", account);
        EXPECT_LE(k.size(), 200u);
        EXPECT_EQ(k.find(".."), std::string::npos);
        EXPECT_EQ(k.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789.-_@"),
                  std::string::npos);
        keys.insert(k);
    }
    // "a/b" twice: every other account has a key of its own.
    EXPECT_EQ(keys.size(), std::size(hostile));
    EXPECT_NE(key("microsoft", "me@example.com"), key("google", "me@example.com"));
}

TEST(LocalPasswordTest, HashesVerifyOnlyTheirOwnPassword) {
    FakeCrypto crypto;
    const std::string password = LocalPassword::Make(crypto);
    EXPECT_EQ(password.size(), 24u);
    EXPECT_TRUE(LocalPassword::Problem(password).empty());
    const std::string stored = LocalPassword::Hash(crypto, password);
    EXPECT_EQ(stored.find(password), std::string::npos);
    EXPECT_EQ(stored.rfind("pbkdf2-sha256$20000$", 0), 0u);
    EXPECT_TRUE(LocalPassword::Verify(crypto, password, stored));
    EXPECT_FALSE(LocalPassword::Verify(crypto, password + "x", stored));
    EXPECT_FALSE(LocalPassword::Verify(crypto, "", stored));
    // Two hashes of one password differ by their salt.
    EXPECT_NE(LocalPassword::Hash(crypto, password), stored);

    const std::string salt = stored.substr(20, stored.find('$', 20) - 20);
    const std::string key = stored.substr(stored.rfind('$') + 1);
    const std::string damaged[] = {
        "",
        "plain",
        "pbkdf2-sha1$20000$" + salt + "$" + key,
        "pbkdf2-sha256$0$" + salt + "$" + key,
        "pbkdf2-sha256$99999999$" + salt + "$" + key,
        "pbkdf2-sha256$-1$" + salt + "$" + key,
        "pbkdf2-sha256$20000$$" + key,
        "pbkdf2-sha256$20000$" + salt + "$" + key.substr(4),
        "pbkdf2-sha256$20000$" + salt + "$" + key + "$",
        "pbkdf2-sha256$20000$!!$" + key,
    };
    for (const std::string& bad : damaged) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(LocalPassword::Verify(crypto, password, bad));
    }
    for (const char* weak : {"short", "long enough\r\nA1 LOGOUT"}) {
        EXPECT_FALSE(LocalPassword::Problem(weak).empty()) << weak;
    }
    EXPECT_FALSE(LocalPassword::Problem(std::string("long\0enough", 11)).empty());
}

}  // namespace
}  // namespace vantel
