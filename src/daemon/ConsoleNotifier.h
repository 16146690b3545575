// Notices of the daemon: one line each on standard error.
#pragma once

#include <cstdio>
#include <string>

#include "platform/EscapedText.h"
#include "platform/Notifier.h"

namespace vantel {

class ConsoleNotifier : public Notifier {
  public:
    /// One line whatever `text` holds: no line of it may pass for another of ours.
    void ShowMessage(std::string_view text) override {
        const std::string line = OneLine(text);
        std::fprintf(stderr, "vantel-relay: %.*s\n", static_cast<int>(line.size()), line.data());
    }
    void ShowError(const Notice& notice) override { ShowMessage(notice.Line()); }
};

}  // namespace vantel
