// How the program tells the user something: a message box on the desktop, a log line in the
// daemon.
#pragma once

#include <string_view>

#include "platform/Notice.h"

namespace vantel {

class Notifier {
  public:
    virtual ~Notifier() = default;
    /// A plain message the user acknowledges (a box with an OK button on the desktop).
    virtual void ShowMessage(std::string_view text) = 0;
    /// Something went wrong that the user should heed (an exclamation mark on the desktop).
    virtual void ShowWarning(std::string_view text) { ShowMessage(text); }
    /// A failure of the relay, with the entry, host and reason that go with it.
    virtual void ShowError(const Notice& notice) { ShowMessage(notice.Box()); }
    /// A question with Yes and No; true unless the user answers No. Where nobody can answer
    /// (the daemon), the answer is Yes.
    virtual bool AskYesNo(std::string_view text) {
        (void)text;
        return true;
    }
    /// A confirmation with OK and Cancel; true for OK. Where nobody can answer, OK.
    virtual bool AskOkCancel(std::string_view text) {
        (void)text;
        return true;
    }
};

}  // namespace vantel
