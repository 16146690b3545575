// The relay trace on standard error, for --trace.
#pragma once

#include <cstdio>

#include "platform/TraceSink.h"

namespace vantel {

class ConsoleTrace : public TraceSink {
  public:
    void Write(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stderr);
        // Each write is a record of its own, as the debug output shows them.
        if (text.empty() || text.back() != '\n') {
            std::fputc('\n', stderr);
        }
    }
};

}  // namespace vantel
