#include "tray/MainDialog.h"

#include <ctime>

#include "core/oauth/OAuthDefaults.h"
#include "core/oauth/TokenBroker.h"
#include "platform/EscapedText.h"
#include "platform/TlsClient.h"
#include "tray/ResourceStrings.h"
#include "tray/TrayMenu.h"
#include "tray/dialogs/AboutDialog.h"
#include "tray/dialogs/GeneralSettingsPage.h"
#include "tray/dialogs/KludgesPage.h"
#include "tray/dialogs/LocalPasswordDialog.h"
#include "tray/dialogs/OptionsDialog.h"
#include "tray/dialogs/Placement.h"
#include "tray/dialogs/SchemesDialog.h"
#include "tray/dialogs/ServersPage.h"
#include "tray/dialogs/SpecialKludgesPage.h"
#include "tray/resource.h"

namespace vantel {
namespace {

/// The tooltip room of the first-version notification record, less its terminator.
constexpr std::size_t kTipLength = 63;

HICON LoadTrayIcon(HINSTANCE instance, int id, int size) {
    return static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

}  // namespace

MainDialog::MainDialog(const MainDialogContext& context)
    : Dialog(context.instance, IDD_MAIN),
      context_(context),
      notices_(*context.loop, *context.notifier, *context.log, context.trace),
      host_(*context.loop, notices_.notifier(), &notices_.trace(), *this,
            static_cast<std::uint32_t>(std::time(nullptr))),
      persistence_(*context.store),
      schemas_(settings_, persistence_, *context.service, *this, *context.notifier, context.isNT) {
    const int small = GetSystemMetrics(SM_CXSMICON);
    enabledIcon_ = LoadTrayIcon(context_.instance, IDI_RELAY_ENABLED, small);
    disabledIcon_ = LoadTrayIcon(context_.instance, IDI_RELAY_DISABLED, small);
    busyIcon_ = LoadTrayIcon(context_.instance, IDI_RELAY_BUSY, small);
    largeIcon_ = LoadTrayIcon(context_.instance, IDI_RELAY_ENABLED, GetSystemMetrics(SM_CXICON));
    // Sent to every top-level window when the shell restarts; the icon must be added again.
    taskbarCreated_ = RegisterWindowMessageA("TaskbarCreated");
    dialogs_.instance = context_.instance;
    dialogs_.notifier = context_.notifier;
    dialogs_.isNT = context_.isNT;
    std::string tlsProblem;
    auto tls = CreateTlsContext({}, tlsProblem);
    host_.UseTls(std::move(tls), tlsProblem);
    if (context_.signIn != nullptr) {
        const SignInKit& kit = *context_.signIn;
        host_.UseTokens(std::make_unique<TokenBroker>(
            *context_.loop, *kit.tokens, *kit.http, *kit.clock, *kit.crypto, notices_.notifier(),
            [](const OAuthSignIn& signIn) {
                return "choose Sign in to " + OneLine(signIn.Account) + "... in the tray menu";
            }));
        signIn_ = std::make_unique<TraySignIn>(*context_.loop, kit,
                                               [this] { return OAuthDefaults::Of(settings_); });
        dialogs_.signIn = signIn_.get();
    }
}

MainDialog::~MainDialog() {
    if (window() != nullptr) {
        if (shownEnabled_ != -1) {
            SetTrayIcon(NIM_DELETE, nullptr, nullptr);
        }
        DestroyWindow(window());
    }
    engine_.ShutdownRelay();
    for (HICON icon : {enabledIcon_, disabledIcon_, busyIcon_, largeIcon_}) {
        if (icon != nullptr) {
            DestroyIcon(icon);
        }
    }
}

void MainDialog::LoadSettings(int schemaIndex) {
    persistence_.LoadSettings(settings_, schemaIndex);
    ApplyLogTraffic();
}

bool MainDialog::OnCommand(UINT id, UINT code, HWND control) {
    (void)code;
    (void)control;
    RunCommand(id);
    return true;
}

bool MainDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_TRAY_NOTIFY:
            OnTrayNotify(lParam);
            result = 0;
            return true;
        case WM_TIMER:
            OnTimer(static_cast<UINT_PTR>(wParam));
            return false;
        case WM_WINDOWPOSCHANGING:
            // The modal run shows the dialog after its initialisation; it stays hidden unless
            // the Options dialog wants it as its owner on screen.
            if (!showAllowed_) {
                reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
            }
            return false;
        case WM_PAINT:
            if (!showAllowed_) {
                ShowWindow(window(), SW_HIDE);
            }
            return false;
        case WM_QUERYDRAGICON:
            result = reinterpret_cast<LRESULT>(largeIcon_);
            return true;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
                OnAbout();
                return true;
            }
            return false;
        case WM_CLOSE:
            // Someone asked the program to end (the task manager, a script): end as Exit does,
            // so the settings are saved.
            OnExit();
            return true;
        case WM_ENDSESSION:
            if (wParam != FALSE) {
                SaveEverywhere();
            }
            return false;
        default:
            if (message == taskbarCreated_ && taskbarCreated_ != 0) {
                shownEnabled_ = -1;
                shownSmtp_ = shownPop_ = -2;
                UpdateTrayIcon();
                return true;
            }
            return false;
    }
}

