// Turns SIGHUP, SIGINT and SIGTERM into work on the event loop.
#pragma once

#include <functional>
#include <thread>

#include "platform/EventLoop.h"

namespace vantel {

/// Blocks the three signals in the calling thread (create it before any other thread, so
/// every thread inherits the mask) and waits for them on a thread of its own, which hands
/// each one to the loop: no work is done inside a signal handler.
class SignalWatcher {
  public:
    SignalWatcher(EventLoop& loop, std::function<void()> onReload, std::function<void()> onStop);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

  private:
    std::thread waiter_;
};

}  // namespace vantel
