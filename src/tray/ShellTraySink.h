// The notification area of the Windows shell.
#pragma once

#include "tray/TraySink.h"

namespace vantel {

class ShellTraySink : public TraySink {
  public:
    bool NotifyIcon(DWORD message, const NOTIFYICONDATAA& data) override {
        return Shell_NotifyIconA(message, const_cast<NOTIFYICONDATAA*>(&data)) != FALSE;
    }
};

}  // namespace vantel
