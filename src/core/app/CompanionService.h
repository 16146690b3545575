// The companion service that can do the relaying instead of the desktop program.
#pragma once

namespace vantel {

class CompanionService {
  public:
    virtual ~CompanionService() = default;
    /// True while the service is installed and running (it then owns the listening ports).
    virtual bool IsServiceRunning() = 0;
    /// Asks a running service to re-read the machine copy of the settings.
    virtual void NotifyServiceReload() = 0;
};

}  // namespace vantel
