#include "platform/win32/DebugOutputNotifier.h"

#include <windows.h>

#include <string>

namespace vantel {

void DebugOutputNotifier::ShowMessage(std::string_view text) {
    OutputDebugStringA(("[Vantel] " + std::string(text) + "\n").c_str());
}

void DebugOutputNotifier::ShowError(std::string_view text, std::string_view detail) {
    OutputDebugStringA(
        ("[Vantel] " + std::string(text) + ": " + std::string(detail) + "\n").c_str());
}

}  // namespace vantel
