// The editor of one server entry: its type, local port, remote server and POP3 login, how
// the relay secures its connection to the server, and how it signs in there (a password, or
// an OAuth 2.0 account signed in from here).
#pragma once

#include <functional>
#include <memory>
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
    /// "(none)", then the names of ServerPreset::Names() in their order.
    static constexpr int kPresetCombo = 1030;
    /// Password, then OAuth 2.0 with Microsoft, Google and another provider.
    static constexpr int kSignInCombo = 1031;
    static constexpr int kAccountEdit = 1032;
    static constexpr int kClientIdEdit = 1033;
    static constexpr int kClientSecretEdit = 1034;
    static constexpr int kAdvancedButton = 1035;
    static constexpr int kSignInButton = 1036;
    static constexpr int kSignInWithCodeButton = 1037;
    static constexpr int kStopSignInButton = 1038;
    static constexpr int kStatusText = 1039;

    /// The complaint about a fingerprint OK cannot take.
    static constexpr const char* kBadFingerprintText =
        "Please enter the certificate fingerprint as 32 pairs of hex digits (AB:CD:...), or "
        "leave it empty.";

    /// The complaint about a login OK cannot take: the relay sends it in its USER and PASS
    /// lines, where a line break would start a command of its own.
    static constexpr const char* kLoginLineBreakText =
        "The user name and password cannot contain line breaks.";

    /// The complaint about an OAuth 2.0 entry without its account.
    static constexpr const char* kNoAccountText =
        "Please enter the account to sign in to (the mailbox's address, such as "
        "name@example.org).";

    /// The complaint about an OAuth 2.0 value OK cannot take: the relay refuses an entry with
    /// a line break in one, since each goes into a request line or a SASL message.
    static constexpr const char* kOAuthLineBreakText =
        "The account, client and advanced sign-in settings cannot contain line breaks.";

    explicit ServerSettingsDialog(const DialogContext& context);
    ~ServerSettingsDialog() override;

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
    /// A SignInMethod number; one the program does not know stays unless the user picks one.
    int signIn = StoredSignInMethod(SignInMethod::Password);
    /// Kept whatever `signIn` says; a provider the list does not know stays unless one is
    /// picked.
    OAuthSignIn oauth;

  protected:
    bool OnInitDialog() override;
    bool OnCommand(UINT id, UINT code, HWND control) override;
    void OnOK() override;
    void OnCancel() override;

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

    /// The sign-in method the list shows (-1: none, for a stored method or provider it does
    /// not know); then what the entry signs in with.
    int ChosenSignIn() const;
    int SignInMethodShown() const;
    bool OAuthShown() const;
    /// The OAuth 2.0 values as the controls hold them, with the provider of the list.
    OAuthSignIn CurrentOAuth() const;
    /// The controls that apply to the chosen type and method, and the sign-in buttons.
    void UpdateControls();
    /// The status line: the service's word on the account, unless a sign-in runs.
    void RefreshStatus();
    void ShowStatus(const std::string& line);
    /// Fills the entry from the chosen preset for the chosen type; false (and a message) when
    /// the preset has no server of that type.
    bool ApplyChosenPreset();
    void EditAdvanced();
    /// False, with the message and the focus on the field, when an OAuth 2.0 value holds a
    /// line break or NUL.
    bool CheckOAuthText(const OAuthSignIn& values);
    void StartSignIn(SignInService::Way way);
    void SignInDone(const OAuthSignIn& values, const SignInService::Outcome& outcome);
    /// Cancels the sign-in under way, if this dialog started one; its outcome is then ignored.
    void StopSignIn();

    DialogContext context_;
    DialogNotifier& notifier_;
    /// The list position the stored method and provider had when the dialog opened.
    int storedSignIn_ = -1;
    /// The advanced values (and the stored provider) while the dialog runs.
    OAuthSignIn draft_;
    /// Held while a sign-in of this dialog runs; its callbacks only see it weakly, so that an
    /// outcome arriving after a cancel, or after the dialog closed, does nothing.
    std::shared_ptr<int> running_;
};

}  // namespace vantel
