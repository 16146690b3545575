// Notices of the desktop program as message boxes captioned "Vantel".
#pragma once

#include "platform/Notifier.h"

namespace vantel {

class MessageBoxNotifier : public Notifier {
  public:
    void ShowMessage(std::string_view text) override;
    void ShowWarning(std::string_view text) override;
    /// Relay failures come system-modal, so they are seen over every window; a port that
    /// cannot be opened also beeps.
    void ShowError(std::string_view text, std::string_view detail) override;
    /// System-modal Yes/No.
    bool AskYesNo(std::string_view text) override;
    bool AskOkCancel(std::string_view text) override;
};

}  // namespace vantel
