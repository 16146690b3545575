// The default servers of the shared SMTP and POP3 ports, and POP3 cycling.
#pragma once

#include <memory>
#include <vector>

#include "core/config/RelaySettings.h"
#include "core/relay/ListenSocket.h"

namespace vantel {

/// Entries of one type on the default port of that type form a group, of which only the
/// chosen entry (the default server) has a listener. These re-point that listener without
/// reopening the port; sessions already running keep their entry.
class DefaultServers {
  public:
    using Listeners = std::vector<std::unique_ptr<ListenSocket>>;

    DefaultServers(RelaySettings& settings, Listeners& listeners)
        : settings_(settings), listeners_(listeners) {}

    /// Entry index served by the listener of the default group of `type`, or -1.
    int FindDefaultListener(ServerType type) const;
    /// Points the group's listener at the entry with stored ordinal `ordinal` (counted from 0
    /// for SMTP, from 1 for POP3); the caller stores the ordinal.
    void SelectDefaultServer(int ordinal, ServerType type);
    /// Advances DefaultPOPServer to the next entry of the POP3 group (1, 2, ..., n, 1) and
    /// returns it.
    int CyclePopServer();
    /// Whether entry `index` is a default-group entry other than the chosen one, which has
    /// no listener of its own.
    bool WaitsBehindDefault(std::size_t index) const;

  private:
    RelaySettings& settings_;
    Listeners& listeners_;
};

}  // namespace vantel
