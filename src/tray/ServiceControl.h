// Installs, starts, stops, removes and notifies the companion service through the service
// control manager. On systems without services (the Windows 95 family) it does nothing and
// the service never runs.
#pragma once

#include <windows.h>

#include <string>

#include "core/app/CompanionService.h"
#include "platform/Notifier.h"

namespace vantel {

class ServiceControl : public CompanionService {
  public:
    static constexpr const char* kServiceName = "VantelSrv";
    /// The control code that makes the service re-read its settings.
    static constexpr DWORD kReloadControl = 206;

    /// `imagePath`: the service executable (vantel.srv beside the program). `isNT`: the
    /// system has a service control manager.
    ServiceControl(bool isNT, std::string imagePath, Notifier& notifier)
        : isNT_(isNT), imagePath_(std::move(imagePath)), notifier_(notifier) {}
    ~ServiceControl() override;
    ServiceControl(const ServiceControl&) = delete;
    ServiceControl& operator=(const ServiceControl&) = delete;

    /// vantel.srv in the directory of the running program.
    static std::string DefaultImagePath();

    /// The service opened with all access, installed first when missing and `install` is
    /// set; nullptr when not NT or when the manager or the service cannot be opened.
    SC_HANDLE OpenRelayService(bool install);
    /// Closes `service` (may be null) and the manager handle.
    void CloseRelayService(SC_HANDLE service);
    /// Creates the service (automatic start, local system); needs the manager open.
    SC_HANDLE InstallService();

    bool IsServiceRunning() override;
    /// Installs when missing and starts; false with message 139 when that fails.
    bool StartRelayService() override;
    /// Stops the service and deletes it whether or not it stopped; a missing one is left
    /// missing. Always true, silent.
    bool StopRelayService() override;
    /// Installs when missing; asks a running service to reload its settings.
    void NotifyServiceReload() override;
    /// Whether the reload request of the last NotifyServiceReload reached a running service.
    bool lastReloadSent() const { return lastReloadSent_; }

  private:
    bool isNT_;
    std::string imagePath_;
    Notifier& notifier_;
    SC_HANDLE manager_ = nullptr;  ///< open only around one operation
    bool lastReloadSent_ = false;
};

}  // namespace vantel
