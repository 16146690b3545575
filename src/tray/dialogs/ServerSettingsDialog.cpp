#include "tray/dialogs/ServerSettingsDialog.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <utility>
#include <vector>

#include "core/config/CredentialCodec.h"
#include "core/config/ServerPreset.h"
#include "core/config/SettingsEdits.h"
#include "platform/EscapedText.h"
#include "platform/TlsFailure.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/LocalPasswordDialog.h"
#include "tray/dialogs/OAuthAdvancedDialog.h"
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

/// The choices of the sign-in list: Password, then OAuth 2.0 with these providers.
constexpr const char* kSignInChoices[] = {"Password", "OAuth 2.0 (Microsoft)", "OAuth 2.0 (Google)",
                                          "OAuth 2.0 (other)"};
constexpr const char* kProviders[] = {"microsoft", "google", "other"};
constexpr int kPasswordChoice = 0;

/// Letter case aside, as the relay reads a provider's name.
bool SameWord(const std::string& a, const char* b) {
    return lstrcmpiA(a.c_str(), b) == 0;
}

/// The list position of a stored method and provider; -1 for one the list does not name.
int SignInChoiceOf(int method, const std::string& provider) {
    if (method == StoredSignInMethod(SignInMethod::Password)) {
        return kPasswordChoice;
    }
    if (method != StoredSignInMethod(SignInMethod::OAuth2)) {
        return -1;
    }
    for (int i = 0; i < static_cast<int>(std::size(kProviders)); ++i) {
        if (SameWord(provider, kProviders[i])) {
            return i + 1;
        }
    }
    return -1;
}

/// What the account, client and advanced fields hold a line break or NUL in; 0: none. The
/// advanced fields are blamed on the button that opens them.
int FieldWithLineBreak(const OAuthSignIn& values) {
    const std::pair<const std::string*, int> fields[] = {
        {&values.Account, ServerSettingsDialog::kAccountEdit},
        {&values.ClientId, ServerSettingsDialog::kClientIdEdit},
        {&values.ClientSecret, ServerSettingsDialog::kClientSecretEdit},
        {&values.Provider, ServerSettingsDialog::kSignInCombo},
        {&values.Tenant, ServerSettingsDialog::kAdvancedButton},
        {&values.AuthorizeUrl, ServerSettingsDialog::kAdvancedButton},
        {&values.TokenUrl, ServerSettingsDialog::kAdvancedButton},
        {&values.DeviceUrl, ServerSettingsDialog::kAdvancedButton},
        {&values.Scopes, ServerSettingsDialog::kAdvancedButton},
        {&values.Mechanism, ServerSettingsDialog::kAdvancedButton}};
    for (const auto& [text, id] : fields) {
        if (LoginHoldsLineBreakOrNul(*text)) {
            return id;
        }
    }
    return 0;
}

bool IsBlank(const std::string& text) {
    return text.find_first_not_of(" \t") == std::string::npos;
}

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
    : Dialog(context.instance, IDD_SERVER_SETTINGS),
      context_(context),
      notifier_(*context.notifier) {}

ServerSettingsDialog::~ServerSettingsDialog() {
    StopSignIn();
}

