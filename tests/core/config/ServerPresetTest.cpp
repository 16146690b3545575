#include "core/config/ServerPreset.h"

#include <gtest/gtest.h>

#include "core/config/SettingsEdits.h"

namespace vantel {
namespace {

TEST(ServerPresetTest, LookupRefusesUnknownNamesAndMissingServersInWords) {
    const struct {
        const char* name;
        ServerType type;
        const char* problem;
    } cases[] = {
        {"icloud", ServerType::Pop3, "iCloud has no POP3 server"},
        {"Google", ServerType::Imap4, "there is no preset 'Google'"},  // names are lower case
        {"", ServerType::Smtp, "there is no preset ''"},
        {"google ", ServerType::Smtp, "there is no preset 'google '"},
    };
    for (const auto& c : cases) {
        ServerPreset::Server server;
        std::string problem;
        EXPECT_FALSE(ServerPreset::Find(c.name, c.type, server, problem)) << c.name;
        EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
        EXPECT_EQ(server.Host, "") << c.name;
    }
    // Every name the help lists is found, for its IMAP4 server at least.
    for (const std::string& name : ServerPreset::Names()) {
        ServerPreset::Server server;
        std::string problem;
        EXPECT_TRUE(ServerPreset::Find(name, ServerType::Imap4, server, problem)) << name;
    }
}

TEST(ServerPresetTest, APresetAppliedFollowsTheEditingRules) {
    const auto apply = [](ServerEntry entry, const char* name, ServerType type) {
        ServerPreset::Server server;
        std::string problem;
        EXPECT_TRUE(ServerPreset::Find(name, type, server, problem)) << problem;
        SettingsEdits::ApplyPreset(entry, type, server);
        return entry;
    };
    const ServerEntry fresh = SettingsEdits::NewServer(ServerType::Smtp, 0);
    const struct {
        const char* name;
        ServerType type;
        int localPort, remotePort;
        SecurityMode security;
        const char* host;
        bool oauth;
    } cases[] = {
        {"microsoft", ServerType::Smtp, 25, 587, SecurityMode::StartTls, "smtp.office365.com",
         true},
        {"microsoft", ServerType::Pop3, 110, 995, SecurityMode::SslTls, "outlook.office365.com",
         true},
        {"google", ServerType::Smtp, 25, 465, SecurityMode::SslTls, "smtp.gmail.com", true},
        {"google", ServerType::Imap4, 143, 993, SecurityMode::SslTls, "imap.gmail.com", true},
        {"icloud", ServerType::Smtp, 25, 587, SecurityMode::StartTls, "smtp.mail.me.com", false},
        {"zoho", ServerType::Pop3, 110, 995, SecurityMode::SslTls, "poppro.zoho.com", false},
    };
    for (const auto& c : cases) {
        const ServerEntry entry = apply(fresh, c.name, c.type);
        EXPECT_EQ(entry.LocalPort, c.localPort) << c.name;
        EXPECT_EQ(entry.RemotePort, c.remotePort) << c.name;
        EXPECT_TRUE(entry.Uses(c.security)) << c.name;
        EXPECT_TRUE(entry.Is(c.type)) << c.name;
        EXPECT_EQ(entry.Name, c.host) << c.name;
        EXPECT_EQ(entry.SignsInWithOAuth(), c.oauth) << c.name;
        EXPECT_EQ(entry.OAuth.Provider, c.oauth ? c.name : "") << c.name;
    }

    // A local port the user chose stays; the account stays, another provider's values go.
    ServerEntry chosen = fresh;
    chosen.LocalPort = 2525;
    chosen.SignIn = StoredSignInMethod(SignInMethod::OAuth2);
    chosen.OAuth = {"other", "",  "me@example.org", "id", "secret", "https://a", "https://t",
                    "",      "s", "OAUTHBEARER"};
    ServerEntry moved = apply(chosen, "google", ServerType::Smtp);
    EXPECT_EQ(moved.LocalPort, 2525);
    EXPECT_EQ(moved.OAuth.Account, "me@example.org");
    EXPECT_EQ(moved.OAuth.TokenUrl, "");
    EXPECT_EQ(moved.OAuth.ClientSecret, "");
    // The same provider again keeps the entry's own client.
    moved.OAuth.ClientId = "mine";
    EXPECT_EQ(apply(moved, "google", ServerType::Imap4).OAuth.ClientId, "mine");
    // A password preset switches an OAuth entry back to passwords.
    EXPECT_FALSE(apply(moved, "fastmail", ServerType::Imap4).SignsInWithOAuth());
}

}  // namespace
}  // namespace vantel
