#include "core/config/SettingsEdits.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "core/config/CredentialCodec.h"
#include "core/config/StoredKludges.h"

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

/// An entry of a hand-edited store whose type number names no type.
ServerEntry OfUnknownType(ServerEntry entry) {
    entry.Type = 9;
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
        {"a type that names none moves as SMTP",
         OfUnknownType(Entry(ServerType::Smtp, kNone, 25, 25)), ServerType::Pop3, kNone, 110, 110},
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

/// One entry per letter, '-' an empty one: "ab-" is {"a", "b", ""}.
StringList Letters(std::string_view letters) {
    StringList list;
    for (char c : letters) {
        list.push_back(c == '-' ? std::string() : std::string(1, c));
    }
    return list;
}

/// The settings as a store holding the letters loads them: kludge "A" is stored as "0 A" with
/// the action "0 a", special kludge "A" as the signal "A" with the definition "# a"; "-" is an
/// empty entry.
RelaySettings Loaded(bool special, std::string_view keys, std::string_view partners) {
    StringList keyEntries;
    for (const std::string& letter : Letters(keys)) {
        keyEntries.push_back(special || letter.empty() ? letter : "0 " + letter);
    }
    StringList partnerEntries;
    for (const std::string& letter : Letters(partners)) {
        partnerEntries.push_back(letter.empty() ? letter : (special ? "# " : "0 ") + letter);
    }
    RelaySettings settings;
    if (special) {
        settings.SpecialKludges = PairSpecialKludges(keyEntries, partnerEntries);
    } else {
        settings.Kludges = PairKludges(keyEntries, partnerEntries);
    }
    return settings;
}

/// The letters back: the header names or signal strings, and the texts or kludge names.
StringList Keys(const RelaySettings& settings) {
    StringList keys;
    for (const KludgeRecord& kludge : settings.Kludges) {
        keys.push_back(kludge.headerName);
    }
    for (const SpecialKludgeRecord& definition : settings.SpecialKludges) {
        keys.push_back(definition.signal);
    }
    return keys;
}
StringList Partners(const RelaySettings& settings) {
    StringList partners;
    for (const KludgeRecord& kludge : settings.Kludges) {
        partners.push_back(kludge.text);
    }
    for (const SpecialKludgeRecord& definition : settings.SpecialKludges) {
        partners.push_back(definition.kludgeName);
    }
    return partners;
}

TEST(SettingsEditsTest, BothKludgePairsStayPairedWhateverTheStoreHeld) {
    constexpr std::size_t kHuge = static_cast<std::size_t>(-1);
    struct Case {
        const char* what;
        const char* keys;
        const char* partners;
        char edit;  // 'a' adds N/n, 'e' makes the pair at index N/n, 'r' removes it
        std::size_t index;
        bool done;
        const char* keysAfter;
        const char* partnersAfter;
    };
    const Case cases[] = {
        {"add to equal lists", "A", "a", 'a', 0, true, "AN", "an"},
        {"add beside a short partner list: the new entry gets its own", "AB", "a", 'a', 0, true,
         "ABN", "a-n"},
        {"add beside a long partner list: the stray partner goes", "A", "ax", 'a', 0, true, "AN",
         "an"},
        {"edit the entry that had no partner", "AB", "a", 'e', 1, true, "AN", "an"},
        {"edit past the end", "A", "a", 'e', 1, false, "A", "a"},
        {"edit a huge index", "A", "a", 'e', kHuge, false, "A", "a"},
        // The stray partner went as the lists loaded.
        {"edit an empty list", "", "x", 'e', 0, false, "", ""},
        {"remove from equal lists", "AB", "ab", 'r', 0, true, "B", "b"},
        {"remove the entry without a partner", "AB", "a", 'r', 1, true, "A", "a"},
        {"remove beside a long partner list", "AB", "abx", 'r', 0, true, "B", "b"},
        {"remove past the end", "A", "a", 'r', 3, false, "A", "a"},
        {"remove a huge index", "A", "a", 'r', kHuge, false, "A", "a"},
    };
    for (const bool special : {false, true}) {
        for (const Case& c : cases) {
            RelaySettings settings = Loaded(special, c.keys, c.partners);
            const KludgeRecord kludge{0, "N", 0, "n"};
            const SpecialKludgeRecord definition{"N", "#", "n"};
            bool done = true;
            if (c.edit == 'a') {
                const std::size_t at = special
                                           ? SettingsEdits::AddSpecialKludge(settings, definition)
                                           : SettingsEdits::AddKludge(settings, kludge);
                EXPECT_EQ(at, std::string_view(c.keysAfter).size() - 1) << c.what;
            } else if (c.edit == 'e') {
                done = special ? SettingsEdits::EditSpecialKludge(settings, c.index, definition)
                               : SettingsEdits::EditKludge(settings, c.index, kludge);
            } else {
                done = special ? SettingsEdits::RemoveSpecialKludge(settings, c.index)
                               : SettingsEdits::RemoveKludge(settings, c.index);
            }
            EXPECT_EQ(done, c.done) << c.what;
            EXPECT_EQ(Keys(settings), Letters(c.keysAfter)) << c.what;
            EXPECT_EQ(Partners(settings), Letters(c.partnersAfter)) << c.what;
            // The other list is not touched.
            EXPECT_TRUE(special ? settings.Kludges.empty() : settings.SpecialKludges.empty())
                << c.what;
        }
    }
}

TEST(SettingsEditsTest, MendingGivesEveryEntryItsPartnerAndDropsStrayPartners) {
    const RelaySettings kludges = Loaded(false, "AB", "a");
    const RelaySettings specials = Loaded(true, "S", "sx");
    EXPECT_EQ(Partners(kludges), Letters("a-"));
    EXPECT_EQ(Partners(specials), Letters("s"));
    EXPECT_EQ(Keys(kludges), Letters("AB"));
    EXPECT_EQ(Keys(specials), Letters("S"));
}

}  // namespace
}  // namespace vantel
