// The editor of one server entry: its type, local port, remote server and POP3 login, and how
// the relay secures its connection to the server.
#pragma once

#include <functional>
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
    /// Drop-down list of the SecurityMode values, each at the index of its number.
    static constexpr int kSecurityCombo = 1007;
    static constexpr int kFingerprintEdit = 1008;

    /// The complaint about a fingerprint OK cannot take.
    static constexpr const char* kBadFingerprintText =
        "Please enter the certificate fingerprint as 32 pairs of hex digits (AB:CD:...), or "
        "leave it empty.";

    /// The complaint about a login OK cannot take: the relay sends it in its USER and PASS
    /// lines, where a line break would start a command of its own.
    static constexpr const char* kLoginLineBreakText =
        "The user name and password cannot contain line breaks.";

    explicit ServerSettingsDialog(const DialogContext& context);

    // Set by the caller before the run, read back after OK.
    ServerType serverType = ServerType::Smtp;
    int localPort = 25;
    std::string serverName;
    int remotePort = 25;
    std::string userName;
    std::string password;
    /// A SecurityMode number; one the program does not know stays unless the user picks a mode.
    int security = StoredSecurityMode(SecurityMode::None);
    /// As NormalizeFingerprint gives it after OK (a stored one is shown as it was stored).
    std::string fingerprint;

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
    /// The mode chosen in the list; -1 while none is (an unknown stored mode).
    int ChosenMode() const;
    /// Follows a new mode: a remote port that still holds the old mode's default.
    void SecurityChanged();
    /// Sets the port edit `id`, when it holds a number, to where `moved` takes that number.
    void MovePort(int id, const std::function<int(int)>& moved);

    DialogNotifier& notifier_;
};

}  // namespace vantel
