#include "tray/ServiceControl.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "FakeNotifier.h"
#include "LoopRunner.h"
#include "LoopbackPeer.h"
#include "StoreFactory.h"
#include "TempDir.h"
#include "core/app/SchemaManager.h"
#include "core/config/SettingsPersistence.h"
#include "core/config/StoredKludges.h"
#include "core/oauth/Base64.h"
#include "core/oauth/SignInFlow.h"
#include "platform/SystemWallClock.h"
#include "platform/win32/BCryptCrypto.h"
#include "platform/win32/DpapiTokenStore.h"
#include "platform/win32/LogLocation.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/WideText.h"
#include "platform/win32/Win32EventLoop.h"
#include "tray/BuiltPrograms.h"
#include "tray/MainDialog.h"
#include "tray/ServiceProbe.h"
#include "tray/TrayFakes.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/FakeDialogNotifier.h"
#include "tray/dialogs/GeneralSettingsPage.h"
#include "tray/dialogs/ModalDriver.h"

namespace vantel {
namespace {

using test::LoopbackPeer;
using test::LoopbackServer;

/// Runs against the real service control manager (Wine's in the test prefix) and the built
/// vantel.srv, which reads the real machine-wide settings key.
class ServiceControlTest : public ::testing::Test {
  protected:
    ServiceControlTest() : control_(true, test::BuiltProgram("vantel.srv"), notifier_) {
        control_.StopRelayService();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, std::string(kProductKey).c_str());
    }
    ~ServiceControlTest() override {
        control_.StopRelayService();
        Run([&] { return !test::ServiceInstalled(); }, 10000);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, std::string(kProductKey).c_str());
    }

    bool Run(const std::function<bool()>& done, std::uint32_t timeoutMs = 15000) {
        return test::RunUntil(loop_, done, timeoutMs);
    }
    bool Accepts(std::uint16_t port) { return test::Accepts(loop_, port); }
    /// The machine-wide settings the service reads: one SMTP entry from `localPort` to the
    /// test server, and a kludge that rewrites the Subject.
    static RelaySettings MachineSettings(std::uint16_t localPort, std::uint16_t serverPort) {
        RelaySettings settings;
        settings.DefaultPort = localPort;
        ServerEntry entry;
        entry.LocalPort = localPort;
        entry.RemotePort = serverPort;
        entry.Name = "127.0.0.1";
        settings.ServerList = {entry};
        settings.Kludges = PairKludges({"0 Subject:"}, {"0 relayed by the service"});
        return settings;
    }
    static void SaveMachineSettings(RelaySettings settings) {
        RegistryStore store;
        SettingsPersistence persistence(store);
        persistence.SetUseMachineStore(true);
        persistence.SaveSettings(settings);
    }
    void StoreMachineSettings(std::uint16_t localPort, std::uint16_t serverPort) {
        SaveMachineSettings(MachineSettings(localPort, serverPort));
    }

    Win32EventLoop loop_;
    test::FakeDialogNotifier notifier_;  // the main window's too, in one test
    ServiceControl control_;
};

