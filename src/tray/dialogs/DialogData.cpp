#include "tray/dialogs/DialogData.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace vantel {
namespace {

void Complain(HWND dialog, int id, const std::string& text, DialogNotifier& notifier) {
    notifier.ShowMessage(dialog, text);
    HWND control = GetDlgItem(dialog, id);
    if (control != nullptr) {
        SetFocus(control);
        SendMessageA(control, EM_SETSEL, 0, -1);
    }
}

}  // namespace

std::string EnterIntegerBetweenText(int low, int high) {
    return "Please enter an integer between " + std::to_string(low) + " and " +
           std::to_string(high) + ".";
}

std::string GetItemText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) {
        return {};
    }
    const int length = GetWindowTextLengthA(control);
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    const int copied = GetWindowTextA(control, text.data(), length + 1);
    return std::string(text.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

void SetItemText(HWND dialog, int id, const std::string& text) {
    SetDlgItemTextA(dialog, id, text.c_str());
}

void SetItemInt(HWND dialog, int id, int value) {
    SetItemText(dialog, id, std::to_string(value));
}

bool ReadItemInt(HWND dialog, int id, int& value, DialogNotifier& notifier) {
    const std::string text = GetItemText(dialog, id);
    const char* begin = text.c_str();
    while (*begin == ' ' || *begin == '\t') {
        ++begin;
    }
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(begin, &end, 10);
    const char* rest = end;
    while (rest != nullptr && (*rest == ' ' || *rest == '\t')) {
        ++rest;
    }
    if (end == begin || *rest != '\0' || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) {
        Complain(dialog, id, kEnterIntegerText, notifier);
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

bool CheckItemRange(HWND dialog, int id, int value, int low, int high, DialogNotifier& notifier) {
    if (value >= low && value <= high) {
        return true;
    }
    Complain(dialog, id, EnterIntegerBetweenText(low, high), notifier);
    return false;
}

bool IsItemChecked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void CheckItem(HWND dialog, int id, bool checked) {
    CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

}  // namespace vantel
