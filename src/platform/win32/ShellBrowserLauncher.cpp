#include "platform/win32/ShellBrowserLauncher.h"

#include <windows.h>

#include <shellapi.h>

#include "platform/win32/WideText.h"

namespace vantel {

bool ShellBrowserLauncher::Open(const std::string& url, std::string& why) {
    const auto startsWith = [&url](const char* prefix) { return url.rfind(prefix, 0) == 0; };
    const bool web = startsWith("https://") || startsWith("http://127.") ||
                     startsWith("http://localhost:") || startsWith("http://localhost/") ||
                     startsWith("http://[::1]");
    if (!web || url.find_first_of(" \"\r\n\t") != std::string::npos) {
        why = "the sign-in page is not a web address";
        return false;
    }
    const std::wstring wide = Widen(url);
    // Greater than 32 means success; the shell gives the rest as small error numbers.
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result > 32) {
        return true;
    }
    why = result == SE_ERR_NOASSOC
              ? "no browser is set up to open web pages"
              : "the browser could not be started (" + SystemErrorText(GetLastError()) + ")";
    return false;
}

}  // namespace vantel
