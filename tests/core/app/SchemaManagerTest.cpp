#include "core/app/SchemaManager.h"

#include <gtest/gtest.h>

#include "FakeNotifier.h"
#include "StoreFactory.h"

namespace vantel {
namespace {

class FakeService : public CompanionService {
  public:
    bool IsServiceRunning() override { return running; }
    void NotifyServiceReload() override { ++reloads; }
    bool running = false;
    int reloads = 0;
};

class FakeRelay : public RelayControl {
  public:
    void RestartListeners() override { ++restarts; }
    void OnRelayStateChanged() override { ++trayUpdates; }
    int restarts = 0;
    int trayUpdates = 0;
};

class FakeNotifier : public Notifier {
  public:
    void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
    std::vector<std::string> messages;
};

class SchemaManagerTest : public ::testing::TestWithParam<test::StoreFactory> {
  protected:
    SchemaManagerTest() : store_(GetParam().make(test::UniqueProductKey())) {}

    SchemaManager Manager(bool isNT = false) {
        return SchemaManager(settings_, persistence_, service_, relay_, notifier_, isNT);
    }
    std::string Read(const std::string& key, const char* name,
                     StoreRoot root = StoreRoot::CurrentUser) {
        return store_->ReadValueText(key, name, "<absent>", root);
    }
    /// Stores schemas A, B, C, each with its own DefaultPort (1001, 1002, 1003), the default
    /// schema with 1000, and makes `current` current.
    void StoreThreeSchemas(int current) {
        settings_.Schemes = {"A", "B", "C"};
        for (int k = 0; k <= 3; ++k) {
            settings_.DefaultSchema = k;
            settings_.DefaultPort = 1000 + k;
            persistence_.SaveSettings(settings_);
        }
        settings_.DefaultSchema = current;
        persistence_.LoadSettings(settings_, current);
    }

