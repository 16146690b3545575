// The command-line program: which command runs, and the help.
#pragma once

#include <string>
#include <vector>

#include "cli/CliContext.h"

namespace vantel {

class CliApp {
  public:
    static constexpr const char* kHelp =
        "Usage: vantel [--store FILE] [--machine] COMMAND [ARGUMENTS]\n"
        "Edits the settings of the Vantel mail relay, tries its rules and its servers.\n"
        "\n"
        "Commands:\n"
        "  show [--json]            the settings as tables (or JSON)\n"
        "  server add|edit|remove   the server entries: where each local port relays to\n"
        "  kludge add|edit|remove   the rules for header lines\n"
        "  special add|edit|remove  the special kludges\n"
        "  set KEY VALUE            a general value (ports, time-outs, listen address...)\n"
        "  schema list|save|select|delete\n"
        "                           named sets of settings\n"
        "  check                    every problem the settings have, with what to do\n"
        "  rewrite --smtp|--pop3    a message as the relay would rewrite it\n"
        "  probe N                  connects to server N's server as the relay would\n"
        "  auth N                   signs in OAuth 2.0 entry N's account with its provider\n"
        "\n"
        "Options:\n"
        "  --store FILE  the settings file (default: $XDG_CONFIG_HOME/vantel/settings.reg,\n"
        "                else ~/.config/vantel/settings.reg)\n"
        "  --machine     the machine-wide settings in the file instead of the user's\n"
        "  --version     the version\n"
        "\n"
        "vantel COMMAND --help describes a command. Changes are saved at once; a running\n"
        "vantel-relay picks them up by itself.\n";

    /// Runs the command in `words` (the program's arguments after the global options).
    static int Run(CliContext& context, const std::vector<std::string>& words);
};

}  // namespace vantel
