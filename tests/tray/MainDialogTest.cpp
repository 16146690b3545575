#include "tray/MainDialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>

#include "FaultyLoop.h"
#include "LoopRunner.h"
#include "LoopbackPeer.h"
#include "StoreFactory.h"
#include "StoredKludgeLists.h"
#include "TempDir.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Win32EventLoop.h"
#include "tray/TrayFakes.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/FakeDialogNotifier.h"
#include "tray/dialogs/GeneralSettingsPage.h"
#include "tray/dialogs/KludgesPage.h"
#include "tray/dialogs/ListPageDriver.h"
#include "tray/dialogs/ModalDriver.h"
#include "tray/dialogs/OptionsDialog.h"
#include "tray/dialogs/ServersPage.h"
#include "tray/dialogs/SetKludgeDialog.h"
#include "tray/dialogs/SpecialKludgeDialog.h"
#include "tray/dialogs/SpecialKludgesPage.h"
#include "tray/dialogs/WindowGeometry.h"
#include "tray/resource.h"

namespace vantel {
namespace {

using test::LoopbackPeer;
using test::LoopbackServer;

/// Relay failures as a message box takes them: the box stays open (running the loop, as its
/// own message loop would) until `closeWhen` holds or ten seconds pass.
class ModalBoxes : public test::FakeDialogNotifier {
  public:
    explicit ModalBoxes(EventLoop& loop) : loop_(loop) {}
    void ShowError(const Notice& notice) override {
        boxes.push_back(notice.Box());
        open = true;
        if (closeWhen) {
            test::RunUntil(loop_, closeWhen);
        }
        open = false;
    }
    std::vector<std::string> boxes;
    std::function<bool()> closeWhen;
    bool open = false;

  private:
    EventLoop& loop_;
};

class MainDialogTest : public ::testing::Test {
  protected:
    MainDialogTest()
        : productKey_(test::UniqueProductKey()), store_(productKey_), failing_(loop_) {}
    ~MainDialogTest() override {
        dialog_.reset();
        RegDeleteTreeA(HKEY_CURRENT_USER, productKey_.c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, productKey_.c_str());
    }

    /// Stores `settings` as the user's default schema, as a previous run would have left them.
    void Store(RelaySettings settings) {
        SettingsPersistence persistence(store_);
        persistence.SaveSettings(settings);
    }
    /// The main window on the stored settings, created as the program creates it.
    MainDialog& Start() {
        MainDialogContext context;
        context.instance = GetModuleHandleA(nullptr);
        context.store = &store_;
        context.loop = &failing_;
        context.tray = &tray_;
        context.service = &service_;
        context.notifier = &notifier_;
        context.log = &log_;
        context.isNT = isNT_;
        context.operationTimeout = &operationTimeout_;
        dialog_ = std::make_unique<MainDialog>(context);
        dialog_->LoadSettings(-1);
        EXPECT_NE(dialog_->Create(), nullptr);
        return *dialog_;
    }
    /// Started on settings with one SMTP entry from `port` to `remotePort` on this computer.
    MainDialog& StartWithSmtpEntry(std::uint16_t port, int remotePort) {
        RelaySettings settings;
        settings.DefaultPort = port;
        settings.ServerList = {Entry(ServerType::Smtp, port, remotePort, "127.0.0.1")};
        Store(settings);
        return Start();
    }
    void Command(UINT id) { SendMessageA(dialog_->window(), WM_COMMAND, id, 0); }
    void TrayMouse(UINT mouseMessage) {
        SendMessageA(dialog_->window(), WM_TRAY_NOTIFY, TRAY_ICON_ID, mouseMessage);
    }
    bool Run(const std::function<bool()>& done, std::uint32_t timeoutMs = 10000) {
        return test::RunUntil(loop_, done, timeoutMs);
    }
    /// The lines of the log file as they are now.
    std::vector<std::string> LogLines() {
        std::ifstream in(log_.path(), std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        std::vector<std::string> lines;
        for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
             start = end + 2) {
            lines.push_back(text.substr(start, end - start));
        }
        return lines;
    }
    std::size_t LogLinesWith(const std::string& text) {
        const std::vector<std::string> lines = LogLines();
        return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](auto& l) {
            return l.find(text) != std::string::npos;
        }));
    }
    std::string Stored(const char* name, StoreRoot root = StoreRoot::CurrentUser) {
        return store_.ReadValueText("Settings", name, "<absent>", root);
    }
    static ServerEntry Entry(ServerType type, int localPort, int remotePort, std::string name) {
        ServerEntry entry;
        entry.Type = StoredServerType(type);
        entry.LocalPort = localPort;
        entry.RemotePort = remotePort;
        entry.Name = std::move(name);
        return entry;
    }

    std::string productKey_;
    RegistryStore store_;
    Win32EventLoop loop_;
    test::FaultyLoop failing_;
    test::FakeTraySink tray_;
    test::FakeCompanionService service_;
    ModalBoxes notifier_{loop_};
    test::TempDir logDir_;
    RollingLogFile log_{logDir_.path() / "vantel.log"};
    bool isNT_ = true;
    int operationTimeout_ = 30;
    std::unique_ptr<MainDialog> dialog_;
};

