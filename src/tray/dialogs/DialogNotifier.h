// How the tray program tells the user something from a window: the box belongs to the window
// that asks, so that window waits for the answer.
#pragma once

#include <windows.h>

#include <string_view>

#include "platform/Notifier.h"

namespace vantel {

class DialogNotifier : public Notifier {
  public:
    using Notifier::AskOkCancel;
    using Notifier::ShowMessage;
    using Notifier::ShowWarning;

    /// `asking` is the window that asks (a dialog, a page or a control in one); the box is
    /// modal to its top-level window and opens over it.
    virtual void ShowMessage(HWND asking, std::string_view text) = 0;
    virtual void ShowWarning(HWND asking, std::string_view text) = 0;
    virtual bool AskOkCancel(HWND asking, std::string_view text) = 0;
};

}  // namespace vantel
