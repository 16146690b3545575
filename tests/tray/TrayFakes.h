// Stand-ins for the shell's notification area and the companion service, for driving the
// main window in-process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/app/CompanionService.h"
#include "tray/TraySink.h"

namespace vantel::test {

/// Records every notification-area call.
class FakeTraySink : public TraySink {
  public:
    struct Call {
        DWORD message;
        DWORD size;
        UINT id;
        UINT flags;
        UINT callbackMessage;
        HICON icon;  ///< null unless NIF_ICON
        std::string tip;
        bool hasTip;
    };
    bool NotifyIcon(DWORD message, const NOTIFYICONDATAA& data) override {
        Call call{message,
                  data.cbSize,
                  data.uID,
                  data.uFlags,
                  data.uCallbackMessage,
                  (data.uFlags & NIF_ICON) != 0 ? data.hIcon : nullptr,
                  (data.uFlags & NIF_TIP) != 0 ? std::string(data.szTip) : std::string(),
                  (data.uFlags & NIF_TIP) != 0};
        calls.push_back(call);
        return true;
    }
    /// The icons passed, in order (calls that left the icon unchanged are skipped).
    std::vector<HICON> Icons() const {
        std::vector<HICON> icons;
        for (const Call& call : calls) {
            if (call.icon != nullptr) {
                icons.push_back(call.icon);
            }
        }
        return icons;
    }
    std::string LastTip() const {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
            if (it->hasTip) {
                return it->tip;
            }
        }
        return {};
    }
    std::vector<Call> calls;
};

/// A companion service that is running or not as the test says, and counts what it is asked.
class FakeCompanionService : public CompanionService {
  public:
    bool IsServiceRunning() override { return running; }
    void NotifyServiceReload() override { ++reloads; }
    bool StartRelayService() override {
        ++starts;
        running = startSucceeds;
        return startSucceeds;
    }
    bool StopRelayService() override {
        ++stops;
        running = false;
        return true;
    }
    bool running = false;
    bool startSucceeds = true;
    int reloads = 0;
    int starts = 0;
    int stops = 0;
};

}  // namespace vantel::test
