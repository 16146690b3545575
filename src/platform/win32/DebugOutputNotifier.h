// Notices of a program without a desktop (the service) in the system debug output.
#pragma once

#include "platform/Notifier.h"

namespace vantel {

class DebugOutputNotifier : public Notifier {
  public:
    /// One OutputDebugStringA line "[Vantel] <text>".
    void ShowMessage(std::string_view text) override;
    /// "[Vantel] <text>: <detail>".
    void ShowError(const Notice& notice) override;
};

}  // namespace vantel
