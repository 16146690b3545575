#include "core/config/SettingsPersistence.h"

#include <gtest/gtest.h>

#include "StoreFactory.h"
#include "core/config/CredentialCodec.h"
#include "core/config/StoredKludges.h"

namespace vantel {
namespace {

constexpr StoreRoot kUser = StoreRoot::CurrentUser;

class SettingsPersistenceTest : public ::testing::TestWithParam<test::StoreFactory> {
  protected:
    SettingsPersistenceTest() : store_(GetParam().make(test::UniqueProductKey())) {}

    std::string Read(const char* key, const char* name, StoreRoot root = kUser) {
        return store_->ReadValueText(key, name, "<absent>", root);
    }
    void Write(const char* key, const char* name, std::string_view text) {
        store_->WriteValueText(key, name, text, kUser);
    }
    RelaySettings Load(int schema = -1) {
        RelaySettings settings;
        persistence_.LoadSettings(settings, schema);
        return settings;
    }

    std::unique_ptr<SettingsStore> store_;
    SettingsPersistence persistence_{*store_};
};

ServerEntry Pop3Entry(const std::string& name, int passDataIndex, const char* user,
                      const char* password) {
    ServerEntry entry;
    entry.Name = name;
    entry.LocalPort = 110;
    entry.RemotePort = 110;
    entry.Type = StoredServerType(ServerType::Pop3);
    entry.PassDataIndex = passDataIndex;
    CredentialBlock block{};
    entry.CredentialLength = PackCredentials(block, user, password);
    entry.Credentials = block;
    return entry;
}

TEST_P(SettingsPersistenceTest, EmptyStoreLoadsDefaults) {
    const RelaySettings s = Load();
    EXPECT_EQ(s.DefaultPort, 25);
    EXPECT_EQ(s.DefaultPOPPort, 110);
    EXPECT_EQ(s.ConnectTimeout, 0);
    EXPECT_EQ(s.MessageTimeout, 0);
    EXPECT_EQ(s.DefaultSchema, 0);
    EXPECT_EQ(s.ListenAddress, "");
    EXPECT_EQ(persistence_.CurrentSchemaName(), "");
    EXPECT_TRUE(s.Kludges.empty() && s.SpecialKludges.empty() && s.Servers.empty() &&
                s.Schemes.empty() && s.ServerList.empty());
}

TEST_P(SettingsPersistenceTest, DefaultPortsReadAsNumbersWithFallbacks) {
    for (const auto& [stored, expected] : std::vector<std::pair<const char*, int>>{
             {"0", 25}, {"abc", 25}, {"587x", 587}, {" 2525", 2525}}) {
        Write("Settings", "DefaultPort", stored);
        EXPECT_EQ(Load().DefaultPort, expected) << "stored as '" << stored << "'";
    }
    Write("Settings", "DefaultPOPPort", "0");
    EXPECT_EQ(Load().DefaultPOPPort, 110);
}

TEST_P(SettingsPersistenceTest, NegativeConnectTimeoutLoadsAsNoLimit) {
    for (const auto& [stored, expected] :
         std::vector<std::pair<const char*, int>>{{"-7", 0}, {"-1", 0}, {"0", 0}, {"12", 12}}) {
        Write("Settings", "ConnectTimeout", stored);
        EXPECT_EQ(Load().ConnectTimeout, expected) << "stored as '" << stored << "'";
    }
}

TEST_P(SettingsPersistenceTest, SaveThenLoadGivesTheSameSettings) {
    RelaySettings s;
    s.ConnectTimeout = 7;
    s.MessageTimeout = 9;
    s.DefaultPort = 2525;
    s.DefaultPOPPort = 1110;
    s.DefaultServer = 1;
    s.DefaultPOPServer = 2;
    s.POPCycleChange = 1;
    s.UseService = 1;
    s.ListenAddress = "*";
    s.Kludges = PairKludges({"0 X-Mailer:", "1 Received:"}, {"0 Vantel \"quoted\" \\path", "1 "});
    s.SpecialKludges = PairSpecialKludges({"Tag:"}, {"; X-Tag:"});
    ServerEntry smtp;
    smtp.Name = "smtp.example.org";
    smtp.LocalPort = 25;
    smtp.RemotePort = 587;
    s.ServerList = {smtp, Pop3Entry("pop.example.org", 4242, "alice", "s3cret")};
    ASSERT_TRUE(persistence_.SaveSettings(s));

    const RelaySettings back = Load();
    EXPECT_EQ(back.ConnectTimeout, 7);
    EXPECT_EQ(back.MessageTimeout, 9);
    EXPECT_EQ(back.DefaultPort, 2525);
    EXPECT_EQ(back.DefaultPOPPort, 1110);
    EXPECT_EQ(back.DefaultServer, 1);
    EXPECT_EQ(back.DefaultPOPServer, 2);
    EXPECT_EQ(back.POPCycleChange, 1);
    EXPECT_EQ(back.UseService, 1);
    EXPECT_EQ(back.ListenAddress, "*");
    EXPECT_EQ(back.Kludges, s.Kludges);
    EXPECT_EQ(back.SpecialKludges, s.SpecialKludges);
    EXPECT_EQ(back.Servers,
              (StringList{"25 587 0 -1 smtp.example.org", "110 110 1 4242 pop.example.org"}));
    ASSERT_EQ(back.ServerList.size(), 2u);
    std::string user, password;
    UnpackCredentials(back.ServerList[1].Credentials, back.ServerList[1].CredentialLength, user,
                      password);
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(password, "s3cret");
    // The store holds the scrambled form only.
    const auto raw = store_->ReadBinaryValue("Settings", "PassData4242", kUser);
    EXPECT_EQ(raw.size(), 12u);
    EXPECT_EQ(std::string(raw.begin(), raw.end()).find("alice"), std::string::npos);
    // CustomValue is read, never written.
    EXPECT_EQ(Read("Settings", "CustomValue"), "<absent>");
}

TEST_P(SettingsPersistenceTest, ShorterListLeavesStaleEntriesThatLoadIgnores) {
    RelaySettings s;
    s.Kludges = PairKludges({"0 A:", "0 B:", "0 C:", "0 D:", "0 E:"}, StringList(5, "1 "));
    persistence_.SaveSettings(s);
    s.Kludges.resize(3);
    persistence_.SaveSettings(s);
    EXPECT_EQ(Read("Settings", "KludgesCount"), "3");
    EXPECT_EQ(Read("Settings", "Kludges3"), "0 D:");
    EXPECT_EQ(Read("Settings", "Kludges4"), "0 E:");
    EXPECT_EQ(Load().Kludges, PairKludges({"0 A:", "0 B:", "0 C:"}, StringList(3, "1 ")));
}

TEST_P(SettingsPersistenceTest, ListCountsBeyondTheEntriesOrAbsurdlyLarge) {
    Write("Settings", "KludgesCount", "3");
    Write("Settings", "Kludges0", "0 A:");
    EXPECT_EQ(Load().Kludges, PairKludges({"0 A:", "", ""}, {}));
    Write("Settings", "KludgesCount", "-4");
    EXPECT_TRUE(Load().Kludges.empty());
    Write("Settings", "KludgesCount", "2000000000");
    EXPECT_EQ(Load().Kludges.size(),
              static_cast<std::size_t>(SettingsPersistence::kMaxListEntries));
}

TEST_P(SettingsPersistenceTest, KludgeListsPairAsTheyLoadAndSaveAsTheRelayReadsThem) {
    struct Case {
        const char* what;
        StringList kludges, subst, signalStr, specialKludges;
        std::vector<KludgeRecord> records;
        std::vector<SpecialKludgeRecord> specials;
        StringList savedKludges, savedSubst, savedSpecialKludges;  // SignalStr saves as loaded
    };
    const Case cases[] = {
        {"paired lists save back byte for byte",
         {"0 X-Mailer:", "1 Received:", "0 Subject:"},
         {"0 Vantel 2.0", "1 ", "3 [list]"},
         {"[list]", ""},
         {"# X-Topic:", "  X-Blank:"},
         {{0, "X-Mailer:", 0, "Vantel 2.0"}, {1, "Received:", 1, ""}, {0, "Subject:", 3, "[list]"}},
         {{"[list]", "#", "X-Topic:"}, {"", " ", "X-Blank:"}},
         {"0 X-Mailer:", "1 Received:", "0 Subject:"},
         {"0 Vantel 2.0", "1 ", "3 [list]"},
         {"# X-Topic:", "  X-Blank:"}},
        {"a short partner list: the kludge has no action, the special kludge no definition",
         {"0 A:", "0 B:"},
         {"0 a"},
         {"[a]", "[b]"},
         {"# X-A:"},
         {{0, "A:", 0, "a"}, {0, "B:", -1, ""}},
         {{"[a]", "#", "X-A:"}, {"[b]", "", ""}},
         {"0 A:", "0 B:"},
         {"0 a", ""},
         {"# X-A:", ""}},
        {"a long partner list: the stray partners go",
         {"0 A:"},
         {"0 a", "0 stray"},
         {},
         {"# X-Stray:"},
         {{0, "A:", 0, "a"}},
         {},
         {"0 A:"},
         {"0 a"},
         {}},
        {"hand-edited entries keep what the relay reads in them",
         {"Subject:", "", "5", " 1  X:  tail"},
         {"nonsense", "0", "x y", "2 /path with blanks"},
         {"[a]", "[b]", "[c]"},
         {"#", "#xy X:", "# "},
         {{0, "Subject:", -1, ""},
          {0, "", 0, ""},
          {0, "5", -1, "y"},
          {1, "X:", 2, "/path with blanks"}},
         {{"[a]", "", ""}, {"[b]", "#", "X:"}, {"[c]", "#", ""}},
         {"0 Subject:", "", "0 5", "1 X:"},
         {"", "0 ", "-1 y", "2 /path with blanks"},
         {"", "# X:", "# "}},
    };
    const auto writeList = [this](const std::string& name, const StringList& list) {
        Write("Settings", (name + "Count").c_str(), std::to_string(list.size()));
        for (std::size_t i = 0; i < list.size(); ++i) {
            Write("Settings", (name + std::to_string(i)).c_str(), list[i]);
        }
    };
    const auto readList = [this](const std::string& name) {
        StringList list(
            static_cast<std::size_t>(std::stoi(Read("Settings", (name + "Count").c_str()))));
        for (std::size_t i = 0; i < list.size(); ++i) {
            list[i] = Read("Settings", (name + std::to_string(i)).c_str());
        }
        return list;
    };
    for (const Case& c : cases) {
        writeList("Kludges", c.kludges);
        writeList("Subst", c.subst);
        writeList("SignalStr", c.signalStr);
        writeList("SpecialKludges", c.specialKludges);
        RelaySettings loaded = Load();
        EXPECT_EQ(loaded.Kludges, c.records) << c.what;
        EXPECT_EQ(loaded.SpecialKludges, c.specials) << c.what;

        ASSERT_TRUE(persistence_.SaveSettings(loaded)) << c.what;
        EXPECT_EQ(readList("Kludges"), c.savedKludges) << c.what;
        EXPECT_EQ(readList("Subst"), c.savedSubst) << c.what;
        EXPECT_EQ(readList("SignalStr"), c.signalStr) << c.what;
        EXPECT_EQ(readList("SpecialKludges"), c.savedSpecialKludges) << c.what;
        // What was saved loads as the same records.
        EXPECT_EQ(Load().Kludges, c.records) << c.what;
        EXPECT_EQ(Load().SpecialKludges, c.specials) << c.what;
    }
}

TEST_P(SettingsPersistenceTest, LongValuesReadBackWhole) {
    RelaySettings s;
    s.Kludges = PairKludges({"0 X-Long:"}, {"0 " + std::string(5000, 'v')});
    persistence_.SaveSettings(s);
    EXPECT_EQ(Load().Kludges, s.Kludges);
}

TEST_P(SettingsPersistenceTest, OversizedOrMissingPassDataLoadsWithoutLogin) {
    Write("Settings", "ServersCount", "3");
    Write("Settings", "Servers0", "110 110 1 7 big");
    Write("Settings", "Servers1", "110 110 1 8 missing");
    Write("Settings", "Servers2", "110 110 1 9 fits");
    store_->WriteBinaryValue("Settings", "PassData7", std::vector<std::uint8_t>(256, 0x86), kUser);
    store_->WriteBinaryValue("Settings", "PassData9", std::vector<std::uint8_t>(255, 0x86), kUser);
    const RelaySettings s = Load();
    ASSERT_EQ(s.ServerList.size(), 3u);
    EXPECT_EQ(s.ServerList[0].CredentialLength, 0);
    for (std::uint8_t b : s.ServerList[0].Credentials) {
        ASSERT_EQ(b, 0);
    }
    EXPECT_EQ(s.ServerList[1].CredentialLength, 0);
    EXPECT_EQ(s.ServerList[2].CredentialLength, 255);
}

TEST_P(SettingsPersistenceTest, DamagedServerLinesStillGiveEntries) {
    Write("Settings", "ServersCount", "3");
    Write("Settings", "Servers0", "nonsense");
    Write("Settings", "Servers1", "25 25 7 -1 mailhost");
    Write("Settings", "Servers2", "25 25 0 -1 " + std::string(300, 'n'));
    const RelaySettings s = Load();
    ASSERT_EQ(s.ServerList.size(), 3u);
    EXPECT_EQ(s.ServerList[0].Name, "");
    EXPECT_TRUE(s.ServerList[1].Is(ServerType::Smtp));
    EXPECT_EQ(s.ServerList[1].Name, "mailhost");
    EXPECT_EQ(s.ServerList[2].Name.size(), ServerEntry::kMaxNameLength);
}

TEST_P(SettingsPersistenceTest, OnlyPop3EntriesStoreTheirLogin) {
    RelaySettings s;
    ServerEntry smtp = Pop3Entry("smtphost", 99, "bob", "pw");
    smtp.Type = StoredServerType(ServerType::Smtp);
    s.ServerList = {smtp, Pop3Entry("nologin", 98, "", "pw")};
    persistence_.SaveSettings(s);
    EXPECT_EQ(Read("Settings", "Servers0"), "110 110 0 99 smtphost");
    EXPECT_TRUE(store_->ReadBinaryValue("Settings", "PassData99", kUser).empty());
    EXPECT_TRUE(store_->ReadBinaryValue("Settings", "PassData98", kUser).empty());
    // The SMTP entry keeps its login in memory.
    EXPECT_GT(s.ServerList[0].CredentialLength, 0);
}

TEST_P(SettingsPersistenceTest, NamedSchemaSaveReplacesItsKeyWholeButDefaultKeepsStaleValues) {
    RelaySettings s;
    s.Schemes = {"Work"};
    s.DefaultSchema = 1;
    s.ServerList = {Pop3Entry("a", 1, "u", "p"), Pop3Entry("b", 2, "u", "p")};
    persistence_.SaveSettings(s);
    EXPECT_EQ(Read("Settings\\Work", "Servers1"), "110 110 1 2 b");
    s.ServerList.pop_back();
    persistence_.SaveSettings(s);
    EXPECT_EQ(Read("Settings\\Work", "Servers1"), "<absent>");
    EXPECT_TRUE(store_->ReadBinaryValue("Settings\\Work", "PassData2", kUser).empty());
    EXPECT_FALSE(store_->ReadBinaryValue("Settings\\Work", "PassData1", kUser).empty());
    EXPECT_EQ(Read("Settings", "DefaultSchema"), "1");
    EXPECT_EQ(Read("Settings", "Schemes0"), "Work");

    RelaySettings d;
    d.ServerList = {Pop3Entry("a", 1, "u", "p"), Pop3Entry("b", 2, "u", "p")};
    persistence_.SaveSettings(d);
    d.ServerList.pop_back();
    persistence_.SaveSettings(d);
    EXPECT_EQ(Read("Settings", "Servers1"), "110 110 1 2 b");
}

constexpr const char* kPrint =
    "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:"
    "EE:FF";

ServerEntry SecuredEntry(const std::string& name, int remotePort, int security,
                         std::string fingerprint = "") {
    ServerEntry entry;
    entry.Name = name;
    entry.LocalPort = 2525;
    entry.RemotePort = remotePort;
    entry.Security = security;
    entry.Fingerprint = std::move(fingerprint);
    return entry;
}

constexpr int kSslTls = StoredSecurityMode(SecurityMode::SslTls);
constexpr int kStartTls = StoredSecurityMode(SecurityMode::StartTls);

TEST_P(SettingsPersistenceTest, SecurityAndPinnedFingerprintRoundTripBesideTheServerLines) {
    RelaySettings s;
    ServerEntry pop = Pop3Entry("pop.example.org", 77, "alice", "pw");
    pop.Security = kStartTls;
    s.ServerList = {
        SecuredEntry("smtp.example.org", 465, kSslTls, kPrint),
        pop,
        SecuredEntry("plain.example.org", 25, 0),
        // A newer program's mode, and a pin the relay will refuse: both kept as they are.
        SecuredEntry("future.example.org", 25, 9),
        SecuredEntry("typo.example.org", 465, kSslTls, "not a fingerprint"),
    };
    ASSERT_TRUE(persistence_.SaveSettings(s));

    // The server lines keep the format older programs read.
    EXPECT_EQ(Read("Settings", "Servers0"), "2525 465 0 -1 smtp.example.org");
    EXPECT_EQ(Read("Settings", "Servers1"), "110 110 1 77 pop.example.org");
    EXPECT_EQ(Read("Settings", "ServerSecurity0"), "1");
    EXPECT_EQ(Read("Settings", "ServerSecurity1"), "2");
    EXPECT_EQ(Read("Settings", "ServerFingerprint0"), kPrint);
    // Plain entries without a pin add nothing to the store.
    EXPECT_EQ(Read("Settings", "ServerSecurity2"), "<absent>");
    EXPECT_EQ(Read("Settings", "ServerFingerprint2"), "<absent>");

    const RelaySettings back = Load();
    EXPECT_EQ(back.ServerList, s.ServerList);
    EXPECT_TRUE(back.ServerList[3].Encrypted());
}

TEST_P(SettingsPersistenceTest, StoredSecurityValuesLoadSafely) {
    // A store of an older program: no mode, no pin.
    Write("Settings", "ServersCount", "6");
    for (int i = 0; i < 6; ++i) {
        Write("Settings", ("Servers" + std::to_string(i)).c_str(), "25 25 0 -1 host");
    }
    RelaySettings s = Load();
    ASSERT_EQ(s.ServerList.size(), 6u);
    for (const ServerEntry& entry : s.ServerList) {
        EXPECT_TRUE(entry.Uses(SecurityMode::None));
        EXPECT_EQ(entry.Fingerprint, "");
    }

    // Hand-edited values: what is there but no number is never taken as plain text, an
    // empty or blank one included.
    Write("Settings", "ServerSecurity0", " 2 ");
    Write("Settings", "ServerSecurity1", "tls");
    Write("Settings", "ServerSecurity2", "");
    Write("Settings", "serversecurity3", " \t ");
    Write("Settings", "ServerSecurity4", "99999999999");
    store_->WriteBinaryValue("Settings", "ServerSecurity5", {1, 0, 0, 0}, kUser);  // a DWORD
    Write("Settings", "ServerFingerprint1", std::string(100000, 'f'));
    s = Load();
    EXPECT_TRUE(s.ServerList[0].Uses(SecurityMode::StartTls));
    for (std::size_t i : {1u, 2u, 3u, 4u, 5u}) {
        EXPECT_TRUE(s.ServerList[i].Encrypted()) << i;
        EXPECT_FALSE(IsKnownSecurityMode(s.ServerList[i].Security)) << i;
    }
    EXPECT_EQ(s.ServerList[1].Fingerprint.size(), 100000u);
    // A DWORD 0 reads as empty text: there all the same.
    store_->WriteBinaryValue("Settings", "ServerSecurity5", {0, 0, 0, 0}, kUser);
    EXPECT_TRUE(Load().ServerList[5].Encrypted());

    // Saved back, the unknown modes stay unknown and the long pin stays whole.
    ASSERT_TRUE(persistence_.SaveSettings(s));
    const RelaySettings again = Load();
    EXPECT_EQ(again.ServerList, s.ServerList);
}

// The default schema's key is not emptied before a save (a named schema's is).
TEST_P(SettingsPersistenceTest, ValuesOfRemovedOrMovedEntriesDoNotAttachToOthers) {
    RelaySettings s;
    s.ServerList = {SecuredEntry("a", 25, 0), SecuredEntry("b", 465, kSslTls, kPrint),
                    SecuredEntry("c", 587, kStartTls, kPrint)};
    ASSERT_TRUE(persistence_.SaveSettings(s));

    // b goes; c moves up to ordinal 1 and drops its pin; a takes one.
    s.ServerList.erase(s.ServerList.begin() + 1);
    s.ServerList[1].Fingerprint.clear();
    s.ServerList[0].Fingerprint = kPrint;
    ASSERT_TRUE(persistence_.SaveSettings(s));
    EXPECT_EQ(Load().ServerList, s.ServerList);

    // Entries added later, where the removed ones stood, start plain.
    s.ServerList.push_back(SecuredEntry("d", 25, 0));
    s.ServerList[1] = SecuredEntry("c", 25, 0);
    ASSERT_TRUE(persistence_.SaveSettings(s));
    EXPECT_EQ(Load().ServerList, s.ServerList);

    // Left by hand or by another program, past the list or in another letter case: gone with
    // the next save. Names that are never read stay.
    Write("Settings", "serversecurity5", "1");
    Write("Settings", "SERVERFINGERPRINT1", "AA");
    Write("Settings", "ServerSecurity01", "1");
    ASSERT_TRUE(persistence_.SaveSettings(s));
    EXPECT_EQ(Read("Settings", "ServerSecurity5"), "<absent>");
    EXPECT_EQ(Read("Settings", "ServerFingerprint1"), "<absent>");
    EXPECT_EQ(Read("Settings", "ServerSecurity01"), "1");
    EXPECT_EQ(Read("Settings", "ServerFingerprint0"), kPrint);
}

TEST_P(SettingsPersistenceTest, ClearedOrRemovedLoginsLeaveTheStore) {
    RelaySettings s;
    ServerEntry smtp = Pop3Entry("smtphost", 7, "kept", "for-a-switch-back");
    smtp.Type = StoredServerType(ServerType::Smtp);
    s.ServerList = {Pop3Entry("a", 1, "u", "p"), Pop3Entry("b", -2, "u", "p"), smtp};
    Write("Settings", "PassData7", "stored while it was POP3");
    ASSERT_TRUE(persistence_.SaveSettings(s));

    // A cleared login does not come back at the next load; a removed entry's goes with it.
    s.ServerList[0].Credentials.fill(0);
    s.ServerList[0].CredentialLength = 0;
    s.ServerList.erase(s.ServerList.begin() + 1);
    ASSERT_TRUE(persistence_.SaveSettings(s));
    EXPECT_EQ(Load().ServerList[0].CredentialLength, 0);
    EXPECT_TRUE(store_->ReadBinaryValue("Settings", "PassData1", kUser).empty());
    EXPECT_TRUE(store_->ReadBinaryValue("Settings", "PassData-2", kUser).empty());
    // An entry of another type keeps what it has stored; other names stay.
    EXPECT_FALSE(store_->ReadBinaryValue("Settings", "PassData7", kUser).empty());
}

ServerEntry OAuthEntry(const std::string& name, const std::string& account,
                       const std::string& provider = "microsoft") {
    ServerEntry entry = SecuredEntry(name, 993, kSslTls);
    entry.Type = StoredServerType(ServerType::Imap4);
    entry.SignIn = StoredSignInMethod(SignInMethod::OAuth2);
    entry.OAuth.Provider = provider;
    entry.OAuth.Account = account;
    return entry;
}

constexpr const char* kOAuthNames[] = {"ServerOAuthProvider",     "ServerOAuthTenant",
                                       "ServerOAuthAccount",      "ServerOAuthClientId",
                                       "ServerOAuthClientSecret", "ServerOAuthAuthorizeUrl",
                                       "ServerOAuthTokenUrl",     "ServerOAuthDeviceUrl",
                                       "ServerOAuthScopes",       "ServerOAuthMechanism"};

TEST_P(SettingsPersistenceTest, SignInValuesRoundTripBesideTheServerLines) {
    RelaySettings s;
    ServerEntry full = OAuthEntry("mail.example.org", "alice@example.org", "other");
    full.OAuth = {"other",
                  "",
                  "alice@example.org",
                  "client-1",
                  "s3cret-of-client",
                  "https://id.example.org/authorize",
                  "https://id.example.org/token",
                  "https://id.example.org/device",
                  "mail offline_access",
                  "OAUTHBEARER"};
    ServerEntry microsoft = OAuthEntry("outlook.office365.com", "bob@example.com");
    microsoft.OAuth.Tenant = "organizations";
    // A password entry keeps OAuth texts typed before a switch back; its method is not stored.
    ServerEntry password = SecuredEntry("plain.example.org", 25, 0);
    password.OAuth.Account = "kept@example.org";
    ServerEntry future = OAuthEntry("future.example.org", "c@example.org");
    future.SignIn = 7;  // a newer program's method: kept as it is
    s.ServerList = {full, microsoft, password, future};
    ASSERT_TRUE(persistence_.SaveSettings(s));

    EXPECT_EQ(Read("Settings", "Servers0"), "2525 993 2 -1 mail.example.org");
    EXPECT_EQ(Read("Settings", "ServerSignIn0"), "1");
    EXPECT_EQ(Read("Settings", "ServerSignIn2"), "<absent>");
    EXPECT_EQ(Read("Settings", "ServerSignIn3"), "7");
    EXPECT_EQ(Read("Settings", "ServerOAuthMechanism0"), "OAUTHBEARER");
    EXPECT_EQ(Read("Settings", "ServerOAuthAccount2"), "kept@example.org");
    // Empty texts add nothing to the store.
    for (const char* name : kOAuthNames) {
        const std::string base = name;
        EXPECT_EQ(Read("Settings", (base + "0").c_str()) == "<absent>", base == "ServerOAuthTenant")
            << base;
        EXPECT_EQ(Read("Settings", (base + "1").c_str()) == "<absent>",
                  base != "ServerOAuthProvider" && base != "ServerOAuthTenant" &&
                      base != "ServerOAuthAccount")
            << base;
    }
    EXPECT_EQ(Load().ServerList, s.ServerList);
}

TEST_P(SettingsPersistenceTest, StoredSignInValuesLoadSafely) {
    // A store of an older program: no sign-in values, so every entry signs in as before.
    Write("Settings", "ServersCount", "7");
    for (int i = 0; i < 7; ++i) {
        Write("Settings", ("Servers" + std::to_string(i)).c_str(), "143 993 2 -1 host");
    }
    for (const ServerEntry& entry : Load().ServerList) {
        EXPECT_FALSE(entry.SignsInWithOAuth());
        EXPECT_EQ(entry.OAuth, OAuthSignIn{});
    }

    // What is there but no number is never taken as Password, an empty value included.
    const struct {
        const char* stored;
        bool known;
        bool oauth;
    } cases[] = {{" 1 ", true, true}, {"0", true, false},    {"oauth2", false, true},
                 {"", false, true},   {" \t ", false, true}, {"99999999999", false, true},
                 {"1x", false, true}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Write("Settings", ("serversignin" + std::to_string(i)).c_str(), cases[i].stored);
    }
    RelaySettings s = Load();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const ServerEntry& entry = s.ServerList[i];
        EXPECT_EQ(IsKnownSignInMethod(entry.SignIn), cases[i].known) << cases[i].stored;
        EXPECT_EQ(entry.SignsInWithOAuth(), cases[i].oauth) << cases[i].stored;
    }
    EXPECT_EQ(s.ServerList[2].SignIn, kUnreadableSignInMethod);
    // A DWORD reads as no number either.
    store_->WriteBinaryValue("Settings", "ServerSignIn1", {0, 0, 0, 0}, kUser);
    EXPECT_TRUE(Load().ServerList[1].SignsInWithOAuth());

