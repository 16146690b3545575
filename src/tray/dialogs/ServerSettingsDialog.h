// The editor of one server entry: its type, local port, remote server and POP3 login.
#pragma once

#include <string>

#include "core/config/ServerEntry.h"
#include "tray/dialogs/Dialog.h"
#include "tray/dialogs/DialogContext.h"

namespace vantel {

class ServerSettingsDialog : public Dialog {
  public:
    static constexpr int kSmtpRadio = 1021;
    static constexpr int kPop3Radio = 1022;
    static constexpr int kImap4Radio = 1023;
    static constexpr int kServerNameEdit = 1002;
    static constexpr int kRemotePortEdit = 1003;
    static constexpr int kLocalPortEdit = 1004;
    static constexpr int kUserNameEdit = 1005;
    static constexpr int kPasswordEdit = 1006;

    explicit ServerSettingsDialog(const DialogContext& context);

    // Set by the caller before the run, read back after OK.
    ServerType serverType = ServerType::Smtp;
    int localPort = 25;
    std::string serverName;
    int remotePort = 25;
    std::string userName;
    std::string password;

  protected:
    bool OnInitDialog() override;
    bool OnCommand(UINT id, UINT code, HWND control) override;
    void OnOK() override;

  private:
    void LoadControls();
    /// The type of the checked radio button, or `serverType` when none is checked.
    ServerType CheckedType() const;
    /// Follows a new type: the login edits, and ports that still hold the old default.
    void TypeChanged();

    DialogNotifier& notifier_;
};

}  // namespace vantel
