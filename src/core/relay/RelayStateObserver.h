// Who shows the relay state (the tray icon on the desktop).
#pragma once

namespace vantel {

class RelayStateObserver {
  public:
    virtual ~RelayStateObserver() = default;
    /// The relay became enabled, disabled or busy, or its default servers changed.
    virtual void OnRelayStateChanged() = 0;
};

}  // namespace vantel
