// The rules of editing the settings, written once for the Options dialog and the command
// line: how a server entry's ports follow its type and security, how a login gets its
// stored-value number, and how kludges are added, changed and removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/RelaySettings.h"
#include "core/config/ServerEntry.h"
#include "core/config/ServerPreset.h"

namespace vantel {

class SettingsEdits {
  public:
    // Ports. A port that still holds the old default moves to the new one; a port the user
    // chose stays. The type moves both ports with the old mode, then the mode moves the remote
    // port: both front ends apply them in that order.

    /// The local port after the type changes from `from` to `to`.
    static int LocalPortAfterType(int port, ServerType from, ServerType to);
    /// The remote port after the type changes from `from` to `to`, with the mode `security`.
    static int RemotePortAfterType(int port, ServerType from, ServerType to, int security);
    /// The remote port of a `type` entry after its mode changes from `from` to `to`.
    static int RemotePortAfterSecurity(int port, ServerType type, int from, int to);
    /// Changes the entry's type, moving its ports (a stored type that names none counts as Smtp).
    static void ChangeType(ServerEntry& entry, ServerType type);
    /// Changes the entry's mode (a SecurityMode number), moving its remote port.
    static void ChangeSecurity(ServerEntry& entry, int security);
    /// A new entry of `type` reached with `security`, on their default ports.
    static ServerEntry NewServer(ServerType type, int security);
    /// Gives `entry` the preset's host, type, mode, port and sign-in method: the type and mode
    /// move the ports as an edit would (a local port the user chose stays), then the remote
    /// port is the preset's. An OAuth 2.0 preset names its provider; the entry's account and
    /// client stay.
    static void ApplyPreset(ServerEntry& entry, ServerType type,
                            const ServerPreset::Server& preset);

    // Logins. The "PassData" number stays with the entry once given, also when the login is
    // cleared: the store drops a value that no entry's login holds when it is saved.

    /// Stores the login in `entry`, the bytes of an earlier one wiped, and gives it a number
    /// none of `servers` uses when it has none yet. False when the login cannot be stored (an
    /// empty text, or too long together): the entry then holds no login.
    static bool SetLogin(ServerEntry& entry, const std::vector<ServerEntry>& servers,
                         std::string_view user, std::string_view password, std::uint32_t tick);
    /// Forgets the entry's login, its bytes wiped.
    static void ClearLogin(ServerEntry& entry);

    // Server entries. An entry's mode, fingerprint and login travel inside it; they are stored
    // beside the list under its ordinal, so the store rewrites them from the list at every save
    // and drops those of ordinals that have none.

    /// Appends `entry`; its position.
    static std::size_t AddServer(std::vector<ServerEntry>& servers, const ServerEntry& entry);
    /// Replaces the entry at `index`; false when there is none (the list changed meanwhile).
    static bool ReplaceServer(std::vector<ServerEntry>& servers, std::size_t index,
                              const ServerEntry& entry);
    /// Removes the entry at `index`; false when there is none.
    static bool RemoveServer(std::vector<ServerEntry>& servers, std::size_t index);

    // Kludges and special kludges. The store's lists are paired as they load, so an edit
    // meets whole records.

    /// Appends the kludge; its position.
    static std::size_t AddKludge(RelaySettings& settings, KludgeRecord kludge);
    /// Replaces the kludge at `index`; false when there is none (the list changed meanwhile).
    static bool EditKludge(RelaySettings& settings, std::size_t index, KludgeRecord kludge);
    /// Removes the kludge at `index`; false when there is none.
    static bool RemoveKludge(RelaySettings& settings, std::size_t index);

    static std::size_t AddSpecialKludge(RelaySettings& settings, SpecialKludgeRecord special);
    static bool EditSpecialKludge(RelaySettings& settings, std::size_t index,
                                  SpecialKludgeRecord special);
    static bool RemoveSpecialKludge(RelaySettings& settings, std::size_t index);
};

}  // namespace vantel
