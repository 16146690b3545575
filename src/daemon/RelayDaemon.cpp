#include "daemon/RelayDaemon.h"

#include <ctime>

#include "core/config/SettingsPersistence.h"
#include "platform/store/FileStore.h"

namespace vantel {

RelayDaemon::RelayDaemon(EventLoop& loop, Options options)
    : loop_(loop),
      options_(std::move(options)),
      random_(static_cast<std::uint32_t>(std::time(nullptr))),
      rewriter_(settings_, random_, notifier_, kludgeFiles_),
      engine_(settings_, loop_, rewriter_, notifier_, options_.trace ? &trace_ : nullptr, *this) {}

bool RelayDaemon::Load() {
    FileStore store(options_.storePath);
    if (!store.Load()) {
        notifier_.ShowMessage(store.LastError());
        return false;
    }
    std::error_code ignored;
    if (!std::filesystem::exists(options_.storePath, ignored)) {
        notifier_.ShowMessage("no settings file at " + options_.storePath.string() +
                              "; relaying nothing until one is written there");
    }
    RelaySettings loaded;
    SettingsPersistence persistence(store);
    persistence.SetUseMachineStore(options_.machine);
    persistence.LoadSettings(loaded, -1);
    settings_ = std::move(loaded);
    return true;
}

void RelayDaemon::Start() {
    engine_.StartRelay();
    engine_.SetRelayState(true, false);
}

void RelayDaemon::Reload() {
    if (!Load()) {
        notifier_.ShowMessage("settings not reloaded; the running ones stay");
        return;
    }
    engine_.CloseListeners();
    engine_.StartRelay();
}

void RelayDaemon::Stop() {
    loop_.Quit();
}

}  // namespace vantel
