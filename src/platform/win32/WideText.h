// UTF-8, the program's own text, to and from the UTF-16 of the wide Windows calls.
#pragma once

#include <string>
#include <string_view>

namespace vantel {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

/// The system's words for a Windows error code, without the trailing full stop, and the code
/// ("Access is denied (error 5)"). `module` names a DLL whose messages come first (winhttp).
std::string SystemErrorText(unsigned long code, const wchar_t* module = nullptr);

}  // namespace vantel
