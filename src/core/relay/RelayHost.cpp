#include "core/relay/RelayHost.h"

#include "core/config/SettingsPersistence.h"

namespace vantel {

RelayHost::RelayHost(EventLoop& loop, Notifier& notifier, TraceSink* trace,
                     RelayStateObserver& observer, std::uint32_t randomSeed)
    : random_(randomSeed),
      sessionNotices_(loop, notifier),
      rewriter_(settings_, random_, sessionNotices_, kludgeFiles_),
      engine_(settings_, loop, rewriter_, notifier, trace, observer) {}

void RelayHost::Load(SettingsStore& store, bool machine) {
    RelaySettings loaded;
    SettingsPersistence persistence(store);
    persistence.SetUseMachineStore(machine);
    persistence.LoadSettings(loaded, -1);
    settings_ = std::move(loaded);
    if (tokens_) {
        tokens_->SetDefaults(OAuthDefaults::Of(settings_));
    }
}

void RelayHost::Start() {
    engine_.StartRelay();
    engine_.SetRelayState(true, false);
}

void RelayHost::Apply() {
    engine_.StartRelay();
}

void RelayHost::Reload(SettingsStore& store, bool machine) {
    Load(store, machine);
    Apply();
}

}  // namespace vantel
