#include "tray/dialogs/ServerSettingsDialog.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <functional>

#include "core/config/CredentialCodec.h"
#include "core/config/SettingsEdits.h"
#include "platform/TlsFailure.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/Placement.h"
#include "tray/resource.h"

namespace vantel {
namespace {

/// A whole decimal number, blanks around it allowed; no message, since a type change must
/// not complain about a port the user is still typing.
bool ParseWholeInt(const std::string& text, int& value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) {
        return false;
    }
    while (*end == ' ' || *end == '\t') {
        ++end;
    }
    if (*end != '\0') {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

struct TypeRadio {
    ServerType type;
    int id;
};
constexpr TypeRadio kTypeRadios[] = {{ServerType::Smtp, ServerSettingsDialog::kSmtpRadio},
                                     {ServerType::Pop3, ServerSettingsDialog::kPop3Radio},
                                     {ServerType::Imap4, ServerSettingsDialog::kImap4Radio}};

/// The choices of the security list, at the index of their SecurityMode number.
constexpr const char* kSecurityChoices[] = {"None", "SSL/TLS", "STARTTLS"};

int RadioOf(ServerType type) {
    for (const TypeRadio& radio : kTypeRadios) {
        if (radio.type == type) {
            return radio.id;
        }
    }
    return ServerSettingsDialog::kSmtpRadio;
}

}  // namespace

ServerSettingsDialog::ServerSettingsDialog(const DialogContext& context)
    : Dialog(context.instance, IDD_SERVER_SETTINGS), notifier_(*context.notifier) {}

bool ServerSettingsDialog::OnInitDialog() {
    CentreOnOwner(window());
    SendMessageA(Item(kServerNameEdit), EM_LIMITTEXT, ServerEntry::kMaxNameLength, 0);
    SendMessageA(Item(kUserNameEdit), EM_LIMITTEXT, kMaxCredentialText, 0);
    SendMessageA(Item(kPasswordEdit), EM_LIMITTEXT, kMaxCredentialText, 0);
    for (const char* choice : kSecurityChoices) {
        SendMessageA(Item(kSecurityCombo), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice));
    }
    LoadControls();
    TypeChanged();
    return true;
}

void ServerSettingsDialog::LoadControls() {
    CheckRadioButton(window(), kSmtpRadio, kImap4Radio, RadioOf(serverType));
    SetItemInt(window(), kLocalPortEdit, localPort);
    SetItemText(window(), kServerNameEdit, serverName);
    SetItemInt(window(), kRemotePortEdit, remotePort);
    SetItemText(window(), kUserNameEdit, userName);
    SetItemText(window(), kPasswordEdit, password);
    // An unknown mode selects nothing, so that nothing claims to be what the entry holds.
    SendMessageA(Item(kSecurityCombo), CB_SETCURSEL,
                 static_cast<WPARAM>(IsKnownSecurityMode(security) ? security : -1), 0);
    SetItemText(window(), kFingerprintEdit, fingerprint);
}

ServerType ServerSettingsDialog::CheckedType() const {
    for (const TypeRadio& radio : kTypeRadios) {
        if (IsItemChecked(window(), radio.id)) {
            return radio.type;
        }
    }
    return serverType;
}

void ServerSettingsDialog::MovePort(int id, const std::function<int(int)>& moved) {
    // Ports the user chose stay; other edits are left exactly as typed.
    int port = 0;
    if (ParseWholeInt(GetItemText(window(), id), port)) {
        if (const int next = moved(port); next != port) {
            SetItemInt(window(), id, next);
        }
    }
}

void ServerSettingsDialog::TypeChanged() {
    const ServerType oldType = serverType;
    serverType = CheckedType();

    // Only POP3 logins are replaced on the way; the texts stay for a switch back.
    const bool pop3 = serverType == ServerType::Pop3;
    EnableWindow(Item(kUserNameEdit), pop3 ? TRUE : FALSE);
    EnableWindow(Item(kPasswordEdit), pop3 ? TRUE : FALSE);

    const ServerType newType = serverType;
    const int mode = security;
    MovePort(kLocalPortEdit, [oldType, newType](int port) {
        return SettingsEdits::LocalPortAfterType(port, oldType, newType);
    });
    MovePort(kRemotePortEdit, [oldType, newType, mode](int port) {
        return SettingsEdits::RemotePortAfterType(port, oldType, newType, mode);
    });
}

int ServerSettingsDialog::ChosenMode() const {
    const LRESULT chosen = SendMessageA(Item(kSecurityCombo), CB_GETCURSEL, 0, 0);
    return chosen >= 0 && IsKnownSecurityMode(static_cast<int>(chosen)) ? static_cast<int>(chosen)
                                                                        : -1;
}

void ServerSettingsDialog::SecurityChanged() {
    const int chosen = ChosenMode();
    if (chosen < 0) {
        return;
    }
    const ServerType type = serverType;
    const int from = security;
    MovePort(kRemotePortEdit, [type, from, chosen](int port) {
        return SettingsEdits::RemotePortAfterSecurity(port, type, from, chosen);
    });
    security = chosen;
}

bool ServerSettingsDialog::OnCommand(UINT id, UINT code, HWND control) {
    (void)control;
    const bool radio = id == kSmtpRadio || id == kPop3Radio || id == kImap4Radio;
    if (radio && code == BN_CLICKED) {
        TypeChanged();
        return true;
    }
    if (id == kSecurityCombo && code == CBN_SELCHANGE) {
        SecurityChanged();
        return true;
    }
    return false;
}

void ServerSettingsDialog::OnOK() {
    const ServerType type = CheckedType();
    int local = localPort;
    if (!ReadItemInt(window(), kLocalPortEdit, local, notifier_)) {
        return;
    }
    const std::string name =
        GetItemText(window(), kServerNameEdit).substr(0, ServerEntry::kMaxNameLength);
    int remote = remotePort;
    if (!ReadItemInt(window(), kRemotePortEdit, remote, notifier_)) {
        return;
    }
    const std::string user = GetItemText(window(), kUserNameEdit);
    const std::string pass = GetItemText(window(), kPasswordEdit);
    if (LoginHoldsLineBreakOrNul(user) || LoginHoldsLineBreakOrNul(pass)) {
        notifier_.ShowMessage(window(), kLoginLineBreakText);
        SetFocus(Item(LoginHoldsLineBreakOrNul(user) ? kUserNameEdit : kPasswordEdit));
        return;
    }
    if (!user.empty() && !pass.empty() && user.size() + pass.size() > kMaxCredentialText) {
        // The stored login block has no room for it; say so rather than drop the login.
        notifier_.ShowMessage(window(), "The user name and password together can have at most " +
                                            std::to_string(kMaxCredentialText) + " characters.");
        SetFocus(Item(kPasswordEdit));
        return;
    }
    const std::string typedPrint = GetItemText(window(), kFingerprintEdit);
    const std::string print = NormalizeFingerprint(typedPrint);
    if (print.empty() && typedPrint.find_first_not_of(" \t") != std::string::npos) {
        notifier_.ShowMessage(window(), kBadFingerprintText);
        SetFocus(Item(kFingerprintEdit));
        SendMessageA(Item(kFingerprintEdit), EM_SETSEL, 0, -1);
        return;
    }
    const int chosen = ChosenMode();
    serverType = type;
    localPort = local;
    serverName = name;
    remotePort = remote;
    userName = user;
    password = pass;
    if (chosen >= 0) {
        security = chosen;
    }
    fingerprint = print;
    EndDialog(IDOK);
}

}  // namespace vantel
