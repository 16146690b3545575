// The companion service VantelSrv: the relay of the machine-wide settings, run by the service
// control manager. Stop ends it; control code 206 makes it re-read its settings.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>

#include "platform/EventLoop.h"

namespace vantel {

class RelayService {
  public:
    static constexpr const char* kServiceName = "VantelSrv";
    static constexpr DWORD kReloadControl = 206;

    /// Hands the process to the service control manager; returns when the service has
    /// stopped. False when the process was not started as a service.
    bool Run();

  private:
    static void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
    static DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, LPVOID eventData,
                                       LPVOID context);
    void Serve();
    void ReportStatus(DWORD state, DWORD exitCode = NO_ERROR);
    /// Asks the relay's loop, if it runs, to reload the settings or (`reload` false) to stop.
    void PostToLoop(bool reload);

    SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
    DWORD checkPoint_ = 0;
    /// The relay's loop while it runs; the control handler, on another thread, posts to it
    /// under the lock so that the loop cannot go away meanwhile.
    std::mutex loopLock_;
    EventLoop* loop_ = nullptr;
    std::function<void()> reload_;
    std::function<void()> stop_;
};

}  // namespace vantel