bool MainDialog::OnInitDialog() {
    // An About item in the system menu, if the string table offers one (ours does not).
    const std::string aboutItem = LoadResourceString(IDS_ABOUTBOX);
    if (HMENU systemMenu = GetSystemMenu(window(), FALSE);
        systemMenu != nullptr && !aboutItem.empty()) {
        AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutItem.c_str());
    }
    SendMessageA(window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon_));
    SendMessageA(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(enabledIcon_));
    ShowWindow(window(), SW_HIDE);
    if (context_.isNT) {
        if (settings_.UseService != 0) {
            context_.service->EnsureServiceRunning();
        } else {
            context_.service->RemoveServiceAtStartup();
        }
        if (context_.service->IsServiceRunning()) {
            engine_.SetRelayState(false, false);
            UpdateTrayIcon();
            return true;
        }
    }
    engine_.StartRelay();
    engine_.SetRelayState(true, false);
    UpdateTrayIcon();
    return true;
}

bool MainDialog::ServiceRunning() {
    return context_.isNT && context_.service->IsServiceRunning();
}

void MainDialog::SetTrayIcon(DWORD action, HICON icon, const char* tip) {
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window();
    data.uID = TRAY_ICON_ID;
    data.uFlags = NIF_MESSAGE;
    data.uCallbackMessage = WM_TRAY_NOTIFY;
    if (icon != nullptr) {
        data.uFlags |= NIF_ICON;
        data.hIcon = icon;
    }
    if (tip != nullptr) {
        data.uFlags |= NIF_TIP;
        lstrcpynA(data.szTip, tip, static_cast<int>(kTipLength + 1));
    }
    context_.tray->NotifyIcon(action, data);
}

void MainDialog::UpdateTrayIcon() {
    const int enabled = engine_.relayEnabled() ? 1 : 0;
    const bool busy = engine_.relayBusy();
    const int smtp = engine_.FindDefaultListener(ServerType::Smtp);
    const int pop = engine_.FindDefaultListener(ServerType::Pop3);
    const std::string none = LoadResourceString(IDS_NONE);
    std::string smtpName = none;
    std::string popName = none;
    const auto nameOf = [this](int index, std::string& name) {
        if (index >= 0 && static_cast<std::size_t>(index) < settings_.ServerList.size()) {
            name = settings_.ServerList[static_cast<std::size_t>(index)].Name;
        }
    };
    if (!settings_.Servers.empty()) {
        nameOf(smtp, smtpName);
        nameOf(pop, popName);
    }
    // The names count too: after a schema switch the same positions may name other servers.
    if (enabled == shownEnabled_ && smtp == shownSmtp_ && pop == shownPop_ &&
        smtpName == shownSmtpName_ && popName == shownPopName_) {
        return;
    }
    shownSmtp_ = smtp;
    shownPop_ = pop;
    shownSmtpName_ = smtpName;
    shownPopName_ = popName;
    const unsigned statusId =
        enabled != 0 ? IDS_RELAY_ENABLED : (busy ? IDS_RELAY_BUSY : IDS_RELAY_DISABLED);
    const std::string tip = LoadResourceString(statusId) + " - " + smtpName + " / " + popName;

    HICON icon = nullptr;
    if (enabled != shownEnabled_) {
        icon = enabled != 0 ? enabledIcon_ : (busy ? busyIcon_ : disabledIcon_);
    }
    SetTrayIcon(shownEnabled_ == -1 ? NIM_ADD : NIM_MODIFY, icon, tip.c_str());
    shownEnabled_ = enabled;
}

