#include "tray/MessageBoxNotifier.h"

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "core/relay/RelayEngine.h"
#include "tray/dialogs/Placement.h"

namespace vantel {
namespace {

constexpr const char* kCaption = "Vantel";

/// After the box has laid itself out (centred on the screen), it moves over its owner.
LRESULT CALLBACK CentreOnInit(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                              DWORD_PTR) {
    if (message == WM_INITDIALOG) {
        const LRESULT result = DefSubclassProc(box, message, wParam, lParam);
        CentreOnOwner(box);
        RemoveWindowSubclass(box, CentreOnInit, id);
        return result;
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(box, CentreOnInit, id);
    }
    return DefSubclassProc(box, message, wParam, lParam);
}

/// Catches the box as it is created, before it lays itself out.
LRESULT CALLBACK CatchBox(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        HWND window = reinterpret_cast<HWND>(wParam);
        const auto* created = reinterpret_cast<const CBT_CREATEWNDA*>(lParam);
        char name[16] = {};
        if ((created->lpcs->style & WS_CHILD) == 0 &&
            GetClassNameA(window, name, sizeof name) > 0 && lstrcmpA(name, "#32770") == 0) {
            SetWindowSubclass(window, CentreOnInit, 1, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

/// A box owned by the top-level window of `asking` when that is shown (a hidden window would
/// hold a box nobody sees the reason for), else by nobody.
int Box(HWND asking, std::string_view text, UINT style) {
    HWND owner = asking != nullptr ? GetAncestor(asking, GA_ROOT) : nullptr;
    if (owner != nullptr && !IsWindowVisible(owner)) {
        owner = nullptr;
    }
    // Left alone, the box opens in the middle of the screen, away from the window it stops.
    HHOOK hook = owner != nullptr
                     ? SetWindowsHookExA(WH_CBT, CatchBox, nullptr, GetCurrentThreadId())
                     : nullptr;
    const int answer = MessageBoxA(owner, std::string(text).c_str(), kCaption, style);
    if (hook != nullptr) {
        UnhookWindowsHookEx(hook);
    }
    return answer;
}

}  // namespace

void MessageBoxNotifier::ShowMessage(std::string_view text) {
    ShowMessage(GetActiveWindow(), text);
}

void MessageBoxNotifier::ShowMessage(HWND asking, std::string_view text) {
    Box(asking, text, MB_OK);
}

void MessageBoxNotifier::ShowWarning(std::string_view text) {
    ShowWarning(GetActiveWindow(), text);
}

void MessageBoxNotifier::ShowWarning(HWND asking, std::string_view text) {
    Box(asking, text, MB_OK | MB_ICONEXCLAMATION);
}

void MessageBoxNotifier::ShowError(const Notice& notice) {
    OutputDebugStringA(("[Vantel] " + notice.Line()).c_str());
    if (notice.text == RelayEngine::kListenFailedText) {
        Beep(500, 100);
    }
    Box(nullptr, notice.Box(), MB_OK | MB_SYSTEMMODAL);
}

bool MessageBoxNotifier::AskYesNo(std::string_view text) {
    return Box(nullptr, text, MB_YESNO | MB_SYSTEMMODAL) != IDNO;
}

bool MessageBoxNotifier::AskOkCancel(std::string_view text) {
    return AskOkCancel(GetActiveWindow(), text);
}

bool MessageBoxNotifier::AskOkCancel(HWND asking, std::string_view text) {
    return Box(asking, text, MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}

}  // namespace vantel
