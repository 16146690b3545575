// What the settings operations need from the running relay and its display.
#pragma once

#include "core/relay/RelayStateObserver.h"

namespace vantel {

/// Told of the relay state (and the default servers) like any observer, and able to bring
/// the listeners in line with changed settings.
class RelayControl : public RelayStateObserver {
  public:
    /// Brings the listeners in line with the current settings; sessions in progress continue.
    virtual void RestartListeners() = 0;
};

}  // namespace vantel
