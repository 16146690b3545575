// The system's calendar clock.
#pragma once

#include "platform/WallClock.h"

namespace vantel {

class SystemWallClock : public WallClock {
  public:
    std::int64_t NowSeconds() override;
};

}  // namespace vantel
