#include "tray/dialogs/GeneralSettingsPage.h"

#include <utility>

#include "tray/dialogs/DialogData.h"
#include "tray/resource.h"

namespace vantel {
namespace {

/// Whether `address` keeps the relay to this computer.
bool IsLoopback(const std::string& address) {
    return address.empty() || address == "127.0.0.1" || address == "::1" || address == "localhost";
}

}  // namespace

GeneralSettingsPage::GeneralSettingsPage(const DialogContext& context, OptionsPageHost& host,
                                         LinkLauncher& launcher, RollingLogFile& log)
    : OptionsPage(context.instance, IDD_GENERAL_PAGE, host, *context.notifier),
      isNT_(context.isNT),
      launcher_(launcher),
      log_(log) {}

bool GeneralSettingsPage::OnInitDialog() {
    // Without services nothing can be relayed by one: the box is cleared and disabled.
    if (!isNT_) {
        UseService = 0;
    }
    EnableWindow(Item(kUseServiceCheck), isNT_ ? TRUE : FALSE);
    LoadControls();
    return true;
}

void GeneralSettingsPage::LoadControls() {
    SetItemInt(window(), kSmtpPortEdit, DefaultPort);
    SetItemInt(window(), kPopPortEdit, DefaultPOPPort);
    SetItemInt(window(), kConnectTimeoutEdit, ConnectTimeout);
    SetItemInt(window(), kMessageTimeoutEdit, MessageTimeout);
    CheckItem(window(), kUseServiceCheck, UseService != 0);
    CheckItem(window(), kAcceptRemoteCheck, !IsLoopback(ListenAddress));
    CheckItem(window(), kLogTrafficCheck, LogTraffic != 0);
}

bool GeneralSettingsPage::ReadBack() {
    for (auto [id, field] :
         {std::pair{kSmtpPortEdit, &DefaultPort}, std::pair{kPopPortEdit, &DefaultPOPPort},
          std::pair{kConnectTimeoutEdit, &ConnectTimeout},
          std::pair{kMessageTimeoutEdit, &MessageTimeout}}) {
        if (!ReadItemInt(window(), id, *field, notifier())) {
            return false;
        }
    }
    UseService = IsItemChecked(window(), kUseServiceCheck) ? 1 : 0;
    if (!IsItemChecked(window(), kAcceptRemoteCheck)) {
        ListenAddress.clear();
    } else if (IsLoopback(ListenAddress)) {
        ListenAddress = "*";  // a chosen local address stays as it is
    }
    LogTraffic = IsItemChecked(window(), kLogTrafficCheck) ? 1 : 0;
    return true;
}

bool GeneralSettingsPage::OnCommand(UINT id, UINT code, HWND control) {
    (void)control;
    if (id != kOpenLogButton || code != BN_CLICKED) {
        return false;
    }
    OpenLog();
    return true;
}

void GeneralSettingsPage::OpenLog() {
    std::string problem;
    if (!log_.Ready()) {
        problem = log_.LastError();
    } else if (const INT_PTR result = launcher_.OpenFile(log_.path(), SW_SHOWNORMAL);
               result <= 32) {
        problem = LinkLauncher::ErrorText(result);
    }
    if (!problem.empty()) {
        MessageBeep(MB_ICONEXCLAMATION);
        notifier().ShowWarning(Item(kOpenLogButton), "Unable to open the log:\n\n" + problem);
    }
}

}  // namespace vantel
