#include "tray/MessageBoxNotifier.h"

#include <windows.h>

#include <string>

#include "core/relay/RelayEngine.h"

namespace vantel {
namespace {

constexpr const char* kCaption = "Vantel";

int Box(std::string_view text, UINT style) {
    return MessageBoxA(nullptr, std::string(text).c_str(), kCaption, style);
}

}  // namespace

void MessageBoxNotifier::ShowMessage(std::string_view text) {
    Box(text, MB_OK);
}

void MessageBoxNotifier::ShowWarning(std::string_view text) {
    Box(text, MB_OK | MB_ICONEXCLAMATION);
}

void MessageBoxNotifier::ShowError(std::string_view text, std::string_view detail) {
    // The details (which port, which host) go to the debug output with the trace.
    OutputDebugStringA(("[Vantel] " + std::string(text) + ": " + std::string(detail)).c_str());
    if (text == RelayEngine::kListenFailedText) {
        Beep(500, 100);
    }
    Box(text, MB_OK | MB_SYSTEMMODAL);
}

bool MessageBoxNotifier::AskYesNo(std::string_view text) {
    return Box(text, MB_YESNO | MB_SYSTEMMODAL) != IDNO;
}

bool MessageBoxNotifier::AskOkCancel(std::string_view text) {
    return Box(text, MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}

}  // namespace vantel