void MainDialog::OnTrayNotify(LPARAM mouseMessage) {
    switch (static_cast<UINT>(mouseMessage)) {
        case WM_LBUTTONDOWN:
            if (clickTimer_ != 0) {
                // A second click outside the double-click time: the first acts now.
                KillTimer(window(), clickTimer_);
                clickTimer_ = 0;
                OnEnable();
            }
            clickTimer_ = SetTimer(window(), CLICK_TIMER_ID, GetDoubleClickTime(), nullptr);
            break;
        case WM_LBUTTONDBLCLK:
            if (clickTimer_ != 0) {
                KillTimer(window(), clickTimer_);
                clickTimer_ = 0;
            }
            OnOptions();
            break;
        case WM_RBUTTONUP: {
            SetForegroundWindow(window());
            BringWindowToTop(window());
            POINT point{};
            GetCursorPos(&point);
            ShowTrayMenu(point.x, point.y);
            break;
        }
        default:
            break;
    }
}

void MainDialog::OnTimer(UINT_PTR id) {
    if (id == CLICK_TIMER_ID) {
        KillTimer(window(), id);
        clickTimer_ = 0;
        OnEnable();
    }
}

void MainDialog::OnEnable() {
    if (ServiceRunning()) {
        context_.notifier->ShowMessage(LoadResourceString(IDS_SERVICE_ACTIVE));
        return;
    }
    if (!engine_.relayBusy()) {
        const bool enabled = engine_.relayEnabled();
        if (enabled) {
            engine_.CloseListeners();
        } else {
            engine_.StartRelay();
        }
        engine_.SetRelayState(!enabled, false);
        UpdateTrayIcon();
        return;
    }
    if (context_.notifier->AskYesNo(LoadResourceString(IDS_CONFIRM_INTERRUPT))) {
        engine_.CloseAllSessions();
        UpdateTrayIcon();
    }
}

void MainDialog::ShowTrayMenu(int x, int y) {
    if (activePopup_ != nullptr) {
        return;
    }
    if (engine_.relayBusy()) {
        MessageBeep(MB_ICONEXCLAMATION);
        return;
    }
    TrayMenuState state;
    state.relayEnabled = engine_.relayEnabled();
    state.isNT = context_.isNT;
    state.serviceRunning = ServiceRunning();
    signInEntries_.clear();
    if (signIn_) {
        signInEntries_ = signIn_->EntriesNeedingSignIn(settings_);
        for (std::size_t index : signInEntries_) {
            state.signInAccounts.push_back(settings_.ServerList[index].OAuth.Account);
        }
    }
    TrayMenu menu(context_.instance, settings_, state);
    if (menu.popup() == nullptr) {
        return;
    }
    activePopup_ = menu.popup();
    if (!TrackPopupMenu(activePopup_, TPM_LEFTALIGN | TPM_RIGHTBUTTON, x, y, 0, window(),
                        nullptr)) {
        Beep(300, 300);
    }
    // Lets the menu close when the user clicks elsewhere the next time it opens.
    PostMessageA(window(), WM_NULL, 0, 0);
    activePopup_ = nullptr;
}

