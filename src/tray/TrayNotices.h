// Where the tray program's relay notices and trace go: message boxes for the user and lines
// in the user's log.
#pragma once

#include "core/notice/LogNotifier.h"
#include "core/notice/LogTrace.h"
#include "core/notice/NoticeCoalescer.h"
#include "core/notice/TeeNotifier.h"
#include "platform/EventLoop.h"
#include "platform/LogSink.h"
#include "platform/Notifier.h"
#include "platform/TraceSink.h"

namespace vantel {

/// A notice opens one box per entry at a time (repeats meanwhile are counted, and the next
/// box says how many) and writes one log line per minute at most, with the count. The trace
/// goes to `also` (may be null) always, and to the log while traffic logging is on.
class TrayNotices {
  public:
    TrayNotices(EventLoop& loop, Notifier& boxes, LogSink& log, TraceSink* also)
        : logNotifier_(log),
          logCoalescer_(loop, logNotifier_, NoticeCoalescer::kLogHoldMs, true),
          boxCoalescer_(loop, boxes, 0, false),
          tee_(boxCoalescer_, logCoalescer_),
          trace_(log, also) {}
    TrayNotices(const TrayNotices&) = delete;
    TrayNotices& operator=(const TrayNotices&) = delete;

    /// What the relay tells the user through.
    Notifier& notifier() { return tee_; }
    /// What the relay traces to.
    TraceSink& trace() { return trace_; }
    /// Whether the relayed traffic goes into the log (the settings' LogTraffic).
    void SetLogTraffic(bool on) { trace_.SetEnabled(on); }

  private:
    LogNotifier logNotifier_;
    NoticeCoalescer logCoalescer_;
    NoticeCoalescer boxCoalescer_;
    /// The log first: a box holds up whatever comes after it until it is closed.
    TeeNotifier tee_;
    LogTrace trace_;
};

}  // namespace vantel
