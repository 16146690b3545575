#include "platform/win32/LogLocation.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

namespace vantel {
namespace {

/// Wide all the way: a user folder may have any name, whatever the ANSI code page holds.
std::filesystem::path InKnownFolder(REFKNOWNFOLDERID folder, const wchar_t* file) {
    PWSTR found = nullptr;
    std::filesystem::path path;
    if (SUCCEEDED(SHGetKnownFolderPath(folder, 0, nullptr, &found)) && found != nullptr) {
        path = std::filesystem::path(found) / L"Vantel" / file;
    }
    CoTaskMemFree(found);
    return path;
}

}  // namespace

std::filesystem::path LogLocation::UserLog() {
    return InKnownFolder(FOLDERID_LocalAppData, L"vantel.log");
}

std::filesystem::path LogLocation::ServiceLog() {
    return InKnownFolder(FOLDERID_ProgramData, L"vantel-service.log");
}

}  // namespace vantel