    std::unique_ptr<SettingsStore> store_;
    SettingsPersistence persistence_{*store_};
    RelaySettings settings_;
    FakeService service_;
    FakeRelay relay_;
    test::FakeNotifier notifier_;
};

TEST_P(SchemaManagerTest, SaveEverywhereWritesBothRootsOnlyOnNTAndAsksOnlyAWantedService) {
    settings_.DefaultPort = 2525;
    settings_.UseService = 1;
    Manager(false).SaveEverywhere();
    EXPECT_EQ(Read("Settings", "DefaultPort"), "2525");
    EXPECT_EQ(Read("Settings", "DefaultPort", StoreRoot::LocalMachine), "<absent>");
    EXPECT_EQ(service_.reloads, 0);

    settings_.DefaultPort = 2626;
    settings_.UseService = 0;
    Manager(true).SaveEverywhere();
    EXPECT_EQ(Read("Settings", "DefaultPort"), "2626");
    EXPECT_EQ(Read("Settings", "DefaultPort", StoreRoot::LocalMachine), "2626");
    EXPECT_EQ(service_.reloads, 0) << "the service would be installed";
    EXPECT_FALSE(persistence_.UseMachineStore());

    settings_.UseService = 1;
    Manager(true).SaveEverywhere();
    EXPECT_EQ(service_.reloads, 1);
}

TEST_P(SchemaManagerTest, SelectSchemaSavesLeavesAndLoads) {
    StoreThreeSchemas(1);
    settings_.ConnectTimeout = 42;  // an unsaved change to schema A
    Manager().SelectSchema(3);
    EXPECT_EQ(Read("Settings\\A", "ConnectTimeout"), "42");
    EXPECT_EQ(settings_.DefaultSchema, 3);
    EXPECT_EQ(settings_.DefaultPort, 1003);
    EXPECT_EQ(persistence_.CurrentSchemaName(), "C");
    EXPECT_EQ(relay_.restarts, 1);
    EXPECT_EQ(relay_.trayUpdates, 1);

    // Selecting the current schema still saves and reloads it; a running service keeps the
    // ports, so no listener is touched.
    service_.running = true;
    settings_.DefaultPort = 1999;
    Manager().SelectSchema(3);
    EXPECT_EQ(settings_.DefaultPort, 1999);
    EXPECT_EQ(Read("Settings\\C", "DefaultPort"), "1999");
    EXPECT_EQ(relay_.restarts, 1);
    EXPECT_EQ(relay_.trayUpdates, 2);
}

TEST_P(SchemaManagerTest, DeletingTheCurrentSchemaHandsItsSettingsToTheDefault) {
    StoreThreeSchemas(2);
    ASSERT_TRUE(Manager().DeleteSchema("B"));
    EXPECT_EQ(settings_.DefaultSchema, 0);
    EXPECT_EQ(settings_.Schemes, (StringList{"A", "C"}));
    EXPECT_EQ(Read("Settings", "DefaultPort"), "1002");
    EXPECT_EQ(Read("Settings\\B", "DefaultPort"), "<absent>");
    EXPECT_EQ(notifier_.messages,
              (std::vector<std::string>{"Schema 'B' was successfully deleted"}));
}

TEST_P(SchemaManagerTest, DeletingAnotherSchemaKeepsTheCurrentOne) {
    StoreThreeSchemas(2);
    ASSERT_TRUE(Manager().DeleteSchema("C"));
    EXPECT_EQ(settings_.DefaultSchema, 2);
    EXPECT_EQ(settings_.GetSchemaName(), "B");

    // A schema before the current one: the index follows B down, and the closing save
    // writes B's settings to B, not over A.
    StoreThreeSchemas(3);  // A, B, C again, C current
    settings_.DefaultPort = 3333;
    ASSERT_TRUE(Manager().DeleteSchema("A"));
    EXPECT_EQ(settings_.Schemes, (StringList{"B", "C"}));
    EXPECT_EQ(settings_.DefaultSchema, 2);
    EXPECT_EQ(settings_.GetSchemaName(), "C");
    EXPECT_EQ(Read("Settings\\C", "DefaultPort"), "3333");
    EXPECT_EQ(Read("Settings\\B", "DefaultPort"), "1002");
    EXPECT_EQ(Read("Settings", "DefaultSchema"), "2");
}

TEST_P(SchemaManagerTest, DeleteRemovesTheKeyUnderBothRoots) {
    settings_.Schemes = {"A"};
    settings_.DefaultSchema = 1;
    Manager(true).SaveEverywhere();
    ASSERT_EQ(Read("Settings\\A", "DefaultPort", StoreRoot::LocalMachine), "25");
    settings_.DefaultSchema = 0;
    Manager(false).DeleteSchema("A");
    EXPECT_EQ(Read("Settings\\A", "DefaultPort", StoreRoot::LocalMachine), "<absent>");
    EXPECT_EQ(Read("Settings\\A", "DefaultPort"), "<absent>");
}

TEST_P(SchemaManagerTest, DeleteOfAnUnknownNameChangesNothing) {
    StoreThreeSchemas(1);
    EXPECT_FALSE(Manager().DeleteSchema("Nope"));
    EXPECT_FALSE(Manager().DeleteSchema(""));
    EXPECT_EQ(settings_.Schemes.size(), 3u);
    EXPECT_EQ(notifier_.messages[0], "Schema \"Nope\" not found");
}

TEST_P(SchemaManagerTest, SaveAsNewNameAppendsAndLeavesDefaultValuesAlone) {
    StoreThreeSchemas(0);
    settings_.DefaultPort = 4444;
    ASSERT_TRUE(Manager().SaveSchemaAs("N"));
    EXPECT_EQ(settings_.Schemes.back(), "N");
    EXPECT_EQ(settings_.DefaultSchema, 4);
    EXPECT_EQ(Read("Settings\\N", "DefaultPort"), "4444");
    EXPECT_EQ(Read("Settings", "DefaultPort"), "1000");
    EXPECT_EQ(Read("Settings", "DefaultSchema"), "4");
    EXPECT_EQ(notifier_.messages.back(), "Schema 'N' was successfully saved");
}

TEST_P(SchemaManagerTest, SaveAsExistingNameOverwritesThatSchema) {
    StoreThreeSchemas(2);
    ASSERT_TRUE(Manager().SaveSchemaAs("A"));
    EXPECT_EQ(settings_.DefaultSchema, 1);
    EXPECT_EQ(settings_.Schemes.size(), 3u);
    EXPECT_EQ(Read("Settings\\A", "DefaultPort"), "1002");
    EXPECT_EQ(Read("Settings\\B", "DefaultPort"), "1002");
}

TEST_P(SchemaManagerTest, NameDifferingOnlyInCaseNamesTheSameSchema) {
    StoreThreeSchemas(0);
    settings_.DefaultPort = 5555;
    ASSERT_TRUE(Manager().SaveSchemaAs("b"));
    EXPECT_EQ(settings_.Schemes, (StringList{"A", "B", "C"}));
    EXPECT_EQ(settings_.DefaultSchema, 2);
    EXPECT_EQ(Read("Settings\\B", "DefaultPort"), "5555");
    EXPECT_EQ(notifier_.messages.back(), "Schema 'B' was successfully saved");
}

TEST_P(SchemaManagerTest, NamesThatCannotBeKeyNamesAreRefused) {
    StoreThreeSchemas(1);
    for (const std::string& name :
         {std::string(), std::string("a\\b"), std::string(256, 'x'), std::string("tab\x01")}) {
        notifier_.messages.clear();
        EXPECT_FALSE(Manager().SaveSchemaAs(name));
        ASSERT_EQ(notifier_.messages.size(), 1u);
        EXPECT_EQ(settings_.Schemes.size(), 3u);
        EXPECT_EQ(settings_.DefaultSchema, 1);
    }
    EXPECT_EQ(SchemaManager::CheckSchemaName(""), "Please enter a name for schema before saving");
    EXPECT_EQ(SchemaManager::CheckSchemaName(std::string(255, 'x')), "");
}

TEST_P(SchemaManagerTest, SecurityValuesGoWithTheirSchema) {
    const std::string print(95, 'A');  // stored as given: the relay judges it
    ServerEntry secured;
    secured.Name = "smtp.example.org";
    secured.RemotePort = 465;
    secured.Security = StoredSecurityMode(SecurityMode::SslTls);
    secured.Fingerprint = print;
    ServerEntry plain;
    plain.Name = "plain.example.org";
    const std::vector<ServerEntry> secureList = {plain, secured};
    const std::vector<ServerEntry> defaultList = {secured, plain};

    settings_.ServerList = secureList;
    ASSERT_TRUE(Manager(true).SaveSchemaAs("Secure"));
    EXPECT_EQ(Read("Settings\\Secure", "ServerSecurity1", StoreRoot::LocalMachine), "1");
    Manager().SelectSchema(0);
    EXPECT_TRUE(settings_.ServerList.empty());

    // The default schema holds other entries at the same ordinals: nothing crosses over.
    settings_.ServerList = defaultList;
    Manager().SelectSchema(1);
    EXPECT_EQ(settings_.ServerList, secureList);
    Manager().SelectSchema(0);
    EXPECT_EQ(settings_.ServerList, defaultList);
    Manager().SelectSchema(1);

    // Deleting the current schema hands its entries to the default one, values and all.
    ASSERT_TRUE(Manager(true).DeleteSchema("Secure"));
    for (StoreRoot root : {StoreRoot::CurrentUser, StoreRoot::LocalMachine}) {
        EXPECT_EQ(Read("Settings\\Secure", "ServerSecurity1", root), "<absent>");
        EXPECT_EQ(Read("Settings\\Secure", "ServerFingerprint1", root), "<absent>");
    }
    EXPECT_EQ(settings_.DefaultSchema, 0);
    EXPECT_EQ(Read("Settings", "ServerSecurity0"), "<absent>");
    persistence_.LoadSettings(settings_, 0);
    EXPECT_EQ(settings_.ServerList, secureList);
}

TEST_P(SchemaManagerTest, SignInValuesGoWithTheirSchema) {
    ServerEntry oauth;
    oauth.Name = "outlook.office365.com";
    oauth.Type = StoredServerType(ServerType::Imap4);
    oauth.SignIn = StoredSignInMethod(SignInMethod::OAuth2);
    oauth.OAuth.Provider = "microsoft";
    oauth.OAuth.Account = "alice@example.org";
    oauth.OAuth.ClientId = "client-id";
    ServerEntry plain;
    plain.Name = "plain.example.org";
    const std::vector<ServerEntry> oauthList = {plain, oauth};
    const std::vector<ServerEntry> defaultList = {oauth, plain};
    settings_.OAuthDefaultGoogleClientId = "google-id";

    settings_.ServerList = oauthList;
    ASSERT_TRUE(Manager(true).SaveSchemaAs("Cloud"));
    EXPECT_EQ(Read("Settings\\Cloud", "ServerSignIn1", StoreRoot::LocalMachine), "1");
    Manager().SelectSchema(0);
    settings_.ServerList = defaultList;
    Manager().SelectSchema(1);
    EXPECT_EQ(settings_.ServerList, oauthList);
    // The program-wide defaults are no schema's: every schema sees them.
    EXPECT_EQ(settings_.OAuthDefaultGoogleClientId, "google-id");
    Manager().SelectSchema(0);
    EXPECT_EQ(settings_.ServerList, defaultList);
    Manager().SelectSchema(1);

    ASSERT_TRUE(Manager(true).DeleteSchema("Cloud"));
    for (StoreRoot root : {StoreRoot::CurrentUser, StoreRoot::LocalMachine}) {
        EXPECT_EQ(Read("Settings\\Cloud", "ServerSignIn1", root), "<absent>");
        EXPECT_EQ(Read("Settings\\Cloud", "ServerOAuthAccount1", root), "<absent>");
    }
    // The default schema took the deleted one's entries: its old ordinal 0 values went.
    EXPECT_EQ(Read("Settings", "ServerSignIn0"), "<absent>");
    EXPECT_EQ(Read("Settings", "ServerOAuthAccount0"), "<absent>");
    persistence_.LoadSettings(settings_, 0);
    EXPECT_EQ(settings_.ServerList, oauthList);
    EXPECT_EQ(settings_.OAuthDefaultGoogleClientId, "google-id");
}

INSTANTIATE_TEST_SUITE_P(Stores, SchemaManagerTest, ::testing::ValuesIn(test::AllStoreFactories()),
                         test::StoreFactoryName);

}  // namespace
}  // namespace vantel
