#include "core/config/SettingsEdits.h"

#include <utility>

#include "core/config/CredentialCodec.h"
#include "core/config/DefaultPortTable.h"

namespace vantel {
namespace {

template <typename Record>
std::size_t AddRecord(std::vector<Record>& records, Record record) {
    records.push_back(std::move(record));
    return records.size() - 1;
}

template <typename Record>
bool EditRecord(std::vector<Record>& records, std::size_t index, Record record) {
    if (index >= records.size()) {
        return false;
    }
    records[index] = std::move(record);
    return true;
}

template <typename Record>
bool RemoveRecord(std::vector<Record>& records, std::size_t index) {
    if (index >= records.size()) {
        return false;
    }
    records.erase(records.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

}  // namespace

int SettingsEdits::LocalPortAfterType(int port, ServerType from, ServerType to) {
    // The client speaks plain text to the relay whatever the mode.
    return DefaultPortTable::MovedPort(port, DefaultPortTable::PortOf(from),
                                       DefaultPortTable::PortOf(to));
}

int SettingsEdits::RemotePortAfterType(int port, ServerType from, ServerType to, int security) {
    return DefaultPortTable::MovedPort(port, DefaultPortTable::RemotePortOf(from, security),
                                       DefaultPortTable::RemotePortOf(to, security));
}

int SettingsEdits::RemotePortAfterSecurity(int port, ServerType type, int from, int to) {
    return DefaultPortTable::MovedPort(port, DefaultPortTable::RemotePortOf(type, from),
                                       DefaultPortTable::RemotePortOf(type, to));
}

void SettingsEdits::ChangeType(ServerEntry& entry, ServerType type) {
    const ServerType from = ServerTypeFromStored(entry.Type);
    entry.LocalPort = LocalPortAfterType(entry.LocalPort, from, type);
    entry.RemotePort = RemotePortAfterType(entry.RemotePort, from, type, entry.Security);
    entry.Type = StoredServerType(type);
}

void SettingsEdits::ChangeSecurity(ServerEntry& entry, int security) {
    entry.RemotePort = RemotePortAfterSecurity(entry.RemotePort, ServerTypeFromStored(entry.Type),
                                               entry.Security, security);
    entry.Security = security;
}

ServerEntry SettingsEdits::NewServer(ServerType type, int security) {
    ServerEntry entry;
    entry.Type = StoredServerType(type);
    entry.Security = security;
    entry.LocalPort = DefaultPortTable::PortOf(type);
    entry.RemotePort = DefaultPortTable::RemotePortOf(type, security);
    return entry;
}

void SettingsEdits::ApplyPreset(ServerEntry& entry, ServerType type,
                                const ServerPreset::Server& preset) {
    ChangeType(entry, type);
    ChangeSecurity(entry, StoredSecurityMode(preset.Security));
    entry.RemotePort = preset.RemotePort;
    entry.Name = preset.Host;
    entry.SignIn = StoredSignInMethod(preset.SignIn);
    if (preset.SignIn == SignInMethod::OAuth2 && entry.OAuth.Provider != preset.Provider) {
        // Another provider's endpoints and tenant mean nothing here.
        OAuthSignIn kept;
        kept.Account = entry.OAuth.Account;
        entry.OAuth = kept;
        entry.OAuth.Provider = preset.Provider;
    }
}

bool SettingsEdits::SetLogin(ServerEntry& entry, const std::vector<ServerEntry>& servers,
                             std::string_view user, std::string_view password, std::uint32_t tick) {
    // Bytes of an earlier, longer login have no business staying in memory.
    entry.Credentials.fill(0);
    entry.CredentialLength = PackCredentials(entry.Credentials, user, password);
    if (entry.CredentialLength != 0 && entry.PassDataIndex == -1) {
        entry.PassDataIndex = ChoosePassDataIndex(servers, tick);
    }
    return entry.CredentialLength != 0;
}

void SettingsEdits::ClearLogin(ServerEntry& entry) {
    entry.Credentials.fill(0);
    entry.CredentialLength = 0;
}

std::size_t SettingsEdits::AddServer(std::vector<ServerEntry>& servers, const ServerEntry& entry) {
    servers.push_back(entry);
    return servers.size() - 1;
}

bool SettingsEdits::ReplaceServer(std::vector<ServerEntry>& servers, std::size_t index,
                                  const ServerEntry& entry) {
    if (index >= servers.size()) {
        return false;
    }
    servers[index] = entry;
    return true;
}

bool SettingsEdits::RemoveServer(std::vector<ServerEntry>& servers, std::size_t index) {
    if (index >= servers.size()) {
        return false;
    }
    servers.erase(servers.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

std::size_t SettingsEdits::AddKludge(RelaySettings& settings, KludgeRecord kludge) {
    return AddRecord(settings.Kludges, std::move(kludge));
}

bool SettingsEdits::EditKludge(RelaySettings& settings, std::size_t index, KludgeRecord kludge) {
    return EditRecord(settings.Kludges, index, std::move(kludge));
}

bool SettingsEdits::RemoveKludge(RelaySettings& settings, std::size_t index) {
    return RemoveRecord(settings.Kludges, index);
}

std::size_t SettingsEdits::AddSpecialKludge(RelaySettings& settings, SpecialKludgeRecord special) {
    return AddRecord(settings.SpecialKludges, std::move(special));
}

bool SettingsEdits::EditSpecialKludge(RelaySettings& settings, std::size_t index,
                                      SpecialKludgeRecord special) {
    return EditRecord(settings.SpecialKludges, index, std::move(special));
}

bool SettingsEdits::RemoveSpecialKludge(RelaySettings& settings, std::size_t index) {
    return RemoveRecord(settings.SpecialKludges, index);
}

}  // namespace vantel
