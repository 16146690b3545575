// The tray program: one copy per desktop, the hidden main window's modal loop as the only
// message loop, the settings saved at exit.
#pragma once

#include <windows.h>

namespace vantel {

class MainDialog;

class RelayApp {
  public:
    /// Caption of the hidden main window; a second copy finds it and ends.
    static constexpr const char* kWindowCaption = "Vantel";
    /// Send and receive time-out of relayed sockets at every start.
    static constexpr int kDefaultOperationTimeout = 30;

    explicit RelayApp(HINSTANCE instance) : instance_(instance) {}

    /// Start-up, the run, and shutdown; the process exit code.
    int Run();

    /// Whether this system has services and a machine-wide settings store.
    static bool DetectNT();

    bool isNT = false;
    int operationTimeout = kDefaultOperationTimeout;
    MainDialog* mainDialog = nullptr;

  private:
    HINSTANCE instance_;
};

}  // namespace vantel
