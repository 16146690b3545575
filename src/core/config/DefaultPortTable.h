// The port a server entry of each type listens on and connects to unless the user says
// otherwise; SettingsEdits moves ports that still hold the old type's or mode's default.
#pragma once

#include "core/config/ServerEntry.h"

namespace vantel {

class DefaultPortTable {
  public:
    /// The well-known port of `type` in plain text: what the client talks to the relay on,
    /// and the server's port without TLS. 0 for a value outside the enumeration.
    static constexpr int PortOf(ServerType type) { return PortOf(type, SecurityMode::None); }

    /// The server's well-known port of `type` reached with `mode`: TLS from the first byte has
    /// ports of its own, while STARTTLS upgrades a plain session (SMTP on the submission port,
    /// where servers offer it to clients). 0 for a value outside either enumeration.
    static constexpr int PortOf(ServerType type, SecurityMode mode) {
        switch (mode) {
            case SecurityMode::None:
                return Pick(type, 25, 110, 143);
            case SecurityMode::SslTls:
                return Pick(type, 465, 995, 993);
            case SecurityMode::StartTls:
                return Pick(type, 587, 110, 143);
        }
        return 0;
    }

    /// The server's default port for `type` with the stored mode `security`; 0 for a mode this
    /// program does not know, whose default no port can hold.
    static constexpr int RemotePortOf(ServerType type, int security) {
        return IsKnownSecurityMode(security) ? PortOf(type, static_cast<SecurityMode>(security))
                                             : 0;
    }

    /// `port` after a switch of type or mode: a port that still holds the old default follows
    /// to the new one, a port the user chose stays.
    static constexpr int MovedPort(int port, int oldDefault, int newDefault) {
        return oldDefault != 0 && newDefault != 0 && port == oldDefault ? newDefault : port;
    }

  private:
    static constexpr int Pick(ServerType type, int smtp, int pop3, int imap4) {
        switch (type) {
            case ServerType::Smtp:
                return smtp;
            case ServerType::Pop3:
                return pop3;
            case ServerType::Imap4:
                return imap4;
        }
        return 0;
    }
};

}  // namespace vantel
