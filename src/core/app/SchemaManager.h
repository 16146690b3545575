// Saving the settings everywhere they are kept, and switching, saving and deleting schemas.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/app/CompanionService.h"
#include "core/app/RelayControl.h"
#include "core/config/RelaySettings.h"
#include "core/config/SettingsPersistence.h"
#include "platform/Notifier.h"
#include "platform/SettingsStore.h"

namespace vantel {

class SchemaManager {
  public:
    /// Longest schema name: it becomes a registry key name.
    static constexpr std::size_t kMaxSchemaName = 255;

    /// `isNT`: the machine-wide copy and the companion service exist on this system.
    SchemaManager(RelaySettings& settings, SettingsPersistence& persistence,
                  CompanionService& service, RelayControl& relay, Notifier& notifier, bool isNT)
        : settings_(settings),
          persistence_(persistence),
          service_(service),
          relay_(relay),
          notifier_(notifier),
          isNT_(isNT) {}

    /// Keeps every following save and schema deletion to `root` alone: a program that edits
    /// one copy of the settings (the command line on a file's machine-wide copy) leaves the
    /// other as it is.
    void KeepTo(StoreRoot root) { onlyRoot_ = root; }

    /// Writes the settings in use to the machine copy (NT family), then to the user's copy;
    /// while UseService is on, then keeps the service installed and tells it to reload (with
    /// it off no service is touched). False when the user's copy could not be saved.
    bool SaveEverywhere();

    /// Leaves the current schema (saving it) and loads schema `index` (0 = default).
    void SelectSchema(int index);

    /// Stores the settings in use as the named schema and makes it current. A name that
    /// differs from a stored one only in case names that schema (they would share one key).
    /// False, with a message, for a name that cannot be a key name.
    bool SaveSchemaAs(std::string_view name);

    /// Deletes the named schema; when it was current, the default schema takes over the
    /// settings in use. False, with a message, when there is no such schema. `removed` runs
    /// once the schema is gone from the list and the store, before the user is told, so that
    /// a display of the names is already up to date when the message shows.
    bool DeleteSchema(std::string_view name, const std::function<void()>& removed = {});

    /// The position (1-based, as DefaultSchema counts) of the schema `name` names: the exact
    /// name, else one that differs only in letter case; 0 when there is none.
    static int FindSchema(const StringList& schemes, std::string_view name);

    /// Why `name` cannot name a schema, or empty when it can.
    static std::string CheckSchemaName(std::string_view name);

  private:
    RelaySettings& settings_;
    SettingsPersistence& persistence_;
    CompanionService& service_;
    RelayControl& relay_;
    Notifier& notifier_;
    bool isNT_;
    std::optional<StoreRoot> onlyRoot_;
};

}  // namespace vantel
