#include "core/config/SettingsEdits.h"

#include <gtest/gtest.h>

#include <string>

#include "core/config/CredentialCodec.h"

namespace vantel {
namespace {

constexpr int kNone = StoredSecurityMode(SecurityMode::None);
constexpr int kTls = StoredSecurityMode(SecurityMode::SslTls);
constexpr int kStartTls = StoredSecurityMode(SecurityMode::StartTls);
constexpr int kNewerMode = 7;

ServerEntry Entry(ServerType type, int security, int local, int remote) {
    ServerEntry entry;
    entry.Type = StoredServerType(type);
    entry.Security = security;
    entry.LocalPort = local;
    entry.RemotePort = remote;
    return entry;
}

TEST(SettingsEditsTest, TypeAndSecurityChangesMoveOnlyPortsThatHoldTheOldDefault) {
    struct Case {
        const char* what;
        ServerEntry before;
        ServerType type;
        int security;
        int local;
        int remote;
    };
    const Case cases[] = {
        {"plain SMTP to POP3", Entry(ServerType::Smtp, kNone, 25, 25), ServerType::Pop3, kNone, 110,
         110},
        {"SMTP to IMAP4 with TLS", Entry(ServerType::Smtp, kNone, 25, 25), ServerType::Imap4, kTls,
         143, 993},
        {"POP3 TLS to STARTTLS", Entry(ServerType::Pop3, kTls, 110, 995), ServerType::Pop3,
         kStartTls, 110, 110},
        {"SMTP to STARTTLS: submission", Entry(ServerType::Smtp, kNone, 25, 25), ServerType::Smtp,
         kStartTls, 25, 587},
        {"IMAP4 TLS to SMTP none", Entry(ServerType::Imap4, kTls, 143, 993), ServerType::Smtp,
         kNone, 25, 25},
        {"chosen ports stay", Entry(ServerType::Smtp, kNone, 2525, 2526), ServerType::Pop3, kTls,
         2525, 2526},
        {"a chosen remote port stays while the local one moves",
         Entry(ServerType::Pop3, kNone, 110, 1995), ServerType::Imap4, kNone, 143, 1995},
        // The type moves the remote port with the old mode first: 25 -> 110, then 110 -> 995.
        {"type and mode at once", Entry(ServerType::Smtp, kNone, 25, 25), ServerType::Pop3, kTls,
         110, 995},
        // A port holding the new mode's default of the old type is no default of the new one.
        {"SMTP 465 is no POP3 default", Entry(ServerType::Smtp, kNone, 25, 465), ServerType::Pop3,
         kTls, 110, 465},
        {"a mode this program does not know has no default",
         Entry(ServerType::Smtp, kNewerMode, 25, 0), ServerType::Pop3, kNewerMode, 110, 0},
        {"to an unknown mode", Entry(ServerType::Pop3, kTls, 110, 995), ServerType::Pop3,
         kNewerMode, 110, 995},
    };
    for (const Case& c : cases) {
        ServerEntry entry = c.before;
        SettingsEdits::ChangeType(entry, c.type);
        SettingsEdits::ChangeSecurity(entry, c.security);
        EXPECT_EQ(entry.LocalPort, c.local) << c.what;
        EXPECT_EQ(entry.RemotePort, c.remote) << c.what;
        EXPECT_TRUE(entry.Is(c.type)) << c.what;
        EXPECT_EQ(entry.Security, c.security) << c.what;
    }
}

TEST(SettingsEditsTest, AStoredTypeThatNamesNoneMovesAsSmtpAndBecomesTheNewType) {
    ServerEntry entry = Entry(ServerType::Smtp, kNone, 25, 25);
    entry.Type = 9;
    SettingsEdits::ChangeType(entry, ServerType::Pop3);
    EXPECT_TRUE(entry.Is(ServerType::Pop3));
    EXPECT_EQ(entry.LocalPort, 110);
    EXPECT_EQ(entry.RemotePort, 110);
}

TEST(SettingsEditsTest, ANewServerStartsOnItsTypesAndModesPorts) {
    struct Case {
        ServerType type;
        int security;
        int local;
        int remote;
    };
    const Case cases[] = {{ServerType::Smtp, kNone, 25, 25},
                          {ServerType::Smtp, kTls, 25, 465},
                          {ServerType::Smtp, kStartTls, 25, 587},
                          {ServerType::Pop3, kTls, 110, 995},
                          {ServerType::Imap4, kStartTls, 143, 143}};
    for (const Case& c : cases) {
        const ServerEntry entry = SettingsEdits::NewServer(c.type, c.security);
        EXPECT_EQ(entry.LocalPort, c.local);
        EXPECT_EQ(entry.RemotePort, c.remote);
        EXPECT_TRUE(entry.Is(c.type));
        EXPECT_EQ(entry.Security, c.security);
        EXPECT_EQ(entry.PassDataIndex, -1);
    }
}

TEST(SettingsEditsTest, ALoginGetsAFreePassDataNumberOnceAndKeepsItWhenClearedOrChanged) {
    std::vector<ServerEntry> servers(2, Entry(ServerType::Pop3, kNone, 110, 110));
    servers[0].PassDataIndex = 500;
    ServerEntry& entry = servers[1];

    // A tick of -1 would read as "none": the login takes the next number.
    ServerEntry fresh = Entry(ServerType::Pop3, kNone, 110, 110);
    ASSERT_TRUE(SettingsEdits::SetLogin(fresh, servers, "u", "p", 0xFFFFFFFFu));
    EXPECT_EQ(fresh.PassDataIndex, 0);

    // The tick names the other entry's value: the next free number is taken.
    ASSERT_TRUE(SettingsEdits::SetLogin(entry, servers, "alice", "secret", 500));
    EXPECT_EQ(entry.PassDataIndex, 501);
    std::string user;
    std::string password;
    UnpackCredentials(entry.Credentials, entry.CredentialLength, user, password);
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(password, "secret");

    // A shorter login leaves no byte of the longer one, and the number stays.
    ASSERT_TRUE(SettingsEdits::SetLogin(entry, servers, "bo", "x", 9));
    EXPECT_EQ(entry.PassDataIndex, 501);
    EXPECT_EQ(entry.CredentialLength, 4);
    for (std::size_t i = 4; i < entry.Credentials.size(); ++i) {
        ASSERT_EQ(entry.Credentials[i], 0) << i;
    }

    // Cleared, the number stays with the entry: the store drops its value at the next save.
    SettingsEdits::ClearLogin(entry);
    EXPECT_EQ(entry.CredentialLength, 0);
    EXPECT_EQ(entry.PassDataIndex, 501);
    for (std::uint8_t byte : entry.Credentials) {
        ASSERT_EQ(byte, 0);
    }
}

TEST(SettingsEditsTest, ALoginThatCannotBeStoredLeavesNoLoginAndTakesNoNumber) {
    const std::string tooLong(kMaxCredentialText, 'u');
    struct Case {
        const char* what;
        std::string user;
        std::string password;
    };
    const Case cases[] = {
        {"no user", "", "pw"}, {"no password", "alice", ""}, {"too long together", tooLong, "p"}};
    for (const Case& c : cases) {
        std::vector<ServerEntry> servers(1, Entry(ServerType::Pop3, kNone, 110, 110));
        ServerEntry entry = servers[0];
        entry.CredentialLength = 3;
        entry.Credentials.fill(0x55);
        EXPECT_FALSE(SettingsEdits::SetLogin(entry, servers, c.user, c.password, 7)) << c.what;
        EXPECT_EQ(entry.CredentialLength, 0) << c.what;
        EXPECT_EQ(entry.PassDataIndex, -1) << c.what;
        EXPECT_EQ(entry.Credentials[0], 0) << c.what;
    }
}

TEST(SettingsEditsTest, ServerEntriesMoveWithTheirModeFingerprintAndLogin) {
    std::vector<ServerEntry> servers;
    ServerEntry first = Entry(ServerType::Smtp, kTls, 25, 465);
    first.Fingerprint = "AB";
    ServerEntry second = Entry(ServerType::Pop3, kNone, 110, 110);
    ASSERT_TRUE(SettingsEdits::SetLogin(second, servers, "u", "p", 7));
    EXPECT_EQ(SettingsEdits::AddServer(servers, first), 0u);
    EXPECT_EQ(SettingsEdits::AddServer(servers, second), 1u);

    // Out of range, nothing changes.
    EXPECT_FALSE(SettingsEdits::ReplaceServer(servers, 2, first));
    EXPECT_FALSE(SettingsEdits::RemoveServer(servers, 2));
    EXPECT_FALSE(SettingsEdits::RemoveServer(servers, static_cast<std::size_t>(-1)));
    ASSERT_EQ(servers.size(), 2u);

    ASSERT_TRUE(SettingsEdits::RemoveServer(servers, 0));
    ASSERT_EQ(servers.size(), 1u);
    EXPECT_EQ(servers[0], second);  // the login and its number came along to ordinal 0
    EXPECT_TRUE(servers[0].Fingerprint.empty());

    ASSERT_TRUE(SettingsEdits::ReplaceServer(servers, 0, first));
    EXPECT_EQ(servers[0], first);
}

/// The lists of a store after the edit, as one kludge/action pair per entry.
struct PairsCase {
    const char* what;
    StringList keys;
    StringList partners;
    char edit;  // 'a' add, 'e' edit, 'r' remove
    std::size_t index;
    bool done;
    StringList keysAfter;
    StringList partnersAfter;
};

const PairsCase kPairCases[] = {
    {"add to equal lists", {"0 A:"}, {"0 a"}, 'a', 0, true, {"0 A:", "0 N:"}, {"0 a", "1 n"}},
    {"add beside a short action list: the new kludge gets its own action",
     {"0 A:", "0 B:"},
     {"0 a"},
     'a',
     0,
     true,
     {"0 A:", "0 B:", "0 N:"},
     {"0 a", "", "1 n"}},
    {"add beside a long action list: the stray action goes",
     {"0 A:"},
     {"0 a", "1 stray"},
     'a',
     0,
     true,
     {"0 A:", "0 N:"},
     {"0 a", "1 n"}},
    {"edit the last of a short action list",
     {"0 A:", "0 B:"},
     {"0 a"},
     'e',
     1,
     true,
     {"0 A:", "0 N:"},
     {"0 a", "1 n"}},
    {"edit past the end", {"0 A:"}, {"0 a"}, 'e', 1, false, {"0 A:"}, {"0 a"}},
    {"edit a huge index",
     {"0 A:"},
     {"0 a"},
     'e',
     static_cast<std::size_t>(-1),
     false,
     {"0 A:"},
     {"0 a"}},
    {"edit an empty list", {}, {"0 orphan"}, 'e', 0, false, {}, {"0 orphan"}},
    {"remove the first of equal lists",
     {"0 A:", "0 B:"},
     {"0 a", "0 b"},
     'r',
     0,
     true,
     {"0 B:"},
     {"0 b"}},
    {"remove the kludge without an action",
     {"0 A:", "0 B:"},
     {"0 a"},
     'r',
     1,
     true,
     {"0 A:"},
     {"0 a"}},
    {"remove beside a long action list keeps the rest paired",
     {"0 A:", "0 B:"},
     {"0 a", "0 b", "1 stray"},
     'r',
     0,
     true,
     {"0 B:"},
     {"0 b"}},
    {"remove past the end", {"0 A:"}, {"0 a"}, 'r', 3, false, {"0 A:"}, {"0 a"}},
};

TEST(SettingsEditsTest, KludgesStayPairedWithTheirActionsWhateverTheStoreHeld) {
    for (const PairsCase& c : kPairCases) {
        RelaySettings settings;
        settings.Kludges = c.keys;
        settings.Subst = c.partners;
        bool done = true;
        switch (c.edit) {
            case 'a':
                EXPECT_EQ(SettingsEdits::AddKludge(settings, "0 N:", "1 n"), c.keysAfter.size() - 1)
                    << c.what;
                break;
            case 'e':
                done = SettingsEdits::EditKludge(settings, c.index, "0 N:", "1 n");
                break;
            default:
                done = SettingsEdits::RemoveKludge(settings, c.index);
                break;
        }
        EXPECT_EQ(done, c.done) << c.what;
        EXPECT_EQ(settings.Kludges, c.keysAfter) << c.what;
        EXPECT_EQ(settings.Subst, c.partnersAfter) << c.what;
    }
}

TEST(SettingsEditsTest, SpecialKludgesStayPairedWithTheirDefinitionsWhateverTheStoreHeld) {
    for (const PairsCase& c : kPairCases) {
        RelaySettings settings;
        settings.SignalStr = c.keys;
        settings.SpecialKludges = c.partners;
        bool done = true;
        switch (c.edit) {
            case 'a':
                SettingsEdits::AddSpecialKludge(settings, "0 N:", "1 n");
                break;
            case 'e':
                done = SettingsEdits::EditSpecialKludge(settings, c.index, "0 N:", "1 n");
                break;
            default:
                done = SettingsEdits::RemoveSpecialKludge(settings, c.index);
                break;
        }
        EXPECT_EQ(done, c.done) << c.what;
        EXPECT_EQ(settings.SignalStr, c.keysAfter) << c.what;
        EXPECT_EQ(settings.SpecialKludges, c.partnersAfter) << c.what;
        // The kludge lists are another pair: untouched.
        EXPECT_TRUE(settings.Kludges.empty() && settings.Subst.empty()) << c.what;
    }
}

TEST(SettingsEditsTest, MendingGivesEveryEntryItsPartnerAndDropsStrayPartners) {
    RelaySettings settings;
    settings.Kludges = {"0 A:", "0 B:"};
    settings.Subst = {"0 a"};
    settings.SignalStr = {"[x]"};
    settings.SpecialKludges = {"# X:", "# Stray:"};
    SettingsEdits::MendKludges(settings);
    SettingsEdits::MendSpecialKludges(settings);
    EXPECT_EQ(settings.Subst, (StringList{"0 a", ""}));
    EXPECT_EQ(settings.SpecialKludges, (StringList{"# X:"}));
    EXPECT_EQ(settings.Kludges, (StringList{"0 A:", "0 B:"}));
    EXPECT_EQ(settings.SignalStr, (StringList{"[x]"}));
}

}  // namespace
}  // namespace vantel
