#include "tray/dialogs/ModalDriver.h"

#include <algorithm>
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

/// Looks for a window from a hidden window's timer, which every modal loop of the thread
/// serves; `act` runs once with the first window `find` names.
struct Watch {
    std::function<HWND()> find;
    const std::function<void(HWND)>* act;
    bool done = false;
};

LRESULT CALLBACK WatcherProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        auto* watch = reinterpret_cast<Watch*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        HWND found = watch != nullptr && !watch->done ? watch->find() : nullptr;
        if (found != nullptr) {
            watch->done = true;
            KillTimer(window, wParam);
            (*watch->act)(found);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

/// Runs `body` while `watch` looks.
void Watching(Watch& watch, const std::function<void()>& body) {
    static const char* const kClass = "VantelTestWatcher";
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WatcherProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClass;
    RegisterClassA(&windowClass);  // fails harmlessly once registered
    HWND watcher = CreateWindowA(kClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(watcher, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&watch));
    SetTimer(watcher, 1, 10, nullptr);
    body();
    DestroyWindow(watcher);
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

std::vector<HWND> ThreadWindows() {
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

}  // namespace

INT_PTR RunModalOver(Dialog& dialog, HWND owner, const std::function<void(HWND)>& act) {
    Watch watch{[&dialog] {
                    HWND window = dialog.window();
                    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
                },
                &act};
    INT_PTR result = -1;
    Watching(watch, [&] { result = dialog.RunModal(owner); });
    return result;
}

bool AnswerBox(const std::function<void()>& body, const std::function<void(HWND box)>& act) {
    const std::vector<HWND> before = ThreadWindows();
    Watch watch{[&before]() -> HWND {
                    for (HWND window : ThreadWindows()) {
                        char name[16] = {};
                        GetClassNameA(window, name, sizeof name);
                        if (lstrcmpA(name, "#32770") == 0 && IsWindowVisible(window) &&
                            std::find(before.begin(), before.end(), window) == before.end()) {
                            return window;
                        }
                    }
                    return nullptr;
                },
                &act};
    Watching(watch, body);
    return watch.done;
}

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

void Choose(HWND dialog, int id, int index) {
    HWND combo = GetDlgItem(dialog, id);
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

int Chosen(HWND dialog, int id) {
    return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
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

INT_PTR ScriptedEditors::operator()(Dialog& dialog, HWND owner) {
    if (static_cast<std::size_t>(ran) >= acts.size()) {
        return IDCANCEL;
    }
    const auto& act = acts[static_cast<std::size_t>(ran++)];
    return overOwner ? RunModalOver(dialog, owner, act) : RunModalWith(dialog, act);
}

}  // namespace vantel::test