void MainDialog::RunCommand(UINT id) {
    if (id >= ID_SMTP_FIRST && id <= ID_SMTP_LAST) {
        ChooseDefaultServer(static_cast<int>(id - ID_SMTP_FIRST), ServerType::Smtp);
        return;
    }
    if (id >= ID_POP_FIRST && id <= ID_POP_LAST) {
        ChooseDefaultServer(static_cast<int>(id - ID_POP_FIRST), ServerType::Pop3);
        return;
    }
    if (id >= ID_SCHEMA_FIRST && id <= ID_SCHEMA_LAST) {
        schemas_.SelectSchema(static_cast<int>(id - ID_SCHEMA_FIRST));
        return;
    }
    if (id >= ID_SIGN_IN_FIRST && id <= ID_SIGN_IN_LAST) {
        const std::size_t item = id - ID_SIGN_IN_FIRST;
        if (item < signInEntries_.size()) {
            SignInEntry(signInEntries_[item]);
        }
        return;
    }
    switch (id) {
        case ID_TRAY_OPTIONS:
            OnOptions();
            break;
        case ID_TRAY_ENABLE:
            OnEnable();
            break;
        case ID_TRAY_EXIT:
            OnExit();
            break;
        case IDM_ABOUTBOX:
            OnAbout();
            break;
        case ID_POP_CYCLIC:
            settings_.POPCycleChange = settings_.POPCycleChange != 0 ? 0 : 1;
            SaveEverywhere();
            UpdateTrayIcon();
            break;
        case ID_SERVICE_START:
            StartService();
            break;
        case ID_SERVICE_STOP:
            StopService();
            break;
        default:
            // IDOK and IDCANCEL of the hidden template (Enter, Escape) end nothing.
            break;
    }
}

void MainDialog::ChooseDefaultServer(int ordinal, ServerType type) {
    int& stored = type == ServerType::Smtp ? settings_.DefaultServer : settings_.DefaultPOPServer;
    if (ordinal != stored) {
        engine_.SelectDefaultServer(ordinal, type);
        stored = ordinal;
    }
    SaveEverywhere();
    UpdateTrayIcon();
}

void MainDialog::StartService() {
    // A command runs only while its menu item would be enabled.
    if (!context_.isNT || context_.service->IsServiceRunning()) {
        return;
    }
    context_.service->StartRelayService();
}

void MainDialog::StopService() {
    if (!context_.isNT || !context_.service->IsServiceRunning()) {
        return;
    }
    context_.service->StopRelayService();
}

void MainDialog::OnExit() {
    if (window() == nullptr) {
        return;
    }
    exiting_ = true;
    if (clickTimer_ != 0) {
        KillTimer(window(), clickTimer_);
        clickTimer_ = 0;
    }
    if (shownEnabled_ != -1) {
        SetTrayIcon(NIM_DELETE, nullptr, nullptr);
        shownEnabled_ = -1;
    }
    if (isModal()) {
        EndDialog(IDOK);
    } else {
        DestroyWindow(window());
    }
}

void MainDialog::OnAbout() {
    AboutDialog about(dialogs_, launcher_);
    about.RunModal(window());
}

HWND MainDialog::optionsWindow() const {
    return options_ != nullptr ? options_->window() : nullptr;
}

