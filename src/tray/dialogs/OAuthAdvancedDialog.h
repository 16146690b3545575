// The OAuth 2.0 values of an entry that few need: the Microsoft tenant, another provider's
// endpoints and scopes, and the SASL mechanism. Empty fields take the provider's own.
#pragma once

#include <string>

#include "core/config/OAuthSignIn.h"
#include "tray/dialogs/Dialog.h"
#include "tray/dialogs/DialogContext.h"

namespace vantel {

class OAuthAdvancedDialog : public Dialog {
  public:
    static constexpr int kTenantEdit = 1001;
    static constexpr int kAuthorizeUrlEdit = 1002;
    static constexpr int kTokenUrlEdit = 1003;
    static constexpr int kDeviceUrlEdit = 1004;
    static constexpr int kScopesEdit = 1005;
    /// The provider's default, XOAUTH2, OAUTHBEARER.
    static constexpr int kMechanismCombo = 1006;

    explicit OAuthAdvancedDialog(const DialogContext& context);

    /// Which fields apply: the tenant to Microsoft, endpoints and scopes to other providers
    /// (the others have theirs built in); all of them to a provider this program does not know.
    std::string provider;
    /// Set before the run; its tenant, endpoints, scopes and mechanism are read back after OK.
    /// A mechanism the list does not name stays unless one is picked.
    OAuthSignIn oauth;

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    DialogNotifier& notifier_;
    /// The list position of the stored mechanism; -1 when the list does not name it.
    int storedMechanism_ = -1;
};

}  // namespace vantel
