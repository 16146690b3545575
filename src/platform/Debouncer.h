// Turns a burst of events into one call.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/EventLoop.h"

namespace vantel {

/// Calls `action` once for a burst of Poke()s: when none has come for `quietMs`, or
/// `maxWaitMs` after the first of the burst if they keep coming, so a steady stream still
/// gets its calls. On the loop's thread only; destroying it drops a call still waiting.
class Debouncer {
  public:
    Debouncer(EventLoop& loop, std::uint32_t quietMs, std::uint32_t maxWaitMs,
              std::function<void()> action)
        : loop_(loop), quietMs_(quietMs), maxWaitMs_(maxWaitMs), action_(std::move(action)) {}
    ~Debouncer() { Cancel(); }
    Debouncer(const Debouncer&) = delete;
    Debouncer& operator=(const Debouncer&) = delete;

    void Poke();

  private:
    void Cancel();
    void Fire();

    EventLoop& loop_;
    const std::uint32_t quietMs_;
    const std::uint32_t maxWaitMs_;
    std::function<void()> action_;
    bool waiting_ = false;  ///< a burst has begun: both timers run
    TimerId quiet_ = 0;
    TimerId deadline_ = 0;
};

}  // namespace vantel
