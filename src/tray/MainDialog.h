// The program's hidden main window: owns the settings and the relay, puts the icon into the
// notification area and turns its clicks and menu commands into relay and settings changes.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "core/app/CompanionService.h"
#include "core/app/RelayControl.h"
#include "core/app/SchemaManager.h"
#include "core/config/RelaySettings.h"
#include "core/config/SettingsPersistence.h"
#include "core/relay/RelayEngine.h"
#include "core/relay/RelayHost.h"
#include "core/relay/RelayStateObserver.h"
#include "platform/EventLoop.h"
#include "platform/RollingLogFile.h"
#include "platform/SettingsStore.h"
#include "platform/TraceSink.h"
#include "tray/TrayNotices.h"
#include "tray/TraySignIn.h"
#include "tray/TraySink.h"
#include "tray/dialogs/Dialog.h"
#include "tray/dialogs/DialogContext.h"
#include "tray/dialogs/DialogNotifier.h"
#include "tray/dialogs/LinkLauncher.h"

namespace vantel {

/// What the main window works with; everything is owned by the caller and outlives it.
struct MainDialogContext {
    HINSTANCE instance = nullptr;
    SettingsStore* store = nullptr;
    EventLoop* loop = nullptr;
    TraySink* tray = nullptr;
    CompanionService* service = nullptr;
    DialogNotifier* notifier = nullptr;
    TraceSink* trace = nullptr;  ///< may be null
    /// The user's log: the relay's notices, and its traffic while the settings say so.
    RollingLogFile* log = nullptr;
    bool isNT = false;
    /// Send and receive time-out of relayed sockets; edited in the Options dialog, never
    /// stored.
    int* operationTimeout = nullptr;
    /// What OAuth 2.0 sign-ins need; null: the relay refuses OAuth 2.0 entries, and the
    /// dialogs cannot sign in.
    SignInKit* signIn = nullptr;
};

class OptionsDialog;

class MainDialog : public Dialog, private RelayControl {
  public:
    explicit MainDialog(const MainDialogContext& context);
    ~MainDialog() override;
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;

    /// Loads the settings of schema `schemaIndex` (-1: the stored current one).
    void LoadSettings(int schemaIndex);
    /// Runs the window as a modal dialog until Exit; this is the program's message loop.
    void Run() { RunModal(nullptr); }
    /// Creates the window without a loop of its own (the tests drive it with messages).
    HWND Create() { return CreateModeless(nullptr); }
    /// Saves to the machine copy (NT family) and the user's copy, and tells the service.
    bool SaveEverywhere();

    /// Refreshes icon and tooltip when the relay state or a default server changed.
    void UpdateTrayIcon();
    void OnRelayStateChanged() override {
        // A schema switch ends here, whether or not the relay was restarted for it.
        ApplyLogTraffic();
        if (!exiting_) {
            UpdateTrayIcon();  // after Exit the icon stays gone while the sessions finish
        }
    }
    /// One notification-area call for icon 345; `icon` and `tip` may be null (unchanged).
    void SetTrayIcon(DWORD action, HICON icon, const char* tip);

    /// How the dialogs run modally (the tests drive them through this).
    void SetModalRunner(ModalRunner runner) { dialogs_.runModal = std::move(runner); }

    void OnEnable();
    void OnOptions();
    void ShowTrayMenu(int x, int y);
    /// The tray menu's "Sign in to ACCOUNT...": signs in the account of entry `index`.
    void SignInEntry(std::size_t index);

    RelaySettings& settings() { return settings_; }
    RelayEngine& engine() { return engine_; }
    RelayHost& host() { return host_; }
    SettingsPersistence& persistence() { return persistence_; }
    /// The Options dialog while it is open.
    HWND optionsWindow() const;
    /// The popup menu while it is tracked.
    HMENU activePopup() const { return activePopup_; }
    bool clickPending() const { return clickTimer_ != 0; }

    /// Icons of the three relay states, as the tray shows them.
    HICON enabledIcon() const { return enabledIcon_; }
    HICON disabledIcon() const { return disabledIcon_; }
    HICON busyIcon() const { return busyIcon_; }

  private:
    /// After OK: the parts of the Options dialog's draft its pages edit become the settings.
    void TakeOptions(const RelaySettings& draft);
    bool OnInitDialog() override;
    bool OnCommand(UINT id, UINT code, HWND control) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnTrayNotify(LPARAM mouseMessage);
    void OnTimer(UINT_PTR id);
    void RunCommand(UINT id);
    void OnExit();
    void OnAbout();
    void ChooseDefaultServer(int ordinal, ServerType type);
    void StartService();
    void StopService();
    bool ServiceRunning();
    /// RelayControl: after Options OK or a schema switch. A disabled relay stays closed.
    void RestartListeners() override;
    /// The trace goes into the log while the live settings have LogTraffic.
    void ApplyLogTraffic() { notices_.SetLogTraffic(settings_.LogTraffic != 0); }

    MainDialogContext context_;
    TrayNotices notices_;
    RelayHost host_;
    RelaySettings& settings_ = host_.settings();
    RelayEngine& engine_ = host_.engine();
    SettingsPersistence persistence_;
    SchemaManager schemas_;
    std::unique_ptr<TraySignIn> signIn_;
    /// The entries of the menu's sign-in items while it is shown.
    std::vector<std::size_t> signInEntries_;

    HICON enabledIcon_ = nullptr;
    HICON disabledIcon_ = nullptr;
    HICON busyIcon_ = nullptr;
    HICON largeIcon_ = nullptr;
    bool showAllowed_ = false;
    UINT_PTR clickTimer_ = 0;
    HMENU activePopup_ = nullptr;
    DialogContext dialogs_;
    LinkLauncher launcher_;
    /// The Options dialog while it runs.
    Dialog* options_ = nullptr;
    bool optionsOpen_ = false;
    /// What the tray shows now: relayEnabled (-1 before the icon is added) and the default
    /// SMTP and POP3 entries (-2 before the first update).
    int shownEnabled_ = -1;
    int shownSmtp_ = -2;
    int shownPop_ = -2;
    std::string shownSmtpName_;
    std::string shownPopName_;
    UINT taskbarCreated_ = 0;
    bool exiting_ = false;
};

}  // namespace vantel
