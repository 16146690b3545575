#include "platform/win32/DebugOutputTrace.h"

#include <windows.h>

#include <string>

#include "platform/EscapedText.h"

namespace vantel {

void DebugOutputTrace::Write(std::string_view text) {
    // A debug viewer shows the relayed lines as they came, controls escaped.
    OutputDebugStringA(EscapeControlsInLines(text).c_str());
}

}  // namespace vantel
