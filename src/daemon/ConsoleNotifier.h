// Notices of the daemon: one line each on standard error.
#pragma once

#include <cstdio>
#include <string>

#include "platform/Notifier.h"

namespace vantel {

class ConsoleNotifier : public Notifier {
  public:
    void ShowMessage(std::string_view text) override {
        std::fprintf(stderr, "vantel-relay: %.*s\n", static_cast<int>(text.size()), text.data());
    }
    void ShowError(const Notice& notice) override { ShowMessage(notice.Line()); }
};

}  // namespace vantel