void MainDialog::OnOptions() {
    if (engine_.relayBusy()) {
        MessageBeep(MB_ICONEXCLAMATION);
        return;
    }
    if (optionsOpen_) {
        if (HWND open = optionsWindow()) {
            SetForegroundWindow(open);
            BringWindowToTop(open);
        }
        return;
    }
    showAllowed_ = true;
    // Beneath the middle of the Options dialog, which covers it.
    CentreInArea(window(), dialogs_.workArea());
    ShowWindow(window(), SW_SHOW);
    optionsOpen_ = true;

    // Every page edits this one draft, taken back after OK. The Servers and Special pages
    // also copy their lists to the live settings at every change, so the relay and the kludge
    // editor follow them before the dialog ends, whichever way it ends.
    RelaySettings draft = settings_;
    OptionsDialog dialog(dialogs_);
    dialog.AddPage(std::make_unique<ServersPage>(dialogs_, dialog, draft, settings_));
    dialog.AddPage(
        std::make_unique<KludgesPage>(dialogs_, dialog, draft, settings_.SpecialKludges));
    auto& special =
        dialog.AddPage(std::make_unique<SpecialKludgesPage>(dialogs_, dialog, draft, settings_));
    dialog.AddPage(
        std::make_unique<GeneralSettingsPage>(dialogs_, dialog, draft, launcher_, *context_.log));
    special.operationTimeout = *context_.operationTimeout;
    dialog.onSchemes = [this, &draft](HWND owner) {
        SchemesDialog schemes(dialogs_, settings_, schemas_);
        dialogs_.runModal(schemes, owner);
        // A schema loaded meanwhile brings its server list, which the Servers page goes on
        // editing live; the other pages keep what they hold.
        draft.ServerList = settings_.ServerList;
    };
    const std::vector<ServerEntry> serversBefore = settings_.ServerList;

    options_ = &dialog;
    const INT_PTR result = dialogs_.runModal(dialog, window());
    options_ = nullptr;
    if (result == IDOK) {
        *context_.operationTimeout = special.operationTimeout;
        const bool serviceDropped = settings_.UseService != 0 && draft.UseService == 0;
        TakeOptions(draft);
        ApplyLogTraffic();
        if (serviceDropped && context_.isNT) {
            // Removed now, not at the next start: it would start with the system meanwhile.
            context_.service->StopRelayService();
        }
        SaveEverywhere();
    }
    // After Cancel the Servers page's edits stand all the same: the listeners must follow
    // them as they would after OK.
    if ((result == IDOK || settings_.ServerList != serversBefore) && !ServiceRunning()) {
        RestartListeners();
    }
    UpdateTrayIcon();
    optionsOpen_ = false;
    showAllowed_ = false;
    ShowWindow(window(), SW_HIDE);
}

void MainDialog::TakeOptions(const RelaySettings& draft) {
    // What the pages edit. The rest of the draft is as the dialog found it, while the live
    // values may have moved on meanwhile (the next POP3 server of a cycle, another schema).
    settings_.Kludges = draft.Kludges;
    settings_.SpecialKludges = draft.SpecialKludges;
    settings_.DefaultPort = draft.DefaultPort;
    settings_.DefaultPOPPort = draft.DefaultPOPPort;
    settings_.ConnectTimeout = draft.ConnectTimeout;
    settings_.MessageTimeout = draft.MessageTimeout;
    settings_.UseService = draft.UseService;
    settings_.ListenAddress = draft.ListenAddress;
    settings_.LogTraffic = draft.LogTraffic;
}

bool MainDialog::SaveEverywhere() {
    // The service reads the machine's copy, and finds the user's sign-ins through it.
    if (context_.signIn != nullptr) {
        settings_.TokenFolder = context_.signIn->tokens->Location();
    }
    return schemas_.SaveEverywhere();
}

void MainDialog::SignInEntry(std::size_t index) {
    if (!signIn_ || index >= settings_.ServerList.size()) {
        return;
    }
    const OAuthSignIn signIn = settings_.ServerList[index].OAuth;
    std::string error;
    const bool started = signIn_->Start(
        signIn, SignInService::Way::Browser, nullptr,
        [this, account = signIn.Account](const SignInService::Outcome& outcome) {
            if (outcome.signedIn) {
                LocalPasswordDialog shown(dialogs_);
                shown.account = account;
                shown.localPassword = outcome.localPassword;
                dialogs_.runModal(shown, window());
            } else if (!outcome.failure.empty()) {
                context_.notifier->ShowWarning(window(),
                                               "The sign-in failed: " + OneLine(outcome.failure));
            }
        },
        error);
    if (!started) {
        context_.notifier->ShowWarning(window(), error);
    }
}

void MainDialog::RestartListeners() {
    if (!engine_.relayEnabled() && !engine_.relayBusy()) {
        return;  // disabled: the user opens the ports again with Enable
    }
    // Ports that stay the same stay open: a client connecting meanwhile is not turned away.
    host_.Apply();
}

}  // namespace vantel
