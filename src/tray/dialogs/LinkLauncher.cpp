#include "tray/dialogs/LinkLauncher.h"

#include <shellapi.h>

namespace vantel {

INT_PTR LinkLauncher::GotoURL(const std::string& url, int showCommand) {
    const INT_PTR shell = ShellOpen(url, showCommand);
    if (shell > 32) {
        return shell;
    }
    std::string handler;
    if (!ReadClassesValue(".htm", handler)) {
        return shell;
    }
    std::string command;
    if (!ReadClassesValue(handler + "\\shell\\open\\command", command)) {
        return shell;
    }
    return Run(BrowserCommandLine(command, url), showCommand);
}

std::string LinkLauncher::BrowserCommandLine(const std::string& command, const std::string& url) {
    std::size_t placeholder = command.find("\"%1\"");
    if (placeholder == std::string::npos) {
        placeholder = command.find("%1");
    }
    std::string line = placeholder == std::string::npos ? command : command.substr(0, placeholder);
    return line + " " + url;
}

std::string LinkLauncher::ErrorText(INT_PTR code) {
    switch (code) {
        case 0:
            return "The operating system is out\nof memory or resources.";
        case SE_ERR_FNF:
            return "The specified file was not found.";
        case SE_ERR_PNF:
            return "The specified path was not found.";
        case SE_ERR_ACCESSDENIED:
            return "The operating system denied\naccess to the specified file.";
        case SE_ERR_OOM:
            return "There was not enough memory to complete the operation.";
        case ERROR_BAD_FORMAT:
            return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
        case SE_ERR_SHARE:
            return "A sharing violation occurred. ";
        case SE_ERR_ASSOCINCOMPLETE:
            return "The filename association is\nincomplete or invalid.";
        case SE_ERR_DDETIMEOUT:
            return "The DDE transaction could not\nbe completed because the request timed out.";
        case SE_ERR_DDEFAIL:
            return "The DDE transaction failed.";
        case SE_ERR_DDEBUSY:
            return "The DDE transaction could not\nbe completed because other DDE "
                   "transactions\nwere being processed.";
        case SE_ERR_NOASSOC:
            return "There is no application associated\nwith the given filename extension.";
        case SE_ERR_DLLNOTFOUND:
            return "The specified dynamic-link library was not found.";
        default:
            return "Unknown Error (" + std::to_string(code) + ") occurred.";
    }
}

INT_PTR LinkLauncher::ShellOpen(const std::string& url, int showCommand) {
    return reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, showCommand));
}

INT_PTR LinkLauncher::ShellOpenFile(const std::filesystem::path& file, int showCommand) {
    return reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, showCommand));
}

bool LinkLauncher::ReadClassesValue(const std::string& key, std::string& value) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &handle) !=
        ERROR_SUCCESS) {
        return false;
    }
    char buffer[MAX_PATH] = {};
    DWORD size = sizeof buffer - 1;  // room for a terminator the registry may not store
    DWORD type = 0;
    const bool read = RegQueryValueExA(handle, nullptr, nullptr, &type,
                                       reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS &&
                      (type == REG_SZ || type == REG_EXPAND_SZ);
    RegCloseKey(handle);
    if (read) {
        value.assign(buffer);
    }
    return read;
}

INT_PTR LinkLauncher::Run(const std::string& commandLine, int showCommand) {
    return static_cast<INT_PTR>(WinExec(commandLine.c_str(), static_cast<UINT>(showCommand)));
}

}  // namespace vantel
