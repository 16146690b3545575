#include "tray/dialogs/ModalDriver.h"

#include <vector>

namespace vantel::test {
namespace {

struct Driver {
    const std::function<void(HWND)>* act;
    bool done = false;
};

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ENTERIDLE && wParam == MSGF_DIALOGBOX) {
        auto* driver = reinterpret_cast<Driver*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (driver != nullptr && !driver->done) {
            driver->done = true;
            (*driver->act)(reinterpret_cast<HWND>(lParam));
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeOwner(Driver& driver) {
    static const char* const kClass = "VantelTestModalOwner";
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = OwnerProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClass;
    RegisterClassA(&windowClass);  // fails harmlessly once registered
    HWND owner = CreateWindowA(kClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(owner, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&driver));
    return owner;
}

}  // namespace

INT_PTR RunModalWith(Dialog& dialog, const std::function<void(HWND)>& act) {
    Driver driver{&act};
    HWND owner = MakeOwner(driver);
    const INT_PTR result = dialog.RunModal(owner);
    DestroyWindow(owner);
    return result;
}

void Click(HWND dialog, int id) {
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

HWND PageWith(HWND options, int id, const char* className) {
    for (HWND page = FindWindowExA(options, nullptr, "#32770", nullptr); page != nullptr;
         page = FindWindowExA(options, page, "#32770", nullptr)) {
        char name[64] = {};
        HWND control = GetDlgItem(page, id);
        if (control != nullptr && GetClassNameA(control, name, sizeof name) > 0 &&
            lstrcmpiA(name, className) == 0) {
            return page;
        }
    }
    return nullptr;
}

INT_PTR ScriptedEditors::operator()(Dialog& dialog, HWND) {
    if (static_cast<std::size_t>(ran) >= acts.size()) {
        return IDCANCEL;
    }
    return RunModalWith(dialog, acts[static_cast<std::size_t>(ran++)]);
}

}  // namespace vantel::test