    // Saved back, the unreadable and unknown methods read as themselves again.
    ASSERT_TRUE(persistence_.SaveSettings(s));
    EXPECT_EQ(Load().ServerList, s.ServerList);
}

TEST_P(SettingsPersistenceTest, SignInValuesOfRemovedOrMovedEntriesDoNotAttachToOthers) {
    RelaySettings s;
    ServerEntry a = OAuthEntry("a", "a@example.org");
    a.OAuth.ClientSecret = "secret-a";
    ServerEntry b = OAuthEntry("b", "b@example.org", "google");
    b.OAuth.ClientId = "id-b";
    b.OAuth.ClientSecret = "secret-b";
    s.ServerList = {a, b, SecuredEntry("c", 25, 0)};
    ASSERT_TRUE(persistence_.SaveSettings(s));

    // a goes: b moves to ordinal 0 and drops its secret; c (password) moves to ordinal 1,
    // where b's values were.
    s.ServerList.erase(s.ServerList.begin());
    s.ServerList[0].OAuth.ClientSecret.clear();
    ASSERT_TRUE(persistence_.SaveSettings(s));
    EXPECT_EQ(Load().ServerList, s.ServerList);
    EXPECT_EQ(Read("Settings", "ServerOAuthClientSecret0"), "<absent>");
    EXPECT_EQ(Read("Settings", "ServerSignIn1"), "<absent>");
    for (const char* name : kOAuthNames) {
        EXPECT_EQ(Read("Settings", (std::string(name) + "1").c_str()), "<absent>") << name;
    }

    // Left by hand past the list or in another letter case: gone with the next save.
    Write("Settings", "serveroauthaccount4", "stray@example.org");
    Write("Settings", "SERVERSIGNIN1", "1");
    ASSERT_TRUE(persistence_.SaveSettings(s));
    EXPECT_EQ(Read("Settings", "ServerOAuthAccount4"), "<absent>");
    EXPECT_EQ(Read("Settings", "ServerSignIn1"), "<absent>");
    EXPECT_EQ(Read("Settings", "ServerSignIn0"), "1");
}

TEST_P(SettingsPersistenceTest, OAuthDefaultsLiveInTheGlobalKeyForEverySchema) {
    RelaySettings s;
    s.Schemes = {"Work"};
    s.DefaultSchema = 1;
    s.OAuthDefaultMicrosoftClientId = "ms-id";
    s.OAuthDefaultGoogleClientId = "g-id";
    s.OAuthDefaultGoogleClientSecret = "g-secret";
    ASSERT_TRUE(persistence_.SaveSettings(s));
    EXPECT_EQ(Read("Settings", "OAuthMicrosoftClientId"), "ms-id");
    EXPECT_EQ(Read("Settings", "OAuthGoogleClientSecret"), "g-secret");
    EXPECT_EQ(Read("Settings\\Work", "OAuthGoogleClientId"), "<absent>");
    for (int schema : {0, 1}) {
        const RelaySettings back = Load(schema);
        EXPECT_EQ(back.OAuthDefaultMicrosoftClientId, "ms-id") << schema;
        EXPECT_EQ(back.OAuthDefaultGoogleClientId, "g-id") << schema;
        EXPECT_EQ(back.OAuthDefaultGoogleClientSecret, "g-secret") << schema;
    }
    // A cleared default leaves the store rather than stay as an empty value.
    s.OAuthDefaultGoogleClientSecret.clear();
    ASSERT_TRUE(persistence_.SaveSettings(s));
    EXPECT_EQ(Read("Settings", "OAuthGoogleClientSecret"), "<absent>");
    EXPECT_EQ(Load().OAuthDefaultGoogleClientSecret, "");
}

TEST_P(SettingsPersistenceTest, LoadPicksStoredOrGivenSchema) {
    Write("Settings", "SchemesCount", "2");
    Write("Settings", "Schemes0", "Home");
    Write("Settings", "Schemes1", "Work");
    Write("Settings", "DefaultSchema", "2");
    Write("Settings", "DefaultPort", "1");
    Write("Settings\\Home", "DefaultPort", "2");
    Write("Settings\\Work", "DefaultPort", "3");
    EXPECT_EQ(Load().DefaultPort, 3);
    EXPECT_EQ(persistence_.CurrentSchemaName(), "Work");
    EXPECT_EQ(Load(1).DefaultPort, 2);
    EXPECT_EQ(Load(0).DefaultPort, 1);

    // A stored index naming no schema loads the default schema's values and keeps the number.
    Write("Settings", "DefaultSchema", "5");
    const RelaySettings s = Load();
    EXPECT_EQ(s.DefaultSchema, 5);
    EXPECT_EQ(s.DefaultPort, 1);
    EXPECT_EQ(persistence_.CurrentSchemaName(), "");
}

TEST_P(SettingsPersistenceTest, MachineRootIsSeparate) {
    RelaySettings s;
    s.DefaultPort = 2500;
    persistence_.SetUseMachineStore(true);
    persistence_.SaveSettings(s);
    persistence_.SetUseMachineStore(false);
    EXPECT_EQ(Read("Settings", "DefaultPort", StoreRoot::LocalMachine), "2500");
    EXPECT_EQ(Read("Settings", "DefaultPort"), "<absent>");
}

INSTANTIATE_TEST_SUITE_P(Stores, SettingsPersistenceTest,
                         ::testing::ValuesIn(test::AllStoreFactories()), test::StoreFactoryName);

TEST(RelaySettingsTest, ConstructionValuesAndSchemaName) {
    RelaySettings s;
    EXPECT_EQ(s.DefaultPort, 25);
    EXPECT_EQ(s.DefaultPOPPort, 110);
    EXPECT_EQ(s.ConnectTimeout, 5);
    EXPECT_EQ(s.MessageTimeout, 5);
    EXPECT_EQ(s.CustomValue, 0);
    EXPECT_EQ(s.GetSchemaName(), "");
    s.Schemes = {"A", "B"};
    s.DefaultSchema = 2;
    EXPECT_EQ(s.GetSchemaName(), "B");
    s.DefaultSchema = 3;
    EXPECT_EQ(s.GetSchemaName(), "");
    s.DefaultSchema = -1;
    EXPECT_EQ(s.GetSchemaName(), "");
}

}  // namespace
}  // namespace vantel
