// The messages of the settings operations (a schema saved, a name refused), on a stream.
#pragma once

#include <ostream>
#include <string_view>

#include "cli/PrintableText.h"
#include "cli/TextTable.h"
#include "platform/Notifier.h"

namespace vantel {

/// Prints each message as one line; null stream: says nothing.
class CliNotifier : public Notifier {
  public:
    explicit CliNotifier(std::ostream* out = nullptr) : out_(out) {}
    void ShowMessage(std::string_view text) override {
        if (out_ != nullptr) {
            *out_ << PrintableText(text) << '\n';
        }
    }

  private:
    std::ostream* out_;
};

}  // namespace vantel
