// Shows the local password a sign-in made, the one time it is shown: the mail client logs in
// to the relay with it.
#pragma once

#include <string>

#include "tray/dialogs/Dialog.h"
#include "tray/dialogs/DialogContext.h"

namespace vantel {

class LocalPasswordDialog : public Dialog {
  public:
    static constexpr int kExplanationText = 1001;
    /// Read-only: the password can be selected and copied, not changed.
    static constexpr int kPasswordEdit = 1002;
    static constexpr int kCopyButton = 1003;

    explicit LocalPasswordDialog(const DialogContext& context);
    ~LocalPasswordDialog() override;

    std::string account;
    std::string localPassword;

  protected:
    bool OnInitDialog() override;
    bool OnCommand(UINT id, UINT code, HWND control) override;

  private:
    /// Puts the password on the clipboard as text; false when the clipboard is not to be had.
    bool CopyToClipboard();

    DialogNotifier& notifier_;
};

}  // namespace vantel
