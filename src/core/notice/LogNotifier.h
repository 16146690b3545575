// Notices as time-stamped lines of a log.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "platform/LogSink.h"
#include "platform/Notifier.h"

namespace vantel {

/// Writes every message and notice as one line, "2026-12-09 17:22:33 <text>", local time.
/// Questions are not asked here: they are answered Yes and OK, as where nobody can answer.
class LogNotifier : public Notifier {
  public:
    explicit LogNotifier(LogSink& log) : log_(log) {}

    void ShowMessage(std::string_view text) override;
    void ShowError(const Notice& notice) override { ShowMessage(notice.Line()); }

    /// "YYYY-MM-DD HH:MM:SS" of `when`, local time.
    static std::string Stamp(std::time_t when);

  private:
    LogSink& log_;
};

}  // namespace vantel
