#include "tray/MainDialog.h"

#include <ctime>

#include "tray/ResourceStrings.h"
#include "tray/TrayMenu.h"
#include "tray/resource.h"

namespace vantel {
namespace {

constexpr int kSmtpKind = 0;
constexpr int kPop3Kind = 1;
/// The tooltip room of the first-version notification record, less its terminator.
constexpr std::size_t kTipLength = 63;

HICON LoadTrayIcon(HINSTANCE instance, int id, int size) {
    return static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

/// Stand-in for the dialogs that are still to come: OK and Cancel end it. `lParam` points
/// at the HWND the caller keeps while the dialog is open.
INT_PTR CALLBACK PlaceholderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        if (lParam != 0) {
            *reinterpret_cast<HWND*>(lParam) = window;
        }
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

MainDialog::MainDialog(const MainDialogContext& context)
    : context_(context),
      persistence_(*context.store),
      random_(static_cast<std::uint32_t>(std::time(nullptr))),
      rewriter_(settings_, random_, *context.notifier),
      engine_(settings_, *context.loop, rewriter_, *context.notifier, context.trace, *this),
      schemas_(settings_, persistence_, *context.service, *this, *context.notifier, context.isNT) {
    const int small = GetSystemMetrics(SM_CXSMICON);
    enabledIcon_ = LoadTrayIcon(context_.instance, IDI_RELAY_ENABLED, small);
    disabledIcon_ = LoadTrayIcon(context_.instance, IDI_RELAY_DISABLED, small);
    busyIcon_ = LoadTrayIcon(context_.instance, IDI_RELAY_BUSY, small);
    largeIcon_ = LoadTrayIcon(context_.instance, IDI_RELAY_ENABLED, GetSystemMetrics(SM_CXICON));
    // Sent to every top-level window when the shell restarts; the icon must be added again.
    taskbarCreated_ = RegisterWindowMessageA("TaskbarCreated");
}

MainDialog::~MainDialog() {
    if (window_ != nullptr) {
        if (shownEnabled_ != -1) {
            SetTrayIcon(NIM_DELETE, nullptr, nullptr);
        }
        DestroyWindow(window_);
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
}

void MainDialog::RunModal() {
    modal_ = true;
    DialogBoxParamA(context_.instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, DialogProc,
                    reinterpret_cast<LPARAM>(this));
    modal_ = false;
    window_ = nullptr;
}

HWND MainDialog::Create() {
    modal_ = false;
    return CreateDialogParamA(context_.instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MainDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<MainDialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        self->window_ = window;
    } else {
        self = reinterpret_cast<MainDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    }
    if (self == nullptr) {
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, DWLP_USER, 0);
        self->window_ = nullptr;
        return FALSE;
    }
    return self->HandleMessage(message, wParam, lParam);
}

INT_PTR MainDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog();
            return TRUE;
        case WM_TRAY_NOTIFY:
            OnTrayNotify(lParam);
            SetWindowLongPtrA(window_, DWLP_MSGRESULT, 0);
            return TRUE;
        case WM_TIMER:
            OnTimer(static_cast<UINT_PTR>(wParam));
            return FALSE;
        case WM_WINDOWPOSCHANGING:
            // The modal run shows the dialog after its initialisation; it stays hidden unless
            // the Options dialog wants it as its owner on screen.
            if (!showAllowed_) {
                reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
            }
            return FALSE;
        case WM_PAINT:
            if (!showAllowed_) {
                ShowWindow(window_, SW_HIDE);
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            SetWindowLongPtrA(window_, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(largeIcon_));
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
                OnAbout();
                return TRUE;
            }
            return FALSE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return TRUE;
        case WM_CLOSE:
            // Someone asked the program to end (the task manager, a script): end as Exit does,
            // so the settings are saved.
            OnExit();
            return TRUE;
        case WM_ENDSESSION:
            if (wParam != FALSE) {
                SaveEverywhere();
            }
            return FALSE;
        default:
            if (message == taskbarCreated_ && taskbarCreated_ != 0) {
                shownEnabled_ = -1;
                shownSmtp_ = shownPop_ = -2;
                UpdateTrayIcon();
                return TRUE;
            }
            return FALSE;
    }
}

void MainDialog::OnInitDialog() {
    // An About item in the system menu, if the string table offers one (ours does not).
    const std::string aboutItem = LoadResourceString(IDS_ABOUTBOX);
    if (HMENU systemMenu = GetSystemMenu(window_, FALSE);
        systemMenu != nullptr && !aboutItem.empty()) {
        AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutItem.c_str());
    }
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon_));
    SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(enabledIcon_));
    ShowWindow(window_, SW_HIDE);
    if (context_.isNT) {
        if (settings_.UseService != 0) {
            context_.service->EnsureServiceRunning();
        } else {
            context_.service->RemoveServiceAtStartup();
        }
        if (context_.service->IsServiceRunning()) {
            engine_.SetRelayState(false, false);
            UpdateTrayIcon();
            return;
        }
    }
    engine_.StartRelay();
    engine_.SetRelayState(true, false);
    UpdateTrayIcon();
}

