#include "platform/win32/WideText.h"

#include <windows.h>

namespace vantel {

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                            size);
    }
    return wide;
}

std::string Narrow(std::wstring_view utf16) {
    if (utf16.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), text.data(),
                            size, nullptr, nullptr);
    }
    return text;
}

std::string SystemErrorText(unsigned long code, const wchar_t* module) {
    wchar_t* text = nullptr;
    HMODULE from = module != nullptr ? GetModuleHandleW(module) : nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                        FORMAT_MESSAGE_IGNORE_INSERTS |
                        (from != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : 0);
    const DWORD length =
        FormatMessageW(flags, from, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string reason = length != 0 && text != nullptr ? Narrow({text, length}) : std::string();
    LocalFree(text);
    while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' ||
                               reason.back() == ' ' || reason.back() == '.')) {
        reason.pop_back();
    }
    if (reason.empty()) {
        reason = "system error";
    }
    return reason + " (error " + std::to_string(code) + ")";
}

}  // namespace vantel
