// The one settings record every part of the program reads.
#pragma once

#include <string>
#include <vector>

#include "core/config/KludgeRecord.h"
#include "core/config/ServerEntry.h"
#include "core/config/SpecialKludgeRecord.h"

namespace vantel {

using StringList = std::vector<std::string>;

/// CustomValue that makes the outgoing stream tag its From: lines.
inline constexpr int kHiddenModeCode = 52836417;

/// The user's settings as loaded from the current schema. Member names are the names of
/// their stored values; the kludges are stored as pairs of lists (Kludges with Subst,
/// SignalStr with SpecialKludges), paired into records as they load.
struct RelaySettings {
    int CustomValue = 0;     ///< Read from the store only, never written.
    int UseService = 0;      ///< Nonzero: the companion service does the relaying.
    int MessageTimeout = 5;  ///< Edited and stored; not applied by the relay.
    /// Seconds a new session may wait for the server; 0 = forever (a stored negative loads
    /// as 0).
    int ConnectTimeout = 5;
    int DefaultPOPPort = 110;
    int POPCycleChange = 0;    ///< Nonzero: each POP3 connection advances DefaultPOPServer.
    int DefaultPOPServer = 0;  ///< 1-based ordinal in the default POP3 group; 0 = none.
    int DefaultSchema = 0;     ///< 0 = default schema, k = k-th name of Schemes.
    int DefaultServer = 0;     ///< 0-based ordinal in the default SMTP group.
    int DefaultPort = 25;
    std::vector<SpecialKludgeRecord> SpecialKludges;
    std::vector<KludgeRecord> Kludges;
    StringList Servers;  ///< Text form of ServerList, rebuilt around every load and save.
    StringList Schemes;
    std::vector<ServerEntry> ServerList;
    /// Where the listeners accept connections: empty = this computer only (loopback), "*" =
    /// every interface, or one local address.
    std::string ListenAddress;
    /// Nonzero: the trace of relayed traffic (credentials masked) goes to the log file too.
    int LogTraffic = 0;
    // Program-wide OAuth 2.0 client registrations, in the global key (not per schema): the
    // project ships none, so a user or packager gives one; an entry's own value wins.
    std::string OAuthDefaultMicrosoftClientId;   ///< "OAuthMicrosoftClientId"
    std::string OAuthDefaultGoogleClientId;      ///< "OAuthGoogleClientId"
    std::string OAuthDefaultGoogleClientSecret;  ///< "OAuthGoogleClientSecret"; never shown
    /// "TokenFolder": where the Windows tray program keeps its sealed sign-ins, written so
    /// that the companion service, which runs as another user, relays with the same ones.
    std::string TokenFolder;

    /// Name of the current schema; empty for the default schema or an index naming none.
    std::string GetSchemaName() const;
};

}  // namespace vantel
