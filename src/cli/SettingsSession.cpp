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
    // A store that holds no settings yet is made by this command: it starts from the
    // settings' defaults where an absent value would read as 0 (as older stores rely on).
    const bool fresh = context_.store
                           .ValueNames(SchemaSubkey(""), context_.machine ? StoreRoot::LocalMachine
                                                                          : StoreRoot::CurrentUser)
                           .empty();
    persistence_.LoadSettings(settings_, schemaIndex);
    if (fresh) {
        settings_.ConnectTimeout = RelaySettings().ConnectTimeout;
    }
}

bool SettingsSession::Save() {
    if (!context_.tokenFolder.empty()) {
        settings_.TokenFolder = context_.tokenFolder;
    }
    return Confirm(schemas_.SaveEverywhere());
}

bool SettingsSession::Confirm(bool saved) {
    std::string reason = context_.saveError ? context_.saveError() : std::string();
    if (saved && reason.empty() && ReadsBack()) {
        return true;
    }
    if (reason.empty()) {
        reason = "what was written does not read back (no right to write there?)";
    }
    context_.err << "vantel: the settings could not be saved to " << context_.storeName << ": "
                 << reason << '\n';
    return false;
}

bool SettingsSession::ReadsBack() {
    // The registry takes a refused write without a word: the settings are read again to be
    // sure, from the copy that was edited.
    SettingsPersistence check(context_.store);
    check.SetUseMachineStore(context_.machine);
    RelaySettings stored;
    check.LoadSettings(stored, -1);
    const RelaySettings& saved = settings_;
    return stored.ServerList == saved.ServerList && stored.Kludges == saved.Kludges &&
           stored.SpecialKludges == saved.SpecialKludges && stored.Schemes == saved.Schemes &&
           stored.DefaultSchema == saved.DefaultSchema &&
           stored.ListenAddress == saved.ListenAddress;
}

}  // namespace vantel
