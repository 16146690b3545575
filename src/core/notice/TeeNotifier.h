// One notice, two ways: a box for the user and a line in the log.
#pragma once

#include "platform/Notifier.h"

namespace vantel {

/// Tells `first` and then `second` everything; questions go to `first` alone, which is where
/// somebody can answer them.
class TeeNotifier : public Notifier {
  public:
    TeeNotifier(Notifier& first, Notifier& second) : first_(first), second_(second) {}

    void ShowMessage(std::string_view text) override {
        second_.ShowMessage(text);  // the log first: a box waits until it is closed
        first_.ShowMessage(text);
    }
    void ShowWarning(std::string_view text) override {
        second_.ShowWarning(text);
        first_.ShowWarning(text);
    }
    void ShowError(const Notice& notice) override {
        second_.ShowError(notice);
        first_.ShowError(notice);
    }
    bool AskYesNo(std::string_view text) override { return first_.AskYesNo(text); }
    bool AskOkCancel(std::string_view text) override { return first_.AskOkCancel(text); }

  private:
    Notifier& first_;
    Notifier& second_;
};

}  // namespace vantel
