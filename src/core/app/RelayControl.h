// What the settings operations need from the running relay and its display.
#pragma once

namespace vantel {

class RelayControl {
  public:
    virtual ~RelayControl() = default;
    /// Closes the listeners and opens those of the current settings; sessions in progress
    /// continue.
    virtual void RestartListeners() = 0;
    /// Shows the relay state and the default servers of the current settings.
    virtual void UpdateTrayIcon() = 0;
};

}  // namespace vantel
