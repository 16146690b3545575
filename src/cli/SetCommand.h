// vantel set KEY VALUE: the general values of the current schema.
#pragma once

#include <string>
#include <vector>

#include "cli/CliContext.h"

namespace vantel {

class SetCommand {
  public:
    static constexpr const char* kHelp =
        "Usage: vantel set KEY VALUE\n"
        "Sets one of the general values of the current schema:\n"
        "  default-smtp-port N   the port whose SMTP entries the default server is chosen from\n"
        "  default-pop3-port N   the same for POP3 (and cyclic change)\n"
        "  connect-timeout N     seconds a new connection may wait for its server; 0 waits as\n"
        "                        long as the system does\n"
        "  timeout N             the send/receive time-out, 0 to 60 seconds\n"
        "  listen-address A      local (this computer only), * (every interface), or one\n"
        "                        local address\n"
        "  use-service on|off    Windows: the companion service does the relaying\n"
        "  cyclic-change on|off  each POP3 connection goes to the next POP3 account\n"
        "  log-traffic on|off    the relayed traffic goes into the log too (passwords masked)\n"
        "  oauth-microsoft-client-id ID, oauth-google-client-id ID\n"
        "                        the client ID OAuth 2.0 entries use when they name none\n"
        "                        (program-wide; '' clears it)\n"
        "Usage: vantel set oauth-google-client-secret\n"
        "Reads the Google client secret from standard input (an empty line clears it).\n";

    explicit SetCommand(CliContext& context) : context_(context) {}
    int Run(const std::vector<std::string>& words);

  private:
    /// The program-wide Google client secret, from standard input, never an argument.
    int SetSecret();

    CliContext& context_;
};

}  // namespace vantel
