// The relay trace in the system debug output, where debuggers and trace viewers read it.
#pragma once

#include "platform/TraceSink.h"

namespace vantel {

class DebugOutputTrace : public TraceSink {
  public:
    /// One OutputDebugStringA call per write.
    void Write(std::string_view text) override;
};

}  // namespace vantel
