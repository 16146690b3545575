// The relay without a desktop: settings from a .reg file, notices on standard error.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "core/config/RelaySettings.h"
#include "core/relay/RelayEngine.h"
#include "core/relay/RelayStateObserver.h"
#include "core/rewrite/CRuntimeRandom.h"
#include "core/rewrite/CachedKludgeFiles.h"
#include "core/rewrite/MessageRewriter.h"
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
    /// Re-reads the settings and reopens the listeners; sessions in progress go on. A file
    /// that has become unreadable leaves the running settings in place.
    void Reload();
    void Stop();

    const RelaySettings& Settings() const { return settings_; }
    RelayEngine& Engine() { return engine_; }

  private:
    void UpdateTrayIcon() override {}

    EventLoop& loop_;
    Options options_;
    RelaySettings settings_;
    ConsoleNotifier notifier_;
    ConsoleTrace trace_;
    CRuntimeRandom random_;
    CachedKludgeFiles kludgeFiles_;
    MessageRewriter rewriter_;
    RelayEngine engine_;
};

}  // namespace vantel
