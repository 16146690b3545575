// The relay trace on standard error, for --trace.
#pragma once

#include <cstdio>
#include <string>

#include "platform/EscapedText.h"
#include "platform/TraceSink.h"

namespace vantel {

class ConsoleTrace : public TraceSink {
  public:
    /// The relayed lines as they came, their controls escaped: a terminal shows them, it
    /// does not act on them.
    void Write(std::string_view text) override {
        const std::string shown = EscapeControlsInLines(text);
        std::fwrite(shown.data(), 1, shown.size(), stderr);
        // Each write is a record of its own, as the debug output shows them.
        if (text.empty() || text.back() != '\n') {
            std::fputc('\n', stderr);
        }
    }
};

}  // namespace vantel
