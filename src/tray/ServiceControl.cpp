#include "tray/ServiceControl.h"

#include "tray/ResourceStrings.h"
#include "tray/resource.h"

namespace vantel {

ServiceControl::~ServiceControl() {
    CloseRelayService(nullptr);
}

std::string ServiceControl::DefaultImagePath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return "vantel.srv";
    }
    std::string image(path, length);
    const std::size_t slash = image.find_last_of('\\');
    return (slash == std::string::npos ? std::string() : image.substr(0, slash + 1)) + "vantel.srv";
}

SC_HANDLE ServiceControl::OpenRelayService(bool install) {
    if (!isNT_) {
        return nullptr;
    }
    if (manager_ == nullptr) {
        manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (manager_ == nullptr) {
            return nullptr;
        }
    }
    SC_HANDLE service = OpenServiceA(manager_, kServiceName, SERVICE_ALL_ACCESS);
    if (service == nullptr && install) {
        return InstallService();
    }
    return service;
}

void ServiceControl::CloseRelayService(SC_HANDLE service) {
    if (!isNT_) {
        return;
    }
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    if (manager_ != nullptr) {
        CloseServiceHandle(manager_);
        manager_ = nullptr;
    }
}

SC_HANDLE ServiceControl::InstallService() {
    if (manager_ == nullptr) {
        return nullptr;
    }
    // The image path is quoted: the program may live in a directory with blanks.
    const std::string command = "\"" + imagePath_ + "\"";
    return CreateServiceA(manager_, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                          SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                          command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
}

bool ServiceControl::IsServiceRunning() {
    SC_HANDLE service = OpenRelayService(false);
    if (service == nullptr) {
        CloseRelayService(nullptr);
        return false;
    }
    SERVICE_STATUS status{};
    const bool queried = QueryServiceStatus(service, &status) != 0;
    if (!queried) {
        notifier_.ShowMessage(LoadResourceString(IDS_SERVICE_QUERY_FAILED));
    }
    CloseRelayService(service);
    return queried && status.dwCurrentState == SERVICE_RUNNING;
}

bool ServiceControl::StartRelayService() {
    SC_HANDLE service = OpenRelayService(true);
    if (service != nullptr && StartServiceA(service, 0, nullptr)) {
        CloseRelayService(service);
        return true;
    }
    CloseRelayService(service);
    notifier_.ShowMessage(LoadResourceString(IDS_SERVICE_START_FAILED));
    return false;
}

bool ServiceControl::StopRelayService() {
    SC_HANDLE service = OpenRelayService(false);
    if (service != nullptr) {
        SERVICE_STATUS status{};
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        DeleteService(service);
    }
    CloseRelayService(service);
    return true;
}

void ServiceControl::NotifyServiceReload() {
    SC_HANDLE service = OpenRelayService(true);
    lastReloadSent_ = false;
    // The running state is asked on the handle already open rather than through a second
    // open of the manager.
    if (service != nullptr) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status)) {
            notifier_.ShowMessage(LoadResourceString(IDS_SERVICE_QUERY_FAILED));
        } else if (status.dwCurrentState == SERVICE_RUNNING) {
            lastReloadSent_ = ControlService(service, kReloadControl, &status) != 0;
        }
    }
    CloseRelayService(service);
}

}  // namespace vantel
