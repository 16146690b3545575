// Where the trace of relayed traffic goes: the debug output on Windows, standard error in
// the daemon when asked for.
#pragma once

#include <string_view>

namespace vantel {

class TraceSink {
  public:
    virtual ~TraceSink() = default;
    /// One trace write; `text` holds no NUL byte.
    virtual void Write(std::string_view text) = 0;
};

}  // namespace vantel
