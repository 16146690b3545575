#include "cli/SettingsSession.h"

#include <ostream>

namespace vantel {

SettingsSession::SettingsSession(CliContext& context, Notifier& notifier)
    : context_(context),
      persistence_(context.store),
      schemas_(settings_, persistence_, *this, *this, notifier, context.bothRoots) {
    if (!context.bothRoots) {
        schemas_.KeepTo(context.machine ? StoreRoot::LocalMachine : StoreRoot::CurrentUser);
    }
    persistence_.SetUseMachineStore(context.machine);
}

void SettingsSession::Load(int schemaIndex) {
    persistence_.SetUseMachineStore(context_.machine);
    persistence_.LoadSettings(settings_, schemaIndex);
}

bool SettingsSession::Save() {
    if (schemas_.SaveEverywhere()) {
        return true;
    }
    const std::string reason = context_.saveError ? context_.saveError() : std::string();
    context_.err << "vantel: the settings could not be saved to " << context_.storeName
                 << (reason.empty() ? "" : ": " + reason) << '\n';
    return false;
}

}  // namespace vantel
