// How a link is opened: the shell first, else the browser registered for ".htm"; and how a
// file is opened in the program the user has for it. The system calls are virtual so tests
// can stand in for the shell and the registry.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace vantel {

class LinkLauncher {
  public:
    virtual ~LinkLauncher() = default;

    /// Opens `url`; a result above 32 is success, else a launch error code.
    INT_PTR GotoURL(const std::string& url, int showCommand);

    /// Opens `file` as a double click in Explorer would (a log in the text editor, say); a
    /// result above 32 is success, else a launch error code.
    INT_PTR OpenFile(const std::filesystem::path& file, int showCommand) {
        return ShellOpenFile(file, showCommand);
    }

    /// The browser command line for `url`: `command` cut where its "%1" placeholder (quoted
    /// or not) starts, then a blank and the URL.
    static std::string BrowserCommandLine(const std::string& command, const std::string& url);
    /// What a launch error code means, as the user is told.
    static std::string ErrorText(INT_PTR code);

  protected:
    /// The shell's "open" of `url`.
    virtual INT_PTR ShellOpen(const std::string& url, int showCommand);
    /// The shell's "open" of `file`, by its wide name.
    virtual INT_PTR ShellOpenFile(const std::filesystem::path& file, int showCommand);
    /// The default value of `key` under HKEY_CLASSES_ROOT; false when it cannot be read.
    virtual bool ReadClassesValue(const std::string& key, std::string& value);
    /// Runs a command line.
    virtual INT_PTR Run(const std::string& commandLine, int showCommand);
};

}  // namespace vantel
