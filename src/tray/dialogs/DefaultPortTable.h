// The port a server entry of each type listens on and connects to unless the user says
// otherwise; the Server Settings dialog moves ports that still hold the old default.
#pragma once

#include <array>
#include <cstddef>

#include "core/config/ServerEntry.h"

namespace vantel {

class DefaultPortTable {
  public:
    static constexpr int kTypeCount = 3;

    /// Whether `type` has a row (and a radio button of its own): Smtp, Pop3 or Imap4.
    static constexpr bool Has(int type) { return type >= 0 && type < kTypeCount; }

    static constexpr int PortOf(ServerType type) { return kPorts[static_cast<std::size_t>(type)]; }

  private:
    static constexpr std::array<int, kTypeCount> kPorts{25, 110, 143};
};

}  // namespace vantel
