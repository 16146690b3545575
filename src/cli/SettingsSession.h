// The settings a command reads and changes, loaded from and saved to the store as the Windows
// program does it.
#pragma once

#include <string>

#include "cli/CliContext.h"
#include "core/app/CompanionService.h"
#include "core/app/RelayControl.h"
#include "core/app/SchemaManager.h"
#include "core/config/RelaySettings.h"
#include "core/config/SettingsPersistence.h"
#include "platform/Notifier.h"

namespace vantel {

class SettingsSession : private CompanionService, private RelayControl {
  public:
    /// `notifier` gets the messages of the schema operations.
    SettingsSession(CliContext& context, Notifier& notifier);
    SettingsSession(const SettingsSession&) = delete;
    SettingsSession& operator=(const SettingsSession&) = delete;

    /// Loads the current schema, or the one at `schemaIndex` (1-based; 0 the default schema).
    void Load(int schemaIndex = -1);
    /// Saves the settings in use; false with the reason on the error stream.
    bool Save();
    /// Whether what an operation saved (`saved`: as it said) is in the store; false with the
    /// reason on the error stream. The schema operations save by themselves.
    bool Confirm(bool saved);

    RelaySettings& settings() { return settings_; }
    SchemaManager& schemas() { return schemas_; }

  private:
    /// Whether the edited copy of the settings now holds what was saved.
    bool ReadsBack();

    // Nothing runs beside the command: the daemon follows the file by itself, and a running
    // Windows program is told nothing (it reads its settings when it starts).
    bool IsServiceRunning() override { return false; }
    void NotifyServiceReload() override {}
    void RestartListeners() override {}
    void OnRelayStateChanged() override {}

    CliContext& context_;
    RelaySettings settings_;
    SettingsPersistence persistence_;
    SchemaManager schemas_;
};

}  // namespace vantel
