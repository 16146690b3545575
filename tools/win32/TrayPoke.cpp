// vantel-poke.exe: plays the user's part at the tray icon of a running vantel.exe, for the
// screenshot script (there is no shell notification area under a bare X server).
//   vantel-poke find         exit status 0 once vantel.exe has its window
//   vantel-poke menu X Y     right-click: the tray menu opens at (X, Y)
//   vantel-poke click        one left click (toggles the relay after the double-click time)
//   vantel-poke command ID   a menu command, as if chosen
//   vantel-poke cancel TITLE Cancel in the shown window captioned TITLE (a message box of
//                            the program's has the hidden main window's caption)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tray/resource.h"

namespace {

struct Search {
    const char* title;
    HWND found;
};

BOOL CALLBACK FindShown(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    if (IsWindowVisible(window) && std::strcmp(text, search->title) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: vantel-poke find | menu X Y | click | command ID | cancel TITLE\n",
                   stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "cancel") == 0 && argc == 3) {
        Search search{argv[2], nullptr};
        EnumWindows(FindShown, reinterpret_cast<LPARAM>(&search));
        HWND dialog = search.found;
        if (dialog == nullptr) {
            std::fprintf(stderr, "vantel-poke: no window \"%s\"\n", argv[2]);
            return 1;
        }
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return 0;
    }
    HWND window = FindWindowA(nullptr, "Vantel");
    if (window == nullptr) {
        std::fputs("vantel-poke: no running Vantel found\n", stderr);
        return 1;
    }
    if (std::strcmp(argv[1], "find") == 0) {
        return 0;
    }
    if (std::strcmp(argv[1], "menu") == 0 && argc == 4) {
        SetCursorPos(std::atoi(argv[2]), std::atoi(argv[3]));
        PostMessageA(window, WM_TRAY_NOTIFY, TRAY_ICON_ID, WM_RBUTTONUP);
    } else if (std::strcmp(argv[1], "click") == 0) {
        PostMessageA(window, WM_TRAY_NOTIFY, TRAY_ICON_ID, WM_LBUTTONDOWN);
    } else if (std::strcmp(argv[1], "command") == 0 && argc == 3) {
        PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(std::atoi(argv[2])), 0);
    } else {
        std::fputs("usage: vantel-poke find | menu X Y | click | command ID | cancel TITLE\n",
                   stderr);
        return 2;
    }
    return 0;
}
