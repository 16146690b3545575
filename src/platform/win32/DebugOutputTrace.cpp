#include "platform/win32/DebugOutputTrace.h"

#include <windows.h>

#include <string>

namespace vantel {

void DebugOutputTrace::Write(std::string_view text) {
    OutputDebugStringA(std::string(text).c_str());
}

}  // namespace vantel
