#include "platform/win32/DebugOutputNotifier.h"

#include <windows.h>

#include <string>

#include "platform/EscapedText.h"

namespace vantel {

void DebugOutputNotifier::ShowMessage(std::string_view text) {
    OutputDebugStringA(("[Vantel] " + OneLine(text) + "\n").c_str());
}

void DebugOutputNotifier::ShowError(const Notice& notice) {
    OutputDebugStringA(("[Vantel] " + notice.Line() + "\n").c_str());
}

}  // namespace vantel
