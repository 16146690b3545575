// The relay without a desktop: settings from a .reg file, notices on standard error.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "core/config/RelaySettings.h"
#include "core/notice/LogNotifier.h"
#include "core/notice/LogTrace.h"
#include "core/notice/NoticeCoalescer.h"
#include "core/notice/TeeNotifier.h"
#include "core/relay/RelayHost.h"
#include "core/relay/RelayStateObserver.h"
#include "daemon/ConsoleNotifier.h"
#include "daemon/ConsoleTrace.h"
#include "platform/EventLoop.h"
#include "platform/RollingLogFile.h"
#include "platform/SystemWallClock.h"
#include "platform/posix/CurlHttpClient.h"
#include "platform/posix/FileTokenStore.h"
#include "platform/posix/OpenSslCrypto.h"

namespace vantel {

class RelayDaemon : private RelayStateObserver {
  public:
    struct Options {
        std::filesystem::path storePath;
        bool machine = false;  ///< the machine-wide copy instead of the user's
        bool trace = false;
        std::filesystem::path logPath;  ///< empty: no log file
    };

    RelayDaemon(EventLoop& loop, Options options);

    /// Opens the log file and loads the settings; false (with the reason on standard error)
    /// when either cannot be read or written.
    bool Load();
    /// A line for the user: standard error and the log.
    void Say(std::string_view text) { coalescer_.ShowMessage(text); }
    /// Opens the listeners of the loaded settings.
    void Start();
    /// Re-reads the settings (on SIGHUP, or when the file changed); listeners follow them and
    /// sessions in progress go on. A file that cannot be read, has gone or is empty leaves
    /// the running settings in place. Either way it says what came of it.
    void Reload();
    /// Closes the listeners, lets the sessions deliver what they read, then ends the loop.
    void Stop();

    const RelaySettings& Settings() { return host_.settings(); }

  private:
    void OnRelayStateChanged() override {}
    /// Signs the OAuth 2.0 entries in with the tokens `vantel auth` keeps; without a home
    /// folder there are none, and those entries' clients are told so.
    void UseTokens();
    /// What to run to sign `signIn`'s entry in, by its number in vantel show.
    std::string SignInHint(const OAuthSignIn& signIn);

    EventLoop& loop_;
    Options options_;
    Notifier& Output();
    TraceSink* Trace();

    ConsoleNotifier console_;
    std::unique_ptr<RollingLogFile> logFile_;
    std::unique_ptr<LogNotifier> logNotifier_;
    std::unique_ptr<TeeNotifier> tee_;
    NoticeCoalescer coalescer_;
    ConsoleTrace trace_;
    std::unique_ptr<LogTrace> logTrace_;
    // What the token broker works with; they outlive the host, whose broker uses them.
    OpenSslCrypto crypto_;
    SystemWallClock clock_;
    std::unique_ptr<CurlHttpClient> http_;
    std::unique_ptr<FileTokenStore> tokens_;
    RelayHost host_;
    bool stopping_ = false;
};

}  // namespace vantel
