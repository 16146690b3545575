#include "tray/ServiceProbe.h"

#include <windows.h>

#include <vector>

#include "tray/ServiceControl.h"

namespace vantel::test {
namespace {

/// Runs `use` on the service opened for reading its configuration; false when it is not
/// installed.
template <typename Use>
bool WithService(Use use) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return false;
    }
    SC_HANDLE service = OpenServiceA(manager, ServiceControl::kServiceName, SERVICE_QUERY_CONFIG);
    if (service != nullptr) {
        use(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return service != nullptr;
}

}  // namespace

bool ServiceInstalled() {
    return WithService([](SC_HANDLE) {});
}

std::string InstalledImagePath() {
    std::string path;
    WithService([&path](SC_HANDLE service) {
        DWORD needed = 0;
        QueryServiceConfigA(service, nullptr, 0, &needed);
        std::vector<char> buffer(needed + sizeof(QUERY_SERVICE_CONFIGA));
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
        if (QueryServiceConfigA(service, config, static_cast<DWORD>(buffer.size()), &needed) &&
            config->lpBinaryPathName != nullptr) {
            path = config->lpBinaryPathName;
        }
    });
    return path;
}

}  // namespace vantel::test
