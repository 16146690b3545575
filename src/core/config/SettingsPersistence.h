// Maps RelaySettings to and from the settings store, per schema and per root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/config/RelaySettings.h"
#include "platform/SettingsStore.h"

namespace vantel {

/// Reads and writes the settings of the current schema. Holds the name of the current schema
/// and the root selector; the settings record itself is the caller's.
class SettingsPersistence {
  public:
    /// Longest list read from the store: a corrupt count must not make us build billions of
    /// empty entries.
    static constexpr int kMaxListEntries = 65536;

    explicit SettingsPersistence(SettingsStore& store) : store_(store) {}

    const std::string& CurrentSchemaName() const { return currentSchemaName_; }
    bool UseMachineStore() const { return useMachineStore_; }
    /// Selects the root of the following reads and writes (the machine copy only while saving).
    void SetUseMachineStore(bool machine) { useMachineStore_ = machine; }

    /// A value from the global key, or from the current schema's key when `perSchema`.
    std::string ReadSetting(std::string_view name, bool perSchema);
    void WriteSetting(std::string_view name, std::string_view text, bool perSchema);
    /// Replaces `list` with the entries "<name>0" .. "<name>Count-1".
    void ReadList(StringList& list, std::string_view name, bool perSchema);
    /// Writes "<name>Count" and the entries; longer old lists keep their stale tail entries.
    void WriteList(const StringList& list, std::string_view name, bool perSchema);
    /// Stored credential block "PassData<index>" of the current schema; empty when absent or
    /// when longer than a credential block (such a value is refused, not cut).
    std::vector<std::uint8_t> ReadPassData(int index);
    void WritePassData(int index, const std::uint8_t* bytes, std::size_t length);

    /// Rebuilds `Servers` from `ServerList` and stores the POP3 logins and each entry's
    /// security mode, pinned fingerprint and sign-in values.
    void ServersToText(RelaySettings& settings);
    /// Rebuilds `ServerList` from `Servers`, with the stored logins, modes and fingerprints.
    void TextToServers(RelaySettings& settings);

    /// Loads the settings of the stored current schema (`schemaIndex` -1) or of the given one.
    void LoadSettings(RelaySettings& settings, int schemaIndex);
    /// Writes the settings into the current schema under the selected root. False when the
    /// store could not persist them (a file store on a full disk); the registry never says so.
    bool SaveSettings(RelaySettings& settings);
    /// Removes a named schema's key with its values under the selected root.
    void DeleteSchemaKey(std::string_view schemaName);

  private:
    StoreRoot Root() const {
        return useMachineStore_ ? StoreRoot::LocalMachine : StoreRoot::CurrentUser;
    }
    std::string SchemaKey(bool perSchema) const;
    /// "ServerSecurity<ordinal>": the entry's SecurityMode number; absent = None, there but
    /// no number = kUnreadableSecurityMode. `present`: the names of the key's values, in upper
    /// case.
    int ReadServerSecurity(std::size_t ordinal, const std::unordered_set<std::string>& present);
    /// "ServerSignIn<ordinal>": the entry's SignInMethod number; absent = Password, there but
    /// no number = kUnreadableSignInMethod.
    int ReadServerSignIn(std::size_t ordinal, const std::unordered_set<std::string>& present);
    /// Writes the modes, fingerprints and sign-in values the entries have, and deletes those of
    /// ordinals that have none now and the logins no entry holds, so that no value outlives its
    /// entry to attach to the next one.
    void WriteServerSecurity(const std::vector<ServerEntry>& servers);

    SettingsStore& store_;
    std::string currentSchemaName_;
    bool useMachineStore_ = false;
};

/// Key of a schema's values: "Settings" for the default schema, "Settings\<name>" otherwise.
std::string SchemaSubkey(std::string_view schemaName);

}  // namespace vantel
