// Where log lines go: a file of the user's, of the service's, or one named on the command line.
#pragma once

#include <string_view>

namespace vantel {

class LogSink {
  public:
    virtual ~LogSink() = default;
    /// One line, without its line end; callable from any thread.
    virtual void WriteLine(std::string_view line) = 0;
};

}  // namespace vantel
