// vantel probe N: the server of an entry, reached as the relay reaches it.
#pragma once

#include <string>
#include <vector>

#include "cli/CliContext.h"
#include "core/config/ServerEntry.h"

namespace vantel {

class ProbeCommand {
  public:
    static constexpr const char* kHelp =
        "Usage: vantel probe N [--timeout SECONDS] [--json]\n"
        "Connects to server entry N's server as the relay would (name lookup, connection,\n"
        "STARTTLS or TLS, the certificate checked or compared with the pinned one) and shows\n"
        "the greeting, the TLS version and cipher, the certificate (subject, names, issuer,\n"
        "validity, SHA-256 fingerprint) and whether the relay would accept it. No login is\n"
        "sent. To pin the certificate shown: vantel server edit N --pin-current.\n"
        "  --timeout SECONDS  how long to wait for the server (default 10)\n"
        "  --json             the same as one JSON object, for scripts\n";

    explicit ProbeCommand(CliContext& context) : context_(context) {}
    int Run(const std::vector<std::string>& words);

    /// Probes `entry`'s server, shows what it found, and gives the fingerprint of the
    /// certificate it was shown; false (the user was told) when none was shown.
    bool ProbeForPin(const ServerEntry& entry, std::string& fingerprint);

  private:
    CliContext& context_;
};

}  // namespace vantel
