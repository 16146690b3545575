#include "tray/dialogs/OAuthAdvancedDialog.h"

#include <utility>

#include "core/config/ServerEntry.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/Placement.h"
#include "tray/resource.h"

namespace vantel {
namespace {

/// The list's choices; the first stores as empty.
constexpr const char* kMechanisms[] = {"Provider's default", "XOAUTH2", "OAUTHBEARER"};

/// The complaint about a value OK cannot take: each goes into a request or SASL message.
constexpr const char* kLineBreakText = "The advanced sign-in settings cannot contain line breaks.";

int MechanismChoiceOf(const std::string& mechanism) {
    if (mechanism.empty()) {
        return 0;
    }
    for (int i = 1; i < 3; ++i) {
        if (lstrcmpiA(mechanism.c_str(), kMechanisms[i]) == 0) {
            return i;
        }
    }
    return -1;
}

bool Is(const std::string& provider, const char* name) {
    return lstrcmpiA(provider.c_str(), name) == 0;
}

}  // namespace

OAuthAdvancedDialog::OAuthAdvancedDialog(const DialogContext& context)
    : Dialog(context.instance, IDD_OAUTH_ADVANCED), notifier_(*context.notifier) {}

bool OAuthAdvancedDialog::OnInitDialog() {
    CentreOnOwner(window());
    for (const char* mechanism : kMechanisms) {
        SendMessageA(Item(kMechanismCombo), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(mechanism));
    }
    SetItemText(window(), kTenantEdit, oauth.Tenant);
    SetItemText(window(), kAuthorizeUrlEdit, oauth.AuthorizeUrl);
    SetItemText(window(), kTokenUrlEdit, oauth.TokenUrl);
    SetItemText(window(), kDeviceUrlEdit, oauth.DeviceUrl);
    SetItemText(window(), kScopesEdit, oauth.Scopes);
    storedMechanism_ = MechanismChoiceOf(oauth.Mechanism);
    SendMessageA(Item(kMechanismCombo), CB_SETCURSEL, static_cast<WPARAM>(storedMechanism_), 0);

    // Values that do not apply stay shown, and kept, for a switch of provider.
    const bool known = Is(provider, "microsoft") || Is(provider, "google") || Is(provider, "other");
    const bool tenant = !known || Is(provider, "microsoft");
    const bool endpoints = !known || Is(provider, "other");
    EnableWindow(Item(kTenantEdit), tenant ? TRUE : FALSE);
    for (int id : {kAuthorizeUrlEdit, kTokenUrlEdit, kDeviceUrlEdit, kScopesEdit}) {
        EnableWindow(Item(id), endpoints ? TRUE : FALSE);
    }
    return true;
}

void OAuthAdvancedDialog::OnOK() {
    const std::pair<int, std::string OAuthSignIn::*> fields[] = {
        {kTenantEdit, &OAuthSignIn::Tenant},
        {kAuthorizeUrlEdit, &OAuthSignIn::AuthorizeUrl},
        {kTokenUrlEdit, &OAuthSignIn::TokenUrl},
        {kDeviceUrlEdit, &OAuthSignIn::DeviceUrl},
        {kScopesEdit, &OAuthSignIn::Scopes}};
    OAuthSignIn values = oauth;
    for (const auto& [id, field] : fields) {
        values.*field = GetItemText(window(), id);
        if (LoginHoldsLineBreakOrNul(values.*field)) {
            notifier_.ShowMessage(window(), kLineBreakText);
            SetFocus(Item(id));
            return;
        }
    }
    const int chosen = static_cast<int>(SendMessageA(Item(kMechanismCombo), CB_GETCURSEL, 0, 0));
    if (chosen >= 0 && chosen != storedMechanism_) {
        values.Mechanism = chosen == 0 ? std::string() : std::string(kMechanisms[chosen]);
    }
    oauth = values;
    EndDialog(IDOK);
}

}  // namespace vantel
