// Drives an event loop from a test until a condition holds or time runs out.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/EventLoop.h"

namespace vantel::test {

/// Runs `loop` until `done()` is true (checked every few milliseconds) or `timeoutMs`
/// passes; returns whether `done()` became true.
inline bool RunUntil(EventLoop& loop, const std::function<bool()>& done,
                     std::uint32_t timeoutMs = 10000) {
    if (done()) {
        return true;
    }
    const std::uint64_t deadline = loop.NowMs() + timeoutMs;
    bool reached = false;
    const TimerId poll = loop.StartTimer(2, true, [&] {
        if (done()) {
            reached = true;
            loop.Quit();
        } else if (loop.NowMs() >= deadline) {
            loop.Quit();
        }
    });
    loop.Run();
    loop.StopTimer(poll);
    return reached;
}

}  // namespace vantel::test
