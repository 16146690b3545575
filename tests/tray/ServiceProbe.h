// What the service control manager holds for the companion service, asked without going
// through the code under test.
#pragma once

#include <string>

namespace vantel::test {

/// Whether a service named VantelSrv is installed.
bool ServiceInstalled();
/// The installed service's image path as the manager keeps it; empty when not installed.
std::string InstalledImagePath();

}  // namespace vantel::test
