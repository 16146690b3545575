// Notices of the desktop program as message boxes captioned "Vantel".
#pragma once

#include "tray/dialogs/DialogNotifier.h"

namespace vantel {

class MessageBoxNotifier : public DialogNotifier {
  public:
    /// A box nobody in particular asks for (the core's) belongs to the window the user works
    /// in: this thread's active window, if it is shown.
    void ShowMessage(std::string_view text) override;
    void ShowMessage(HWND asking, std::string_view text) override;
    void ShowWarning(std::string_view text) override;
    void ShowWarning(HWND asking, std::string_view text) override;
    /// Relay failures come system-modal, so they are seen over every window; a port that
    /// cannot be opened also beeps.
    void ShowError(const Notice& notice) override;
    /// System-modal Yes/No.
    bool AskYesNo(std::string_view text) override;
    bool AskOkCancel(std::string_view text) override;
    bool AskOkCancel(HWND asking, std::string_view text) override;
};

}  // namespace vantel