bool MainDialog::ServiceRunning() {
    return context_.isNT && context_.service->IsServiceRunning();
}

void MainDialog::SetTrayIcon(DWORD action, HICON icon, const char* tip) {
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window_;
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
    const int smtp = engine_.FindDefaultListener(kSmtpKind);
    const int pop = engine_.FindDefaultListener(kPop3Kind);
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
                KillTimer(window_, clickTimer_);
                clickTimer_ = 0;
                OnEnable();
            }
            clickTimer_ = SetTimer(window_, CLICK_TIMER_ID, GetDoubleClickTime(), nullptr);
            break;
        case WM_LBUTTONDBLCLK:
            if (clickTimer_ != 0) {
                KillTimer(window_, clickTimer_);
                clickTimer_ = 0;
            }
            OnOptions();
            break;
        case WM_RBUTTONUP: {
            SetForegroundWindow(window_);
            BringWindowToTop(window_);
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
        KillTimer(window_, id);
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
    TrayMenu menu(context_.instance, settings_, state);
    if (menu.popup() == nullptr) {
        return;
    }
    activePopup_ = menu.popup();
    if (!TrackPopupMenu(activePopup_, TPM_LEFTALIGN | TPM_RIGHTBUTTON, x, y, 0, window_, nullptr)) {
        Beep(300, 300);
    }
    // Lets the menu close when the user clicks elsewhere the next time it opens.
    PostMessageA(window_, WM_NULL, 0, 0);
    activePopup_ = nullptr;
}

void MainDialog::OnCommand(UINT id) {
    if (id >= ID_SMTP_FIRST && id <= ID_SMTP_LAST) {
        ChooseDefaultServer(static_cast<int>(id - ID_SMTP_FIRST), kSmtpKind);
        return;
    }
    if (id >= ID_POP_FIRST && id <= ID_POP_LAST) {
        ChooseDefaultServer(static_cast<int>(id - ID_POP_FIRST), kPop3Kind);
        return;
    }
    if (id >= ID_SCHEMA_FIRST && id <= ID_SCHEMA_LAST) {
        schemas_.SelectSchema(static_cast<int>(id - ID_SCHEMA_FIRST));
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

void MainDialog::ChooseDefaultServer(int ordinal, int kind) {
    int& stored = kind == kSmtpKind ? settings_.DefaultServer : settings_.DefaultPOPServer;
    if (ordinal != stored) {
        engine_.SelectDefaultServer(ordinal, kind);
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
    if (window_ == nullptr) {
        return;
    }
    if (clickTimer_ != 0) {
        KillTimer(window_, clickTimer_);
        clickTimer_ = 0;
    }
    if (shownEnabled_ != -1) {
        SetTrayIcon(NIM_DELETE, nullptr, nullptr);
        shownEnabled_ = -1;
    }
    if (modal_) {
        EndDialog(window_, IDOK);
    } else {
        DestroyWindow(window_);
    }
}

void MainDialog::OnAbout() {
    DialogBoxParamA(context_.instance, MAKEINTRESOURCEA(IDD_ABOUTBOX), window_, PlaceholderProc, 0);
}

void MainDialog::OnOptions() {
    if (engine_.relayBusy()) {
        MessageBeep(MB_ICONEXCLAMATION);
        return;
    }
    if (optionsOpen_) {
        if (optionsWindow_ != nullptr) {
            SetForegroundWindow(optionsWindow_);
            BringWindowToTop(optionsWindow_);
        }
        return;
    }
    showAllowed_ = true;
    SetWindowPos(window_, nullptr, GetSystemMetrics(SM_CXSCREEN) / 2,
                 GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, SWP_NOZORDER);
    ShowWindow(window_, SW_SHOW);
    optionsOpen_ = true;
    const INT_PTR result =
        DialogBoxParamA(context_.instance, MAKEINTRESOURCEA(IDD_OPTIONS), window_, PlaceholderProc,
                        reinterpret_cast<LPARAM>(&optionsWindow_));
    if (result == IDOK) {
        SaveEverywhere();
        if (!ServiceRunning()) {
            RestartListeners();
        }
        UpdateTrayIcon();
    }
    optionsWindow_ = nullptr;
    optionsOpen_ = false;
    showAllowed_ = false;
    ShowWindow(window_, SW_HIDE);
}

bool MainDialog::SaveEverywhere() {
    return schemas_.SaveEverywhere();
}

void MainDialog::RestartListeners() {
    if (!engine_.relayEnabled() && !engine_.relayBusy()) {
        return;  // disabled: the user opens the ports again with Enable
    }
    engine_.CloseListeners();
    engine_.StartRelay();
}

}  // namespace vantel
