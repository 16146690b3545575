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
                                         RelaySettings& draft, LinkLauncher& launcher,
                                         RollingLogFile& log)
    : OptionsPage(context.instance, IDD_GENERAL_PAGE, host, *context.notifier),
      isNT_(context.isNT),
      draft_(draft),
      launcher_(launcher),
      log_(log) {}

bool GeneralSettingsPage::OnInitDialog() {
    // Without services nothing can be relayed by one: the box is cleared and disabled.
    if (!isNT_) {
        draft_.UseService = 0;
    }
    EnableWindow(Item(kUseServiceCheck), isNT_ ? TRUE : FALSE);
    LoadControls();
    return true;
}

void GeneralSettingsPage::LoadControls() {
    SetItemInt(window(), kSmtpPortEdit, draft_.DefaultPort);
    SetItemInt(window(), kPopPortEdit, draft_.DefaultPOPPort);
    SetItemInt(window(), kConnectTimeoutEdit, draft_.ConnectTimeout);
    SetItemInt(window(), kMessageTimeoutEdit, draft_.MessageTimeout);
    CheckItem(window(), kUseServiceCheck, draft_.UseService != 0);
    CheckItem(window(), kAcceptRemoteCheck, !IsLoopback(draft_.ListenAddress));
    CheckItem(window(), kLogTrafficCheck, draft_.LogTraffic != 0);
}

bool GeneralSettingsPage::ReadBack() {
    for (auto [id, field] : {std::pair{kSmtpPortEdit, &draft_.DefaultPort},
                             std::pair{kPopPortEdit, &draft_.DefaultPOPPort},
                             std::pair{kConnectTimeoutEdit, &draft_.ConnectTimeout},
                             std::pair{kMessageTimeoutEdit, &draft_.MessageTimeout}}) {
        if (!ReadItemInt(window(), id, *field, notifier())) {
            return false;
        }
    }
    draft_.UseService = IsItemChecked(window(), kUseServiceCheck) ? 1 : 0;
    if (!IsItemChecked(window(), kAcceptRemoteCheck)) {
        draft_.ListenAddress.clear();
    } else if (IsLoopback(draft_.ListenAddress)) {
        draft_.ListenAddress = "*";  // a chosen local address stays as it is
    }
    draft_.LogTraffic = IsItemChecked(window(), kLogTrafficCheck) ? 1 : 0;
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
