// The relay without a desktop: settings from a .reg file, notices on standard error.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "core/config/RelaySettings.h"
#include "core/relay/RelayHost.h"
#include "core/relay/RelayStateObserver.h"
#include "daemon/ConsoleNotifier.h"
#include "daemon/ConsoleTrace.h"
#include "platform/EventLoop.h"

namespace vantel {

class RelayDaemon : private RelayStateObserver {
  public:
    struct Options {
        std::filesystem::path storePath;
        bool machine = false;  ///< the machine-wide copy instead of the user's
        bool trace = false;
    };

    RelayDaemon(EventLoop& loop, Options options);

    /// Loads the settings; false (with the reason on standard error) when the file cannot
    /// be read.
    bool Load();
    /// Opens the listeners of the loaded settings.
    void Start();
    /// Re-reads the settings; listeners follow them and sessions in progress go on. A file
    /// that cannot be read, has gone or is empty leaves the running settings in place.
    void Reload();
    /// Closes the listeners, lets the sessions deliver what they read, then ends the loop.
    void Stop();

    const RelaySettings& Settings() { return host_.settings(); }

  private:
    void OnRelayStateChanged() override {}

    EventLoop& loop_;
    Options options_;
    ConsoleNotifier notifier_;
    ConsoleTrace trace_;
    RelayHost host_;
    bool stopping_ = false;
};

}  // namespace vantel
