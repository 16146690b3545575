// Where the tray icon's notification-area calls go: the shell in the program, a recorder in
// the tests.
#pragma once

#include <shellapi.h>
#include <windows.h>

namespace vantel {

class TraySink {
  public:
    virtual ~TraySink() = default;
    /// One Shell_NotifyIcon call: `message` is NIM_ADD, NIM_MODIFY or NIM_DELETE.
    virtual bool NotifyIcon(DWORD message, const NOTIFYICONDATAA& data) = 0;
};

}  // namespace vantel