TEST_F(ServiceControlTest, InstallStartReloadRelayStopAndDelete) {
    LoopbackServer server(loop_);
    server.onConnection = [](LoopbackPeer& p) { p.Send("220 ready\r\n"); };
    const std::uint16_t firstPort = test::FreePort(loop_);
    StoreMachineSettings(firstPort, server.port());
    ASSERT_FALSE(test::ServiceInstalled());
    EXPECT_FALSE(control_.IsServiceRunning());

    // A save installs the missing service but does not start it.
    control_.NotifyServiceReload();
    EXPECT_TRUE(test::ServiceInstalled());
    EXPECT_FALSE(control_.lastReloadSent());
    EXPECT_FALSE(control_.IsServiceRunning());

    ASSERT_TRUE(control_.StartRelayService());
    ASSERT_TRUE(Run([&] { return control_.IsServiceRunning(); }));
    ASSERT_TRUE(Run([&] { return Accepts(firstPort); }));

    LoopbackPeer client(loop_);
    ASSERT_TRUE(client.Connect(firstPort));
    ASSERT_TRUE(Run([&] { return client.received == "220 ready\r\n"; }));
    // The probes above made sessions of their own: this one is the newest.
    LoopbackPeer& relayed = *server.connections.back();
    client.Send("Subject: hello\r\nX-Other: kept\r\n\r\nSubject: in the body\r\n");
    ASSERT_TRUE(Run([&] { return relayed.received.size() >= 73; }));
    EXPECT_EQ(relayed.received,
              "Subject:  relayed by the service\r\nX-Other: kept\r\n\r\nSubject: in the body\r\n");
    client.Close();

    // Control code 206: the service re-reads the machine-wide settings.
    const std::uint16_t secondPort = test::FreePort(loop_);
    StoreMachineSettings(secondPort, server.port());
    control_.NotifyServiceReload();
    EXPECT_TRUE(control_.lastReloadSent());
    EXPECT_TRUE(Run([&] { return Accepts(secondPort); }));
    EXPECT_TRUE(Run([&] { return !Accepts(firstPort); }));

    EXPECT_TRUE(control_.StopRelayService());
    EXPECT_TRUE(Run([&] { return !test::ServiceInstalled(); }));
    EXPECT_FALSE(control_.IsServiceRunning());
    EXPECT_TRUE(Run([&] { return !Accepts(secondPort); }));
    EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(ServiceControlTest, EnsureRunningInstallsAndStartsAndRemovalUninstalls) {
    StoreMachineSettings(test::FreePort(loop_), 9);
    EXPECT_TRUE(control_.EnsureServiceRunning());
    ASSERT_TRUE(Run([&] { return control_.IsServiceRunning(); }));
    EXPECT_TRUE(control_.EnsureServiceRunning());

    EXPECT_TRUE(control_.RemoveServiceAtStartup());
    EXPECT_TRUE(Run([&] { return !test::ServiceInstalled(); }));
    EXPECT_FALSE(control_.IsServiceRunning());
    EXPECT_TRUE(control_.StopRelayService()) << "stopping a missing service is quiet";
    EXPECT_TRUE(notifier_.messages.empty());
}

/// The lines of the log at `path` that hold `text`.
std::vector<std::string> LinesWith(const std::filesystem::path& path, const std::string& text) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (line.find(text) != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

TEST_F(ServiceControlTest, ServiceLogsItsNoticesAndItsTrafficWhileLogTrafficIsSet) {
    const std::filesystem::path log = LogLocation::ServiceLog();
    ASSERT_FALSE(log.empty());
    std::error_code ignored;
    std::filesystem::remove(log, ignored);
    LoopbackServer server(loop_);
    int greetings = 0;
    server.onConnection = [&](LoopbackPeer& p) {
        p.Send("220 service " + std::to_string(++greetings) + "\r\n");
    };
    const std::uint16_t port = test::FreePort(loop_);
    const std::uint16_t failing = test::FreePort(loop_);
    const std::uint16_t closed = test::FreePort(loop_);
    RelaySettings settings = MachineSettings(port, server.port());
    ServerEntry unreachable = settings.ServerList[0];
    unreachable.LocalPort = failing;
    unreachable.RemotePort = closed;
    settings.ServerList.push_back(unreachable);
    settings.LogTraffic = 1;
    SaveMachineSettings(settings);
    ASSERT_TRUE(control_.StartRelayService());
    ASSERT_TRUE(Run([&] { return Accepts(port) && Accepts(failing); }));

    const auto session = [&](std::uint16_t to) {
        LoopbackPeer client(loop_);
        EXPECT_TRUE(client.Connect(to));
        Run([&] { return client.closed || client.received.find('\n') != std::string::npos; });
        return client.received.substr(0, client.received.find('\r'));
    };
    const std::string traced = session(port);
    ASSERT_FALSE(traced.empty());
    EXPECT_TRUE(Run([&] { return LinesWith(log, "[Vantel] " + traced).size() == 1; }));
    session(failing);  // the second failure, after the probe's: held back with the first
    const std::string notice = "Error connecting to host: local port " + std::to_string(failing) +
                               ", server 127.0.0.1 port " + std::to_string(closed) +
                               "; 127.0.0.1:" + std::to_string(closed) + "; ";
    EXPECT_TRUE(Run([&] { return !LinesWith(log, notice).empty(); }));

    settings.LogTraffic = 0;
    SaveMachineSettings(settings);
    control_.NotifyServiceReload();
    EXPECT_TRUE(Run([&] { return !LinesWith(log, "reloading the settings").empty(); }));
    const std::string untraced = session(port);
    ASSERT_FALSE(untraced.empty());
    Run([] { return false; }, 500);
    EXPECT_TRUE(LinesWith(log, untraced).empty());
    EXPECT_EQ(LinesWith(log, notice).size(), 1u) << "repeats wait a minute";

    EXPECT_TRUE(control_.StopRelayService());
    EXPECT_TRUE(Run([&] { return !test::ServiceInstalled(); }));
    std::filesystem::remove(log, ignored);
}

TEST_F(ServiceControlTest, TheServiceRelaysAnOAuthEntryWithTheSignInOfTheTrayProgram) {
    // The tray program's sign-in, kept as it keeps one, in a folder of the test's own.
    test::TempDir dir;
    DpapiTokenStore tokens(dir.path() / "tokens");
    BCryptCrypto crypto;
    SystemWallClock clock;
    OAuthSignIn signIn;
    signIn.Provider = "microsoft";
    signIn.Account = "tester@example.test";
    signIn.ClientId = "vantel-test-client";
    std::string error;
    const auto provider = OAuthProvider::Resolve(signIn, OAuthDefaults::BuiltIn(), error);
    ASSERT_TRUE(provider.has_value()) << error;
    TokenResponse answer;
    answer.kind = TokenResponse::Kind::Success;
    answer.accessToken = "service-access-token";
    answer.refreshToken = "service-refresh-token";
    answer.expiresIn = 3600;
    ASSERT_TRUE(
        SignInFlow::Keep(tokens, crypto, clock, answer, *provider, signIn, "local-pw", error))
        << error;

    // A POP3 server that lets in only that token's XOAUTH2 login, with or without an initial
    // response.
    const std::string expected = Base64Encode(
                                     "user=tester@example.test\x01"
                                     "auth=Bearer service-access-token\x01\x01") +
                                 "\r\n";
    LoopbackServer server(loop_);
    server.onConnection = [&](LoopbackPeer& p) {
        p.Send("+OK ready\r\n");
        p.onData = [&](LoopbackPeer& peer) {
            const std::size_t end = peer.received.find("\r\n");
            if (end == std::string::npos) {
                return;
            }
            const std::string line = peer.received.substr(0, end + 2);
            peer.received.erase(0, end + 2);
            peer.Send(line == expected || line == "AUTH XOAUTH2 " + expected ? "+OK signed in\r\n"
                      : line == "AUTH XOAUTH2\r\n"                           ? "+ \r\n"
                      : line.rfind("CAPA", 0) == 0 ? "+OK\r\nSASL XOAUTH2\r\n.\r\n"
                                                   : "-ERR not that\r\n");
        };
    };
    const std::uint16_t port = test::FreePort(loop_);
    RelaySettings settings;
    ServerEntry entry;
    entry.Type = StoredServerType(ServerType::Pop3);
    entry.LocalPort = port;
    entry.RemotePort = server.port();
    entry.Name = "127.0.0.1";
    entry.SignIn = StoredSignInMethod(SignInMethod::OAuth2);
    entry.OAuth = signIn;
    settings.ServerList = {entry};
    // Written by the tray program at every save, so that the service finds the sign-ins.
    settings.TokenFolder = Narrow((dir.path() / "tokens").wstring());
    SaveMachineSettings(settings);
    ASSERT_TRUE(control_.StartRelayService());
    ASSERT_TRUE(Run([&] { return Accepts(port); }));

    LoopbackPeer client(loop_);
    ASSERT_TRUE(client.Connect(port));
    ASSERT_TRUE(Run([&] { return client.received == "+OK ready\r\n"; }));
    client.Send("USER tester@example.test\r\n");
    ASSERT_TRUE(Run([&] { return client.received.size() > 11 && client.received.back() == '\n'; }));
    client.received.clear();
    client.Send("PASS local-pw\r\n");
    ASSERT_TRUE(Run([&] { return client.received.find('\n') != std::string::npos; }))
        << client.received;
    EXPECT_EQ(client.received, "+OK signed in\r\n");

    EXPECT_TRUE(control_.StopRelayService());
    EXPECT_TRUE(Run([&] { return !test::ServiceInstalled(); }));
}

/// The program's settings under a key of the test's own, removed afterwards.
class OwnSettings {
  public:
    OwnSettings() : key_(test::UniqueProductKey()), store_(key_) {}
    ~OwnSettings() {
        RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, key_.c_str());
    }
    OwnSettings(const OwnSettings&) = delete;
    OwnSettings& operator=(const OwnSettings&) = delete;
    RegistryStore& store() { return store_; }

  private:
    std::string key_;
    RegistryStore store_;
};

class NoRelay : public RelayControl {
  public:
    void RestartListeners() override {}
    void OnRelayStateChanged() override {}
};

TEST_F(ServiceControlTest, SavesInstallTheServiceOnlyWhileItIsWantedUnderAQuotedPath) {
    OwnSettings own;
    SettingsPersistence persistence(own.store());
    RelaySettings settings;
    NoRelay relay;
    // Never started, so it need not exist; the blank is what the quotes are for.
    const std::string image = "C:\\Program Files\\Vantel\\vantel.srv";
    ServiceControl service(true, image, notifier_);
    SchemaManager schemas(settings, persistence, service, relay, notifier_, true);

    ASSERT_TRUE(schemas.SaveEverywhere());
    EXPECT_FALSE(test::ServiceInstalled()) << "UseService is off";

    settings.UseService = 1;
    schemas.SaveEverywhere();
    EXPECT_EQ(test::InstalledImagePath(), "\"" + image + "\"");
    schemas.SaveEverywhere();
    EXPECT_TRUE(test::ServiceInstalled()) << "a later save keeps it";
    EXPECT_FALSE(service.IsServiceRunning());
    EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(ServiceControlTest, TurningUseServiceOffInOptionsStopsAndRemovesTheService) {
    StoreMachineSettings(test::FreePort(loop_), 9);
    OwnSettings own;
    RelaySettings stored;
    stored.UseService = 1;
    SettingsPersistence(own.store()).SaveSettings(stored);
    test::FakeTraySink tray;
    int operationTimeout = 30;
    test::TempDir logDir;
    RollingLogFile log(logDir.path() / "vantel.log");
    MainDialogContext context;
    context.instance = GetModuleHandleA(nullptr);
    context.store = &own.store();
    context.loop = &loop_;
    context.tray = &tray;
    context.service = &control_;
    context.notifier = &notifier_;
    context.log = &log;
    context.isNT = true;
    context.operationTimeout = &operationTimeout;
    MainDialog dialog(context);
    dialog.LoadSettings(-1);
    ASSERT_NE(dialog.Create(), nullptr);
    ASSERT_TRUE(Run([&] { return control_.IsServiceRunning(); }));

    bool pressed = false;
    const TimerId watcher = loop_.StartTimer(20, true, [&] {
        HWND options = dialog.optionsWindow();
        if (options == nullptr || pressed) {
            return;
        }
        const int box = GeneralSettingsPage::kUseServiceCheck;
        CheckItem(test::PageWith(options, box, "Button"), box, false);
        PostMessageA(options, WM_COMMAND, IDOK, 0);
        pressed = true;
    });
    dialog.OnOptions();
    loop_.StopTimer(watcher);

    EXPECT_EQ(dialog.settings().UseService, 0);
    EXPECT_EQ(own.store().ReadValueText("Settings", "UseService", "", StoreRoot::CurrentUser), "0");
    EXPECT_TRUE(Run([&] { return !test::ServiceInstalled(); }));
    EXPECT_FALSE(control_.IsServiceRunning());
    EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(ServiceControlTest, StartFailureIsReported) {
    test::FakeNotifier notifier;
    ServiceControl broken(true, test::BuiltProgram("missing.srv"), notifier);
    EXPECT_FALSE(broken.StartRelayService());
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"Unable to start service"});
    EXPECT_FALSE(broken.IsServiceRunning());
    broken.StopRelayService();
    EXPECT_TRUE(Run([&] { return !test::ServiceInstalled(); }));
}

TEST_F(ServiceControlTest, WithoutServicesNothingTouchesTheSystem) {
    test::FakeNotifier notifier;
    ServiceControl none(false, test::BuiltProgram("vantel.srv"), notifier);
    EXPECT_EQ(none.OpenRelayService(true), nullptr);
    none.NotifyServiceReload();
    EXPECT_TRUE(none.StopRelayService());
    EXPECT_FALSE(none.IsServiceRunning());
    EXPECT_FALSE(test::ServiceInstalled());
    EXPECT_TRUE(notifier.messages.empty());
}

}  // namespace
}  // namespace vantel
