// The port a server entry of each type listens on and connects to unless the user says
// otherwise; the entry editor moves ports that still hold the old type's default.
#pragma once

#include "core/config/ServerEntry.h"

namespace vantel {

class DefaultPortTable {
  public:
    /// The well-known port of `type`; 0 for a value outside the enumeration.
    static constexpr int PortOf(ServerType type) {
        switch (type) {
            case ServerType::Smtp:
                return 25;
            case ServerType::Pop3:
                return 110;
            case ServerType::Imap4:
                return 143;
        }
        return 0;
    }
};

}  // namespace vantel
