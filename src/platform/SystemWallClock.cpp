#include "platform/SystemWallClock.h"

#include <chrono>

namespace vantel {

std::int64_t SystemWallClock::NowSeconds() {
    // system_clock counts from 1970-01-01 UTC on every system C++17 runs on.
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace vantel