TEST_F(MainDialogTest, TrayGoesEnabledBusyEnabledOverARelayedSession) {
    LoopbackServer server(loop_);
    server.onConnection = [](LoopbackPeer& p) {
        p.Send("220 ready\r\n");
        p.onEnd = [](LoopbackPeer& q) { q.Close(); };
    };
    const std::uint16_t port = test::FreePort(loop_);
    MainDialog& dialog = StartWithSmtpEntry(port, server.port());

    ASSERT_EQ(tray_.calls.size(), 1u);
    const auto& added = tray_.calls[0];
    EXPECT_EQ(added.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(added.callbackMessage, static_cast<UINT>(WM_TRAY_NOTIFY));
    EXPECT_EQ(added.tip, "Relay is enabled - 127.0.0.1 / none");
    EXPECT_FALSE(IsWindowVisible(dialog.window()));

    auto client = std::make_unique<LoopbackPeer>(loop_);
    ASSERT_TRUE(client->Connect(port));
    ASSERT_TRUE(Run([&] { return client->received == "220 ready\r\n"; }));
    EXPECT_EQ(tray_.LastTip(), "Relay is busy - 127.0.0.1 / none");
    client->Close();
    ASSERT_TRUE(Run([&] { return dialog.engine().SessionCount() == 0; }));

    const std::vector<HICON> expected = {dialog.enabledIcon(), dialog.busyIcon(),
                                         dialog.enabledIcon()};
    EXPECT_EQ(tray_.Icons(), expected);
    EXPECT_EQ(tray_.LastTip(), "Relay is enabled - 127.0.0.1 / none");
    for (std::size_t i = 1; i < tray_.calls.size(); ++i) {
        EXPECT_EQ(tray_.calls[i].message, static_cast<DWORD>(NIM_MODIFY));
    }
    EXPECT_NE(dialog.enabledIcon(), dialog.busyIcon());
    EXPECT_NE(dialog.enabledIcon(), dialog.disabledIcon());
}

TEST_F(MainDialogTest, FailedAcceptShowsBusyThenEnabledAgain) {
    const std::uint16_t port = test::FreePort(loop_);
    MainDialog& dialog = StartWithSmtpEntry(port, 9);
    failing_.failNextAccept = true;

    LoopbackPeer client(loop_);
    ASSERT_TRUE(client.Connect(port));
    ASSERT_TRUE(Run([&] { return !failing_.failNextAccept && tray_.Icons().size() == 3; }));
    const std::vector<HICON> expected = {dialog.enabledIcon(), dialog.busyIcon(),
                                         dialog.enabledIcon()};
    EXPECT_EQ(tray_.Icons(), expected);
    EXPECT_TRUE(dialog.engine().relayEnabled());
    EXPECT_FALSE(dialog.engine().relayBusy());
    EXPECT_EQ(dialog.engine().SessionCount(), 0u);
}

TEST_F(MainDialogTest, TooltipNamesTheDefaultServersAndIsCutAt63Characters) {
    const std::uint16_t smtpPort = test::FreePort(loop_);
    const std::uint16_t popPort = test::FreePort(loop_);
    RelaySettings settings;
    settings.DefaultPort = smtpPort;
    settings.DefaultPOPPort = popPort;
    settings.DefaultPOPServer = 1;
    settings.ServerList = {Entry(ServerType::Smtp, smtpPort, 25, "mail.example.org"),
                           Entry(ServerType::Pop3, popPort, 110, "pop.example.org")};
    Store(settings);
    MainDialog& dialog = Start();
    EXPECT_EQ(tray_.LastTip(), "Relay is enabled - mail.example.org / pop.example.org");

    // Disabled: no listener, so no default server to name.
    dialog.OnEnable();
    EXPECT_EQ(tray_.LastTip(), "Relay is disabled - none / none");
    EXPECT_EQ(tray_.Icons().back(), dialog.disabledIcon());
    EXPECT_TRUE(dialog.engine().Listeners().empty());
    dialog.OnEnable();
    EXPECT_EQ(tray_.Icons().back(), dialog.enabledIcon());

    dialog_.reset();
    tray_.calls.clear();
    settings.ServerList[0].Name = std::string(40, 's') + ".example.org";
    Store(settings);
    Start();
    const std::string full =
        "Relay is enabled - " + settings.ServerList[0].Name + " / " + settings.ServerList[1].Name;
    ASSERT_GT(full.size(), 63u);
    EXPECT_EQ(tray_.LastTip(), full.substr(0, 63));
}

TEST_F(MainDialogTest, UnchangedStateAddsNoTrayCall) {
    RelaySettings settings;
    Store(settings);
    MainDialog& dialog = Start();
    const std::size_t calls = tray_.calls.size();
    dialog.UpdateTrayIcon();
    dialog.UpdateTrayIcon();
    EXPECT_EQ(tray_.calls.size(), calls);
}

TEST_F(MainDialogTest, OneClickTogglesAfterTheDoubleClickTime) {
    Store(RelaySettings{});
    MainDialog& dialog = Start();
    const std::uint64_t clicked = loop_.NowMs();
    TrayMouse(WM_LBUTTONDOWN);
    EXPECT_TRUE(dialog.engine().relayEnabled()) << "acted before the double-click time";
    EXPECT_TRUE(dialog.clickPending());
    ASSERT_TRUE(Run([&] { return !dialog.engine().relayEnabled(); }, 5000));
    EXPECT_GE(loop_.NowMs() - clicked + 20, GetDoubleClickTime());
    EXPECT_FALSE(dialog.clickPending());

    // A second click while the first is pending makes the first act at once.
    TrayMouse(WM_LBUTTONDOWN);
    TrayMouse(WM_LBUTTONDOWN);
    EXPECT_TRUE(dialog.engine().relayEnabled());
    EXPECT_TRUE(dialog.clickPending());
    ASSERT_TRUE(Run([&] { return !dialog.engine().relayEnabled(); }, 5000));
    EXPECT_FALSE(dialog.clickPending());

    // Other mouse messages do nothing.
    TrayMouse(WM_MOUSEMOVE);
    TrayMouse(WM_LBUTTONUP);
    EXPECT_FALSE(dialog.clickPending());
    EXPECT_FALSE(dialog.engine().relayEnabled());
}

TEST_F(MainDialogTest, DoubleClickOpensOptionsOnceAndDoesNotToggle) {
    Store(RelaySettings{});
    MainDialog& dialog = Start();
    HWND seen = nullptr;
    bool visibleOwner = false;
    bool secondOpened = false;
    const TimerId watcher = loop_.StartTimer(20, true, [&] {
        HWND options = dialog.optionsWindow();
        if (options == nullptr || seen != nullptr) {
            return;
        }
        seen = options;
        visibleOwner = IsWindowVisible(dialog.window()) != FALSE;
        // Another double click brings the open dialog forward instead of opening one more.
        TrayMouse(WM_LBUTTONDOWN);
        TrayMouse(WM_LBUTTONDBLCLK);
        secondOpened = dialog.optionsWindow() != options;
        PostMessageA(options, WM_COMMAND, IDCANCEL, 0);
    });
    TrayMouse(WM_LBUTTONDOWN);
    TrayMouse(WM_LBUTTONDBLCLK);  // returns when the Options dialog has ended
    loop_.StopTimer(watcher);

    ASSERT_NE(seen, nullptr);
    EXPECT_TRUE(visibleOwner);
    EXPECT_FALSE(secondOpened);
    EXPECT_EQ(dialog.optionsWindow(), nullptr);
    EXPECT_FALSE(IsWindowVisible(dialog.window()));
    EXPECT_FALSE(dialog.clickPending());
    // Wait past the double-click time: the dropped single click must not act late.
    Run([] { return false; }, GetDoubleClickTime() + 200);
    EXPECT_TRUE(dialog.engine().relayEnabled());
}

TEST_F(MainDialogTest, BusyRelayRefusesMenuAndOptionsAndAsksBeforeInterrupting) {
    LoopbackServer server(loop_);
    const std::uint16_t port = test::FreePort(loop_);
    MainDialog& dialog = StartWithSmtpEntry(port, server.port());
    LoopbackPeer client(loop_);
    ASSERT_TRUE(client.Connect(port));
    ASSERT_TRUE(Run([&] { return dialog.engine().relayBusy(); }));

    dialog.ShowTrayMenu(10, 10);  // would block in the menu loop if it opened
    dialog.OnOptions();           // would block in the dialog if it opened
    EXPECT_EQ(dialog.optionsWindow(), nullptr);

    notifier_.answer = false;
    dialog.OnEnable();
    ASSERT_EQ(notifier_.questions.size(), 1u);
    EXPECT_EQ(notifier_.questions[0],
              "Program is busy processing request.\nDo you want to interrupt it?");
    EXPECT_TRUE(dialog.engine().relayBusy());

    notifier_.answer = true;
    dialog.OnEnable();
    EXPECT_FALSE(dialog.engine().relayBusy());
    EXPECT_TRUE(dialog.engine().relayEnabled());
    EXPECT_EQ(dialog.engine().SessionCount(), 0u);
    EXPECT_EQ(tray_.Icons().back(), dialog.enabledIcon());
    EXPECT_FALSE(dialog.engine().Listeners().empty()) << "interrupting keeps the ports open";
}

TEST_F(MainDialogTest, RunningServiceKeepsTheProgramFromListening) {
    const std::uint16_t port = test::FreePort(loop_);
    RelaySettings settings;
    settings.DefaultPort = port;
    settings.UseService = 1;
    settings.ServerList = {Entry(ServerType::Smtp, port, 25, "127.0.0.1")};
    Store(settings);
    MainDialog& dialog = Start();
    EXPECT_EQ(service_.starts, 1) << "UseService starts the missing service";
    EXPECT_TRUE(dialog.engine().Listeners().empty());
    EXPECT_FALSE(dialog.engine().relayEnabled());
    EXPECT_EQ(tray_.LastTip(), "Relay is disabled - none / none");

    dialog.OnEnable();
    ASSERT_EQ(notifier_.messages.size(), 1u);
    EXPECT_EQ(notifier_.messages[0], "Service is active. Unable to listen.");
    EXPECT_TRUE(dialog.engine().Listeners().empty());

    // Settings changes go to the service; the program's ports stay closed.
    Command(ID_POP_CYCLIC);
    EXPECT_GE(service_.reloads, 1);
    Command(ID_SCHEMA_FIRST);
    EXPECT_TRUE(dialog.engine().Listeners().empty());

    Command(ID_SERVICE_STOP);
    EXPECT_EQ(service_.stops, 1);
    EXPECT_TRUE(dialog.engine().Listeners().empty()) << "Stop does not start the relay";
    dialog.OnEnable();
    EXPECT_EQ(dialog.engine().Listeners().size(), 1u);
}

TEST_F(MainDialogTest, FailedServiceStartLeavesTheProgramRelaying) {
    const std::uint16_t port = test::FreePort(loop_);
    RelaySettings settings;
    settings.DefaultPort = port;
    settings.UseService = 1;
    settings.ServerList = {Entry(ServerType::Smtp, port, 25, "127.0.0.1")};
    Store(settings);
    service_.startSucceeds = false;
    MainDialog& dialog = Start();
    EXPECT_EQ(service_.starts, 1);
    EXPECT_EQ(dialog.engine().Listeners().size(), 1u);
    EXPECT_TRUE(dialog.engine().relayEnabled());
}

TEST_F(MainDialogTest, WithoutUseServiceStartUpRemovesTheService) {
    Store(RelaySettings{});
    service_.running = true;
    MainDialog& dialog = Start();
    EXPECT_EQ(service_.stops, 1);
    EXPECT_TRUE(dialog.engine().relayEnabled());
}

TEST_F(MainDialogTest, Windows95FamilyNeverAsksTheService) {
    isNT_ = false;
    RelaySettings settings;
    settings.UseService = 1;
    Store(settings);
    service_.running = true;  // would refuse Enable if it were asked
    MainDialog& dialog = Start();
    EXPECT_EQ(service_.starts + service_.stops, 0);
    EXPECT_TRUE(dialog.engine().relayEnabled());
    dialog.OnEnable();
    EXPECT_TRUE(notifier_.messages.empty());
    EXPECT_FALSE(dialog.engine().relayEnabled());
    Command(ID_POP_CYCLIC);
    EXPECT_EQ(service_.reloads, 0);
    EXPECT_EQ(Stored("POPCycleChange", StoreRoot::LocalMachine), "<absent>");
    EXPECT_EQ(Stored("POPCycleChange"), "1");
}

TEST_F(MainDialogTest, MenuCommandsChangeSettingsAndSaveThemEverywhere) {
    const std::uint16_t smtpPort = test::FreePort(loop_);
    const std::uint16_t popPort = test::FreePort(loop_);
    RelaySettings settings;
    settings.DefaultPort = smtpPort;
    settings.DefaultPOPPort = popPort;
    settings.DefaultPOPServer = 1;
    settings.ServerList = {Entry(ServerType::Smtp, smtpPort, 25, "first.example.org"),
                           Entry(ServerType::Smtp, smtpPort, 25, "second.example.org"),
                           Entry(ServerType::Pop3, popPort, 110, "pop1.example.org"),
                           Entry(ServerType::Pop3, popPort, 110, "pop2.example.org")};
    Store(settings);
    MainDialog& dialog = Start();

    Command(ID_SMTP_FIRST + 1);
    EXPECT_EQ(dialog.settings().DefaultServer, 1);
    EXPECT_EQ(dialog.engine().FindDefaultListener(ServerType::Smtp), 1);
    EXPECT_EQ(Stored("DefaultServer"), "1");
    EXPECT_EQ(Stored("DefaultServer", StoreRoot::LocalMachine), "1");
    EXPECT_EQ(tray_.LastTip(), "Relay is enabled - second.example.org / pop1.example.org");

    Command(ID_POP_FIRST + 2);
    EXPECT_EQ(dialog.settings().DefaultPOPServer, 2);
    EXPECT_EQ(dialog.engine().FindDefaultListener(ServerType::Pop3), 3);
    EXPECT_EQ(Stored("DefaultPOPServer"), "2");
    EXPECT_EQ(tray_.LastTip(), "Relay is enabled - second.example.org / pop2.example.org");

    Command(ID_POP_CYCLIC);
    EXPECT_EQ(dialog.settings().POPCycleChange, 1);
    EXPECT_EQ(Stored("POPCycleChange"), "1");
    Command(ID_POP_CYCLIC);
    EXPECT_EQ(Stored("POPCycleChange"), "0");
    EXPECT_EQ(service_.reloads, 0) << "saves leave a service nobody wants alone";

    // Ids past the end of a range are not commands of that range.
    Command(ID_SMTP_LAST + 1);
    Command(ID_POP_LAST + 1);
    EXPECT_EQ(dialog.settings().DefaultServer, 1);
    EXPECT_EQ(dialog.settings().DefaultPOPServer, 2);

    // Service commands run only where their menu item would be enabled.
    Command(ID_SERVICE_STOP);
    EXPECT_EQ(service_.stops, 1) << "the start-up removal only";
    Command(ID_SERVICE_START);
    EXPECT_EQ(service_.starts, 1);
    Command(ID_SERVICE_START);
    EXPECT_EQ(service_.starts, 1);
}

TEST_F(MainDialogTest, SchemaSwitchRestartsAnEnabledRelayAndLeavesADisabledOneClosed) {
    const std::uint16_t homePort = test::FreePort(loop_);
    const std::uint16_t workPort = test::FreePort(loop_);
    RelaySettings settings;
    settings.DefaultPort = homePort;
    settings.ServerList = {Entry(ServerType::Smtp, homePort, 25, "home.example.org")};
    settings.Schemes = {"work"};
    // The stored schema "work" relays another port; the default schema is current.
    RelaySettings work = settings;
    work.DefaultPort = workPort;
    work.DefaultSchema = 1;
    work.ServerList = {Entry(ServerType::Smtp, workPort, 25, "work.example.org")};
    Store(work);
    Store(settings);
    MainDialog& dialog = Start();
    ASSERT_EQ(dialog.engine().Listeners().size(), 1u);
    EXPECT_EQ(dialog.engine().Listeners()[0]->port, homePort);

    Command(ID_SCHEMA_FIRST + 1);
    EXPECT_EQ(dialog.settings().DefaultSchema, 1);
    EXPECT_EQ(dialog.persistence().CurrentSchemaName(), "work");
    ASSERT_EQ(dialog.engine().Listeners().size(), 1u);
    EXPECT_EQ(dialog.engine().Listeners()[0]->port, workPort);
    EXPECT_EQ(tray_.LastTip(), "Relay is enabled - work.example.org / none");

    dialog.OnEnable();
    const std::size_t calls = tray_.calls.size();
    Command(ID_SCHEMA_FIRST);
    EXPECT_EQ(dialog.settings().DefaultPort, homePort);
    EXPECT_TRUE(dialog.engine().Listeners().empty()) << "a disabled relay stays closed";
    EXPECT_FALSE(dialog.engine().relayEnabled());
    EXPECT_EQ(tray_.calls.size(), calls) << "the tray still shows the same state";

    dialog.OnEnable();
    ASSERT_EQ(dialog.engine().Listeners().size(), 1u);
    EXPECT_EQ(dialog.engine().Listeners()[0]->port, homePort);
}

TEST_F(MainDialogTest, OptionsOkSavesAndRestartsOnlyAnEnabledRelay) {
    const std::uint16_t port = test::FreePort(loop_);
    MainDialog& dialog = StartWithSmtpEntry(port, 25);
    const auto pressOk = [&] {
        const TimerId watcher = loop_.StartTimer(20, true, [&] {
            if (HWND options = dialog.optionsWindow()) {
                PostMessageA(options, WM_COMMAND, IDOK, 0);
            }
        });
        dialog.OnOptions();
        loop_.StopTimer(watcher);
    };
    // Changed behind the dialog's back, as the Servers page edits the live list.
    const std::uint16_t newPort = test::FreePort(loop_);
    dialog.settings().ServerList[0].LocalPort = newPort;
    dialog.settings().DefaultPort = newPort;
    pressOk();
    ASSERT_EQ(dialog.engine().Listeners().size(), 1u);
    EXPECT_EQ(dialog.engine().Listeners()[0]->port, newPort);
    EXPECT_EQ(Stored("DefaultPort"), std::to_string(newPort));

    dialog.OnEnable();
    pressOk();
    EXPECT_TRUE(dialog.engine().Listeners().empty());
    EXPECT_FALSE(dialog.engine().relayEnabled());
}

TEST_F(MainDialogTest, RestartWhileASessionRunsKeepsTheStateTrueAndOpensNoPortTwice) {
    LoopbackServer server(loop_);
    server.onConnection = [](LoopbackPeer& p) {
        p.Send("220 ready\r\n");
        p.onEnd = [](LoopbackPeer& q) { q.Close(); };
    };
    const std::uint16_t port = test::FreePort(loop_);
    MainDialog& dialog = StartWithSmtpEntry(port, server.port());
    // A client connects while Options is open; OK then restarts the listeners under it.
    std::unique_ptr<LoopbackPeer> client;
    const TimerId watcher = loop_.StartTimer(20, true, [&] {
        HWND options = dialog.optionsWindow();
        if (options == nullptr) {
            return;
        }
        if (!client) {
            client = std::make_unique<LoopbackPeer>(loop_);
            client->Connect(port);
        } else if (client->received == "220 ready\r\n") {
            PostMessageA(options, WM_COMMAND, IDOK, 0);
        }
    });
    dialog.OnOptions();
    loop_.StopTimer(watcher);
    ASSERT_TRUE(client && client->received == "220 ready\r\n");
    EXPECT_TRUE(dialog.engine().relayBusy());
    EXPECT_EQ(tray_.LastTip(), "Relay is busy - 127.0.0.1 / none");
    EXPECT_EQ(dialog.engine().Listeners().size(), 1u);

    client->Close();
    ASSERT_TRUE(Run([&] { return dialog.engine().SessionCount() == 0; }));
    EXPECT_TRUE(dialog.engine().relayEnabled());
    EXPECT_EQ(tray_.LastTip(), "Relay is enabled - 127.0.0.1 / none");
    dialog.OnEnable();
    EXPECT_TRUE(dialog.engine().Listeners().empty());
    dialog.OnEnable();
    EXPECT_EQ(dialog.engine().Listeners().size(), 1u);
    Run([] { return false; }, 100);  // notices come from the loop
    EXPECT_TRUE(notifier_.messages.empty()) << notifier_.messages.front();
}

TEST_F(MainDialogTest, AboutOpensFromTheMenuAndTheSystemMenu) {
    Store(RelaySettings{});
    MainDialog& dialog = Start();
    int opened = 0;
    const TimerId watcher = loop_.StartTimer(20, true, [&] {
        if (HWND about = FindWindowA(nullptr, "About Vantel")) {
            ++opened;
            PostMessageA(about, WM_COMMAND, IDOK, 0);
        }
    });
    Command(IDM_ABOUTBOX);
    SendMessageA(dialog.window(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    loop_.StopTimer(watcher);
    EXPECT_EQ(opened, 2);
    // String 101 is not defined, so the system menu gains no About item.
    EXPECT_EQ(GetMenuState(GetSystemMenu(dialog.window(), FALSE), IDM_ABOUTBOX, MF_BYCOMMAND),
              static_cast<UINT>(-1));
}

using test::PageWith;

TEST_F(MainDialogTest, OptionsHandsTheValuesToThePagesAndTakesThemBackOnOk) {
    const std::uint16_t port = test::FreePort(loop_);
    MainDialog& dialog = StartWithSmtpEntry(port, 25);
    dialog.settings().ConnectTimeout = 17;
    const std::uint16_t newPort = test::FreePort(loop_);
    std::string shownTimeout;
    const TimerId watcher = loop_.StartTimer(20, true, [&] {
        HWND options = dialog.optionsWindow();
        if (options == nullptr || !shownTimeout.empty()) {
            return;
        }
        HWND general = PageWith(options, GeneralSettingsPage::kConnectTimeoutEdit, "Edit");
        ASSERT_NE(general, nullptr);
        char text[32] = {};
        GetDlgItemTextA(general, GeneralSettingsPage::kConnectTimeoutEdit, text, sizeof text);
        shownTimeout = text;
        SetDlgItemInt(general, GeneralSettingsPage::kSmtpPortEdit, newPort, FALSE);
        CheckDlgButton(general, GeneralSettingsPage::kAcceptRemoteCheck, BST_CHECKED);
        PostMessageA(options, WM_COMMAND, IDOK, 0);
    });
    dialog.OnOptions();
    loop_.StopTimer(watcher);

    EXPECT_EQ(shownTimeout, "17");
    EXPECT_EQ(dialog.settings().DefaultPort, newPort);
    EXPECT_EQ(dialog.settings().ListenAddress, "*");
    EXPECT_EQ(Stored("DefaultPort"), std::to_string(newPort));
    EXPECT_EQ(operationTimeout_, 30);
    EXPECT_FALSE(IsWindowVisible(dialog.window()));
}

TEST_F(MainDialogTest, NegativeStoredConnectTimeoutIsNoLimitOnThePageAndInTheStore) {
    RelaySettings settings;
    settings.ConnectTimeout = -7;  // as a hand-edited store may hold it
    Store(settings);
    MainDialog& dialog = Start();
    EXPECT_EQ(dialog.settings().ConnectTimeout, 0) << "what the relay goes by";
    std::string shown;
    const TimerId watcher = loop_.StartTimer(20, true, [&] {
        HWND options = dialog.optionsWindow();
        if (options == nullptr || !shown.empty()) {
            return;
        }
        const int edit = GeneralSettingsPage::kConnectTimeoutEdit;
        shown = GetItemText(PageWith(options, edit, "Edit"), edit);
        PostMessageA(options, WM_COMMAND, IDOK, 0);
    });
    dialog.OnOptions();
    loop_.StopTimer(watcher);
    EXPECT_EQ(shown, "0");
    EXPECT_EQ(Stored("ConnectTimeout"), "0");
}

TEST_F(MainDialogTest, OptionsCancelStillFollowsServerListEdits) {
    const std::uint16_t port = test::FreePort(loop_);
    MainDialog& dialog = StartWithSmtpEntry(port, 25);
    const std::uint16_t newPort = test::FreePort(loop_);
    const TimerId watcher = loop_.StartTimer(20, true, [&] {
        if (HWND options = dialog.optionsWindow()) {
            // What the Servers page does: it edits the live list at once.
            dialog.settings().ServerList[0].LocalPort = newPort;
            dialog.settings().DefaultPort = newPort;
            PostMessageA(options, WM_COMMAND, IDCANCEL, 0);
        }
    });
    dialog.OnOptions();
    loop_.StopTimer(watcher);
    ASSERT_EQ(dialog.engine().Listeners().size(), 1u);
    EXPECT_EQ(dialog.engine().Listeners()[0]->port, newPort);
    EXPECT_NE(Stored("DefaultPort"), std::to_string(newPort)) << "Cancel saves nothing";
}

TEST_F(MainDialogTest, OptionsCancelDropsKludgeEditsButKeepsSpecialKludges) {
    RelaySettings settings;
    settings.Kludges = PairKludges({"0 X-Mailer:"}, {"0 Vantel"});
    Store(settings);
    MainDialog& dialog = Start();
    test::ScriptedEditors editors;
    editors.acts = {
        [&](HWND options) {  // the Options dialog: one edit on each kludge page, then Cancel
            test::NotifyList(PageWith(options, KludgesPage::kList, "SysListView32"),
                             KludgesPage::kList, NM_RCLICK);
            test::NotifyList(PageWith(options, SpecialKludgesPage::kList, "SysListView32"),
                             SpecialKludgesPage::kList, NM_RCLICK);
            test::Click(options, IDCANCEL);
        },
        [](HWND editor) {
            SetItemText(editor, SetKludgeDialog::kKludgeEdit, "Organization");
            test::ClickOkToClose(editor);
        },
        [](HWND editor) {
            SetItemText(editor, SpecialKludgeDialog::kSignalEdit, "Ticket:");
            SetItemText(editor, SpecialKludgeDialog::kNameEdit, "X-Ticket:");
            test::ClickOkToClose(editor);
        },
    };
    dialog.SetModalRunner(std::ref(editors));
    dialog.OnOptions();
    EXPECT_EQ(editors.ran, 3);
    EXPECT_EQ(test::KludgeEntries(dialog.settings()), StringList{"0 X-Mailer:"});
    EXPECT_EQ(test::SignalStrings(dialog.settings()), StringList{"Ticket:"});
    EXPECT_EQ(test::SpecialDefinitions(dialog.settings()), StringList{"# X-Ticket:"});
}

TEST_F(MainDialogTest, AboutAndOptionsOpenInTheMiddleOfTheScreenAndEditorsOverOptions) {
    Store(RelaySettings{});
    MainDialog& dialog = Start();
    RECT screen{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &screen, 0);

    RECT about{};
    const TimerId watcher = loop_.StartTimer(20, true, [&] {
        if (HWND box = FindWindowA(nullptr, "About Vantel")) {
            about = test::WindowRect(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    });
    Command(IDM_ABOUTBOX);  // before the Options dialog has ever been open
    loop_.StopTimer(watcher);
    EXPECT_TRUE(test::CentredOn(about, screen));

    RECT options{};
    std::vector<RECT> editors;
    const auto measure = [&](HWND editor) {
        editors.push_back(test::WindowRect(editor));
        SendMessageA(editor, WM_COMMAND, IDCANCEL, 0);  // the Schemes dialog has no such button
    };
    test::ScriptedEditors runner;
    runner.overOwner = true;
    runner.acts = {
        [&](HWND window) {
            options = test::WindowRect(window);
            for (int list :
                 {ServersPage::kServerListView, KludgesPage::kList, SpecialKludgesPage::kList}) {
                test::NotifyList(PageWith(window, list, "SysListView32"), list, NM_RCLICK);
            }
            test::Click(window, OptionsDialog::kSchemesButton);
            test::Click(window, IDCANCEL);
        },
        measure, measure, measure, measure};
    dialog.SetModalRunner(std::ref(runner));
    dialog.OnOptions();
    EXPECT_EQ(runner.ran, 5);
    EXPECT_TRUE(test::CentredOn(options, screen));
    ASSERT_EQ(editors.size(), 4u);
    for (const RECT& editor : editors) {
        EXPECT_TRUE(test::CentredOn(editor, options));
    }
}

TEST_F(MainDialogTest, ABurstOfFailuresIsOneBoxAndOneLogLineTheNextBoxCountsTheRest) {
    const std::uint16_t port = test::FreePort(loop_);
    const std::uint16_t closed = test::FreePort(loop_);
    StartWithSmtpEntry(port, closed);
    std::vector<std::unique_ptr<LoopbackPeer>> clients;
    const auto connect = [&] {
        clients.push_back(std::make_unique<LoopbackPeer>(loop_));
        EXPECT_TRUE(clients.back()->Connect(port));
    };
    // The box stays open until the relay has let every client go and the notices it posted
    // before have come through.
    bool marked = false;
    bool drained = false;
    notifier_.closeWhen = [&] {
        if (clients.size() == 20 && !marked &&
            std::all_of(clients.begin(), clients.end(), [](auto& c) { return c->closed; })) {
            marked = true;
            loop_.Post([&] { drained = true; });
        }
        return drained;
    };
    for (int i = 0; i < 20; ++i) {
        connect();
    }
    ASSERT_TRUE(Run([&] { return !notifier_.boxes.empty() && !notifier_.open; }));
    ASSERT_EQ(notifier_.boxes.size(), 1u);
    const std::string entry =
        "local port " + std::to_string(port) + ", server 127.0.0.1 port " + std::to_string(closed);
    const std::string host = "127.0.0.1:" + std::to_string(closed);
    EXPECT_EQ(
        notifier_.boxes[0].rfind(
            "Error connecting to host\n\nEntry: " + entry + "\nHost: " + host + "\nReason: ", 0),
        0u)
        << notifier_.boxes[0];
    // The log has it once, on one line after the time.
    ASSERT_EQ(LogLines().size(), 1u);
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d Error connecting to host: )" +
                             entry + "; " + host + "; [a-z].*");
    EXPECT_TRUE(std::regex_match(LogLines()[0], stamped)) << LogLines()[0];

    // The next failure after the box closed opens one that counts the rest; the log holds
    // them for a minute.
    notifier_.closeWhen = nullptr;
    connect();
    ASSERT_TRUE(Run([&] { return notifier_.boxes.size() == 2; }));
    const std::string& next = notifier_.boxes[1];
    EXPECT_EQ(next.substr(next.rfind('\n') + 1), "(repeated 19 times)");
    EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(MainDialogTest, LogTrafficSendsTheTraceToTheLogAfterLoadOptionsAndSchemaSwitch) {
    LoopbackServer server(loop_);
    int greetings = 0;
    server.onConnection = [&](LoopbackPeer& p) {
        p.Send("220 greeting " + std::to_string(++greetings) + "\r\n");
        p.onEnd = [](LoopbackPeer& q) { q.Close(); };
    };
    const std::uint16_t port = test::FreePort(loop_);
    RelaySettings settings;
    settings.DefaultPort = port;
    settings.ServerList = {Entry(ServerType::Smtp, port, server.port(), "127.0.0.1")};
    settings.LogTraffic = 1;
    settings.Schemes = {"logged"};
    RelaySettings logged = settings;  // the stored schema "logged" has it too
    logged.DefaultSchema = 1;
    Store(logged);
    Store(settings);
    MainDialog& dialog = Start();
    const auto session = [&] {
        LoopbackPeer client(loop_);
        EXPECT_TRUE(client.Connect(port));
        const std::string greeting = "220 greeting " + std::to_string(greetings + 1) + "\r\n";
        EXPECT_TRUE(Run([&] { return client.received == greeting; }));
        client.Close();
        EXPECT_TRUE(Run([&] { return dialog.engine().SessionCount() == 0; }));
        return greeting.substr(0, greeting.size() - 2);
    };
    const std::string first = session();
    EXPECT_EQ(LogLinesWith("[Vantel] " + first), 1u);

    // Options shows the box checked; cleared and OK, the trace stays out of the log.
    bool shownChecked = false;
    bool pressed = false;
    const TimerId watcher = loop_.StartTimer(20, true, [&] {
        HWND options = dialog.optionsWindow();
        if (options == nullptr || pressed) {
            return;
        }
        const int box = GeneralSettingsPage::kLogTrafficCheck;
        HWND general = test::PageWith(options, box, "Button");
        shownChecked = IsItemChecked(general, box);
        test::Click(general, box);
        PostMessageA(options, WM_COMMAND, IDOK, 0);
        pressed = true;
    });
    dialog.OnOptions();
    loop_.StopTimer(watcher);
    EXPECT_TRUE(shownChecked);
    EXPECT_EQ(dialog.settings().LogTraffic, 0);
    EXPECT_EQ(Stored("LogTraffic"), "0");
    const std::string second = session();
    EXPECT_EQ(LogLinesWith(second), 0u);

    // The schema that logs traffic brings it back.
    Command(ID_SCHEMA_FIRST + 1);
    EXPECT_EQ(dialog.settings().LogTraffic, 1);
    const std::string third = session();
    EXPECT_EQ(LogLinesWith("[Vantel] " + third), 1u);
    EXPECT_TRUE(notifier_.messages.empty()) << notifier_.messages.front();
}

TEST_F(MainDialogTest, ExitRemovesTheIconAndEndsTheWindow) {
    Store(RelaySettings{});
    MainDialog& dialog = Start();
    HWND window = dialog.window();
    EXPECT_EQ(FindWindowA(nullptr, "Vantel"), window);
    Command(ID_TRAY_EXIT);
    ASSERT_FALSE(tray_.calls.empty());
    EXPECT_EQ(tray_.calls.back().message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(tray_.calls.back().id, static_cast<UINT>(TRAY_ICON_ID));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(dialog.window(), nullptr);
}

}  // namespace
}  // namespace vantel