bool ServerSettingsDialog::OnInitDialog() {
    CentreOnOwner(window());
    SendMessageA(Item(kServerNameEdit), EM_LIMITTEXT, ServerEntry::kMaxNameLength, 0);
    SendMessageA(Item(kUserNameEdit), EM_LIMITTEXT, kMaxCredentialText, 0);
    SendMessageA(Item(kPasswordEdit), EM_LIMITTEXT, kMaxCredentialText, 0);
    for (const char* choice : kSecurityChoices) {
        SendMessageA(Item(kSecurityCombo), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice));
    }
    SendMessageA(Item(kPresetCombo), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("(none)"));
    for (const std::string& name : ServerPreset::Names()) {
        SendMessageA(Item(kPresetCombo), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    for (const char* choice : kSignInChoices) {
        SendMessageA(Item(kSignInCombo), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice));
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
    SendMessageA(Item(kPresetCombo), CB_SETCURSEL, 0, 0);
    // As with the mode: a method or provider the list does not name selects nothing.
    storedSignIn_ = SignInChoiceOf(signIn, oauth.Provider);
    SendMessageA(Item(kSignInCombo), CB_SETCURSEL, static_cast<WPARAM>(storedSignIn_), 0);
    draft_ = oauth;
    SetItemText(window(), kAccountEdit, oauth.Account);
    SetItemText(window(), kClientIdEdit, oauth.ClientId);
    SetItemText(window(), kClientSecretEdit, oauth.ClientSecret);
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

    const ServerType newType = serverType;
    const int mode = security;
    MovePort(kLocalPortEdit, [oldType, newType](int port) {
        return SettingsEdits::LocalPortAfterType(port, oldType, newType);
    });
    MovePort(kRemotePortEdit, [oldType, newType, mode](int port) {
        return SettingsEdits::RemotePortAfterType(port, oldType, newType, mode);
    });
    // A preset still chosen names the provider's server of the new type (not while a sign-in
    // runs with the provider it gave).
    if (oldType != newType && running_ == nullptr &&
        SendMessageA(Item(kPresetCombo), CB_GETCURSEL, 0, 0) > 0) {
        ApplyChosenPreset();
    }
    UpdateControls();
}

int ServerSettingsDialog::ChosenSignIn() const {
    return static_cast<int>(SendMessageA(Item(kSignInCombo), CB_GETCURSEL, 0, 0));
}

int ServerSettingsDialog::SignInMethodShown() const {
    const int chosen = ChosenSignIn();
    if (chosen < 0 || chosen == storedSignIn_) {
        return signIn;
    }
    return StoredSignInMethod(chosen == kPasswordChoice ? SignInMethod::Password
                                                        : SignInMethod::OAuth2);
}

bool ServerSettingsDialog::OAuthShown() const {
    return SignInMethodShown() == StoredSignInMethod(SignInMethod::OAuth2);
}

OAuthSignIn ServerSettingsDialog::CurrentOAuth() const {
    OAuthSignIn values = draft_;
    const int chosen = ChosenSignIn();
    // Password keeps the provider for a switch back; so does the stored choice, as stored.
    if (chosen > kPasswordChoice && chosen != storedSignIn_) {
        values.Provider = kProviders[chosen - 1];
    }
    values.Account = GetItemText(window(), kAccountEdit);
    values.ClientId = GetItemText(window(), kClientIdEdit);
    values.ClientSecret = GetItemText(window(), kClientSecretEdit);
    return values;
}

void ServerSettingsDialog::UpdateControls() {
    const bool idle = running_ == nullptr;
    const bool byPassword = SignInMethodShown() == StoredSignInMethod(SignInMethod::Password);
    const bool byOAuth = OAuthShown();
    const OAuthSignIn values = CurrentOAuth();
    // Only POP3 logins are replaced on the way; the texts stay for a switch back.
    const bool login = serverType == ServerType::Pop3 && byPassword;
    const bool fields = byOAuth && idle;
    SignInService* service = context_.signIn;
    const bool canSignIn = fields && service != nullptr;
    const std::pair<int, bool> states[] = {
        {kUserNameEdit, login},
        {kPasswordEdit, login},
        {kPresetCombo, idle},
        {kSignInCombo, idle},
        {kAccountEdit, fields},
        {kClientIdEdit, fields},
        {kClientSecretEdit, fields && SameWord(values.Provider, "google")},
        {kAdvancedButton, fields},
        {kSignInButton, canSignIn},
        {kSignInWithCodeButton, canSignIn && service->Offers(values, SignInService::Way::Device)},
        {kStopSignInButton, !idle},
    };
    for (const auto& [id, enabled] : states) {
        EnableWindow(Item(id), enabled ? TRUE : FALSE);
    }
    RefreshStatus();
}

void ServerSettingsDialog::RefreshStatus() {
    if (running_ != nullptr) {
        return;  // the sign-in's own lines show
    }
    const bool shown = OAuthShown() && context_.signIn != nullptr;
    ShowStatus(shown ? context_.signIn->Status(CurrentOAuth()) : std::string());
}

void ServerSettingsDialog::ShowStatus(const std::string& line) {
    // The service's words may carry a provider's text: nothing in it may pass as a control.
    SetItemText(window(), kStatusText, OneLine(line));
}

bool ServerSettingsDialog::ApplyChosenPreset() {
    const LRESULT chosen = SendMessageA(Item(kPresetCombo), CB_GETCURSEL, 0, 0);
    const std::vector<std::string> names = ServerPreset::Names();
    if (chosen <= 0 || static_cast<std::size_t>(chosen) > names.size()) {
        return false;
    }
    ServerPreset::Server preset;
    std::string problem;
    if (!ServerPreset::Find(names[static_cast<std::size_t>(chosen) - 1], serverType, preset,
                            problem)) {
        SendMessageA(Item(kPresetCombo), CB_SETCURSEL, 0, 0);
        // "iCloud has no POP3 server": the provider's name begins the sentence as it is.
        notifier_.ShowMessage(window(), problem + ".");
        return false;
    }
    // The entry as the controls hold it, through the rules the command line uses too.
    ServerEntry entry;
    entry.Type = StoredServerType(serverType);
    entry.Security = security;
    entry.SignIn = SignInMethodShown();
    entry.OAuth = CurrentOAuth();
    int port = 0;
    entry.LocalPort = ParseWholeInt(GetItemText(window(), kLocalPortEdit), port) ? port : 0;
    entry.RemotePort = ParseWholeInt(GetItemText(window(), kRemotePortEdit), port) ? port : 0;
    if (SameWord(entry.OAuth.Provider, preset.Provider.c_str())) {
        entry.OAuth.Provider = preset.Provider;  // "Google" is the same provider: keep its client
    }
    const OAuthSignIn before = entry.OAuth;
    SettingsEdits::ApplyPreset(entry, serverType, preset);

    SetItemText(window(), kServerNameEdit, entry.Name);
    SetItemInt(window(), kRemotePortEdit, entry.RemotePort);
    security = entry.Security;
    SendMessageA(Item(kSecurityCombo), CB_SETCURSEL, static_cast<WPARAM>(security), 0);
    SendMessageA(Item(kSignInCombo), CB_SETCURSEL,
                 static_cast<WPARAM>(SignInChoiceOf(entry.SignIn, entry.OAuth.Provider)), 0);
    if (entry.OAuth != before) {
        draft_ = entry.OAuth;
        SetItemText(window(), kAccountEdit, entry.OAuth.Account);
        SetItemText(window(), kClientIdEdit, entry.OAuth.ClientId);
        SetItemText(window(), kClientSecretEdit, entry.OAuth.ClientSecret);
    }
    return true;
}

void ServerSettingsDialog::EditAdvanced() {
    OAuthAdvancedDialog advanced(context_);
    const OAuthSignIn values = CurrentOAuth();
    advanced.provider = values.Provider;
    advanced.oauth = values;
    if (context_.runModal(advanced, window()) != IDOK) {
        return;
    }
    draft_.Tenant = advanced.oauth.Tenant;
    draft_.AuthorizeUrl = advanced.oauth.AuthorizeUrl;
    draft_.TokenUrl = advanced.oauth.TokenUrl;
    draft_.DeviceUrl = advanced.oauth.DeviceUrl;
    draft_.Scopes = advanced.oauth.Scopes;
    draft_.Mechanism = advanced.oauth.Mechanism;
    UpdateControls();
}

bool ServerSettingsDialog::CheckOAuthText(const OAuthSignIn& values) {
    const int blamed = FieldWithLineBreak(values);
    if (blamed == 0) {
        return true;
    }
    notifier_.ShowMessage(window(), kOAuthLineBreakText);
    SetFocus(Item(blamed));
    return false;
}

void ServerSettingsDialog::StartSignIn(SignInService::Way way) {
    SignInService* service = context_.signIn;
    const OAuthSignIn values = CurrentOAuth();
    if (service == nullptr || running_ != nullptr || !CheckOAuthText(values)) {
        return;
    }
    running_ = std::make_shared<int>(0);
    const std::weak_ptr<int> live = running_;
    ShowStatus("Signing in...");
    std::string error;
    const bool started = service->Start(
        values, way,
        [this, live](const std::string& line) {
            if (!live.expired()) {
                ShowStatus(line);
            }
        },
        [this, live, values](const SignInService::Outcome& outcome) {
            if (!live.expired()) {
                SignInDone(values, outcome);
            }
        },
        error);
    if (!started) {
        running_.reset();
        UpdateControls();
        ShowStatus(error);
        return;
    }
    UpdateControls();
}

void ServerSettingsDialog::SignInDone(const OAuthSignIn& values,
                                      const SignInService::Outcome& outcome) {
    running_.reset();
    UpdateControls();
    if (!outcome.signedIn) {
        if (!outcome.failure.empty()) {
            ShowStatus(outcome.failure);
            notifier_.ShowMessage(window(), "The sign-in failed: " + OneLine(outcome.failure));
        }
        return;
    }
    if (outcome.localPassword.empty()) {
        return;  // nothing new for the mail client
    }
    // Shown once: nothing keeps it but the mail client the user gives it to.
    LocalPasswordDialog shown(context_);
    shown.account = values.Account;
    shown.localPassword = outcome.localPassword;
    context_.runModal(shown, window());
}

void ServerSettingsDialog::StopSignIn() {
    if (running_ == nullptr) {
        return;
    }
    running_.reset();
    if (context_.signIn != nullptr) {
        context_.signIn->Cancel();
    }
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
    if (id == kPresetCombo && code == CBN_SELCHANGE) {
        ApplyChosenPreset();
        UpdateControls();
        return true;
    }
    if (id == kSignInCombo && code == CBN_SELCHANGE) {
        UpdateControls();
        return true;
    }
    if ((id == kAccountEdit || id == kClientIdEdit) && code == EN_CHANGE) {
        RefreshStatus();
        return true;
    }
    if (code != BN_CLICKED) {
        return false;
    }
    switch (id) {
        case kAdvancedButton:
            EditAdvanced();
            return true;
        case kSignInButton:
            StartSignIn(SignInService::Way::Browser);
            return true;
        case kSignInWithCodeButton:
            StartSignIn(SignInService::Way::Device);
            return true;
        case kStopSignInButton:
            StopSignIn();
            UpdateControls();
            return true;
        default:
            return false;
    }
}

void ServerSettingsDialog::OnCancel() {
    StopSignIn();
    EndDialog(IDCANCEL);
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
    const OAuthSignIn values = CurrentOAuth();
    if (!CheckOAuthText(values)) {
        return;
    }
    const int method = SignInMethodShown();
    if (method == StoredSignInMethod(SignInMethod::OAuth2) && IsBlank(values.Account)) {
        notifier_.ShowMessage(window(), kNoAccountText);
        SetFocus(Item(kAccountEdit));
        return;
    }
    StopSignIn();
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
    signIn = method;
    oauth = values;
    EndDialog(IDOK);
}

}  // namespace vantel
