// The relay as every program runs it: settings, rewriting and engine put together.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/config/RelaySettings.h"
#include "core/oauth/AccessTokenSource.h"
#include "core/relay/PostingNotifier.h"
#include "core/relay/RelayEngine.h"
#include "core/relay/RelayStateObserver.h"
#include "core/rewrite/CRuntimeRandom.h"
#include "core/rewrite/CachedKludgeFiles.h"
#include "core/rewrite/MessageRewriter.h"
#include "platform/EventLoop.h"
#include "platform/Notifier.h"
#include "platform/SettingsStore.h"
#include "platform/TlsClient.h"
#include "platform/TraceSink.h"

namespace vantel {

/// Owns the running settings and the relay built on them. The tray program, the service and
/// the daemon differ only in where the settings come from and who watches the relay state.
class RelayHost {
  public:
    /// `trace` may be null. `randomSeed` seeds the generator of the random-line kludges.
    RelayHost(EventLoop& loop, Notifier& notifier, TraceSink* trace, RelayStateObserver& observer,
              std::uint32_t randomSeed);
    RelayHost(const RelayHost&) = delete;
    RelayHost& operator=(const RelayHost&) = delete;

    RelaySettings& settings() { return settings_; }
    RelayEngine& engine() { return engine_; }
    MessageRewriter& rewriter() { return rewriter_; }

    /// Reads the settings of the stored current schema from `store` (the machine copy with
    /// `machine`); the listeners follow at the next Start or Apply.
    void Load(SettingsStore& store, bool machine);
    /// Opens the listeners and shows the relay enabled.
    void Start();
    /// The settings changed: listeners follow them, open ports whose address and port stay
    /// are left open, and sessions in progress keep the entry they started with.
    void Apply();
    /// Secures the server connections of encrypted entries with `context`, this platform's
    /// TLS; null (the system could not provide it, `problem` says why): those entries are
    /// refused with a notice rather than relayed in plain text.
    void UseTls(std::unique_ptr<TlsContext> context, std::string problem) {
        tls_ = std::move(context);
        engine_.SetTls(tls_.get(), std::move(problem));
    }
    /// Where OAuth 2.0 entries get their access tokens; set before Load, which gives it the
    /// program-wide client registrations. Without one (a program that cannot sign in), their
    /// clients are told so when they log in.
    void UseTokens(std::unique_ptr<AccessTokenSource> tokens) {
        tokens_ = std::move(tokens);
        engine_.SetTokenSource(tokens_.get());
    }
    /// Load and Apply.
    void Reload(SettingsStore& store, bool machine);
    /// Closes the listeners, lets the sessions send on what they read (for a while at most),
    /// then calls `done` from the loop.
    void Stop(std::function<void()> done) { engine_.Stop(std::move(done)); }

  private:
    RelaySettings settings_;
    CRuntimeRandom random_;
    CachedKludgeFiles kludgeFiles_;
    /// Notices from the rewriting come from inside socket events: they are shown later.
    PostingNotifier sessionNotices_;
    MessageRewriter rewriter_;
    std::unique_ptr<TlsContext> tls_;            ///< outlives the engine, whose sessions use it
    std::unique_ptr<AccessTokenSource> tokens_;  ///< likewise
    RelayEngine engine_;
};

}  // namespace vantel
