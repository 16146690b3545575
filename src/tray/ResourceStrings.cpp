#include "tray/ResourceStrings.h"

#include <windows.h>

namespace vantel {

std::string LoadResourceString(unsigned id) {
    // Every string of ours fits; LoadStringA cuts longer ones rather than overrunning.
    char buffer[1024];
    const int length = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace vantel
