#include "core/config/SettingsEdits.h"

#include <utility>

#include "core/config/CredentialCodec.h"
#include "core/config/DefaultPortTable.h"

namespace vantel {
namespace {

// Both paired lists follow the same rules: `keys` says how many entries there are.

void MendPairs(const StringList& keys, StringList& partners) {
    partners.resize(keys.size());
}

std::size_t AddPair(StringList& keys, StringList& partners, std::string key, std::string partner) {
    MendPairs(keys, partners);
    keys.push_back(std::move(key));
    partners.push_back(std::move(partner));
    return keys.size() - 1;
}

bool EditPair(StringList& keys, StringList& partners, std::size_t index, std::string key,
              std::string partner) {
    if (index >= keys.size()) {
        return false;
    }
    MendPairs(keys, partners);
    keys[index] = std::move(key);
    partners[index] = std::move(partner);
    return true;
}

bool RemovePair(StringList& keys, StringList& partners, std::size_t index) {
    if (index >= keys.size()) {
        return false;
    }
    MendPairs(keys, partners);
    const auto at = static_cast<std::ptrdiff_t>(index);
    keys.erase(keys.begin() + at);
    partners.erase(partners.begin() + at);
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

void SettingsEdits::MendKludges(StringList& kludges, StringList& subst) {
    MendPairs(kludges, subst);
}

std::size_t SettingsEdits::AddKludge(StringList& kludges, StringList& subst, std::string kludge,
                                     std::string action) {
    return AddPair(kludges, subst, std::move(kludge), std::move(action));
}

bool SettingsEdits::EditKludge(StringList& kludges, StringList& subst, std::size_t index,
                               std::string kludge, std::string action) {
    return EditPair(kludges, subst, index, std::move(kludge), std::move(action));
}

bool SettingsEdits::RemoveKludge(StringList& kludges, StringList& subst, std::size_t index) {
    return RemovePair(kludges, subst, index);
}

void SettingsEdits::MendKludges(RelaySettings& settings) {
    MendKludges(settings.Kludges, settings.Subst);
}

std::size_t SettingsEdits::AddKludge(RelaySettings& settings, std::string kludge,
                                     std::string action) {
    return AddKludge(settings.Kludges, settings.Subst, std::move(kludge), std::move(action));
}

bool SettingsEdits::EditKludge(RelaySettings& settings, std::size_t index, std::string kludge,
                               std::string action) {
    return EditKludge(settings.Kludges, settings.Subst, index, std::move(kludge),
                      std::move(action));
}

bool SettingsEdits::RemoveKludge(RelaySettings& settings, std::size_t index) {
    return RemoveKludge(settings.Kludges, settings.Subst, index);
}

void SettingsEdits::MendSpecialKludges(StringList& signalStr, StringList& specialKludges) {
    MendPairs(signalStr, specialKludges);
}

std::size_t SettingsEdits::AddSpecialKludge(StringList& signalStr, StringList& specialKludges,
                                            std::string signal, std::string definition) {
    return AddPair(signalStr, specialKludges, std::move(signal), std::move(definition));
}

bool SettingsEdits::EditSpecialKludge(StringList& signalStr, StringList& specialKludges,
                                      std::size_t index, std::string signal,
                                      std::string definition) {
    return EditPair(signalStr, specialKludges, index, std::move(signal), std::move(definition));
}

bool SettingsEdits::RemoveSpecialKludge(StringList& signalStr, StringList& specialKludges,
                                        std::size_t index) {
    return RemovePair(signalStr, specialKludges, index);
}

void SettingsEdits::MendSpecialKludges(RelaySettings& settings) {
    MendSpecialKludges(settings.SignalStr, settings.SpecialKludges);
}

std::size_t SettingsEdits::AddSpecialKludge(RelaySettings& settings, std::string signal,
                                            std::string definition) {
    return AddSpecialKludge(settings.SignalStr, settings.SpecialKludges, std::move(signal),
                            std::move(definition));
}

bool SettingsEdits::EditSpecialKludge(RelaySettings& settings, std::size_t index,
                                      std::string signal, std::string definition) {
    return EditSpecialKludge(settings.SignalStr, settings.SpecialKludges, index, std::move(signal),
                             std::move(definition));
}

bool SettingsEdits::RemoveSpecialKludge(RelaySettings& settings, std::size_t index) {
    return RemoveSpecialKludge(settings.SignalStr, settings.SpecialKludges, index);
}

}  // namespace vantel
