// How the program tells the user something: a message box on the desktop, a log line in the
// daemon.
#pragma once

#include <string_view>

namespace vantel {

class Notifier {
  public:
    virtual ~Notifier() = default;
    /// A plain message the user acknowledges (a box with an OK button on the desktop).
    virtual void ShowMessage(std::string_view text) = 0;
};

}  // namespace vantel
