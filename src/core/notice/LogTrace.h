// The trace of relayed traffic, into the log while the user wants it there.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/LogSink.h"
#include "platform/TraceSink.h"

namespace vantel {

/// Hands every trace write to `also` (the debug output, say), and to the log while enabled.
/// What reaches a trace has its credentials masked already; its controls are escaped here.
class LogTrace : public TraceSink {
  public:
    LogTrace(LogSink& log, TraceSink* also) : log_(log), also_(also) {}

    void SetEnabled(bool enabled) { enabled_ = enabled; }
    bool enabled() const { return enabled_; }
    void Write(std::string_view text) override;

  private:
    /// Writes shorter than this without a line end are markers for the next one.
    static constexpr std::size_t kMarkerSize = 16;

    LogSink& log_;
    TraceSink* also_;
    std::atomic<bool> enabled_{false};
    std::string marker_;
};

}  // namespace vantel
