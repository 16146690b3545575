// Where the Windows programs keep their logs: the user's under the local application data,
// the service's under the data shared by every user.
#pragma once

#include <filesystem>

namespace vantel {

class LogLocation {
  public:
    /// <LocalAppData>\Vantel\vantel.log; empty when the system names no such folder.
    static std::filesystem::path UserLog();
    /// <ProgramData>\Vantel\vantel-service.log; empty when the system names no such folder.
    static std::filesystem::path ServiceLog();
};

}  // namespace vantel
