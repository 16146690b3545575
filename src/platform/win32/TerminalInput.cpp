#include "platform/TerminalInput.h"

#include <windows.h>

namespace vantel {

bool StandardInputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool ReadHiddenLine(std::string_view prompt, std::string& line, std::string& error) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    if (!GetConsoleMode(input, &saved)) {
        error = "standard input is not a console";
        return false;
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), prompt.data(), static_cast<DWORD>(prompt.size()),
              &written, nullptr);
    SetConsoleMode(input, (saved | ENABLE_LINE_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    line.clear();
    bool ended = false;
    for (;;) {
        char c = 0;
        DWORD got = 0;
        if (!ReadFile(input, &c, 1, &got, nullptr) || got == 0) {
            break;
        }
        if (c == '\n') {
            ended = true;
            break;
        }
        line.push_back(c);
    }
    SetConsoleMode(input, saved);
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), "\r\n", 2, &written, nullptr);
    if (!ended && line.empty()) {
        error = "no input";
        return false;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

}  // namespace vantel
