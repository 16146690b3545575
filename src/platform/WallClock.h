// The calendar time, where the monotonic clock of the event loop will not do: token expiry
// times are absolute and outlive the program.
#pragma once

#include <cstdint>

namespace vantel {

class WallClock {
  public:
    virtual ~WallClock() = default;
    /// Seconds since 1970-01-01 UTC.
    virtual std::int64_t NowSeconds() = 0;
};

}  // namespace vantel
