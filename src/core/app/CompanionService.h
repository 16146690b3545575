// The companion service that can do the relaying instead of the desktop program.
#pragma once

namespace vantel {

class CompanionService {
  public:
    virtual ~CompanionService() = default;
    /// True while the service is installed and running (it then owns the listening ports).
    virtual bool IsServiceRunning() = 0;
    /// Installs the service when missing and asks a running one to re-read the machine copy
    /// of the settings. Only for a service the user wants.
    virtual void NotifyServiceReload() = 0;
    /// Installs the service when missing and starts it; false (the user was told) when it
    /// did not start.
    virtual bool StartRelayService() { return false; }
    /// Stops the service and uninstalls it.
    virtual bool StopRelayService() { return true; }
    /// Start-up with the service wanted: running, or started now.
    virtual bool EnsureServiceRunning() { return IsServiceRunning() || StartRelayService(); }
    /// Start-up with the service not wanted: none is left installed.
    virtual bool RemoveServiceAtStartup() { return StopRelayService(); }
};

}  // namespace vantel
