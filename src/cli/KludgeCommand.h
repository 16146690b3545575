// vantel kludge add|edit|remove: the header rules, with the Set Kludge dialog's rules.
#pragma once

#include <string>
#include <vector>

#include "cli/CliContext.h"
#include "cli/CommandLine.h"
#include "core/config/RelaySettings.h"

namespace vantel {

class KludgeCommand {
  public:
    static constexpr const char* kHelp =
        "Usage: vantel kludge add --smtp|--pop3 HEADER ACTION\n"
        "       vantel kludge edit N [--smtp|--pop3] [HEADER] [ACTION]\n"
        "       vantel kludge remove N\n"
        "A kludge rewrites the header lines that begin with HEADER (a colon is added when it\n"
        "has none): --smtp in mail and news the client sends, --pop3 in mail a POP3 server\n"
        "delivers. N is the kludge's number in vantel show. ACTION is one of:\n"
        "  --change TEXT       the line becomes HEADER followed by TEXT\n"
        "  --delete            the line is removed\n"
        "  --from-file PATH    the line becomes HEADER followed by a random line of the file\n"
        "  --special SIGNAL    the special kludge with this signal string adds a line\n"
        "Try the rules on a message with vantel rewrite.\n";

    explicit KludgeCommand(CliContext& context) : context_(context) {}
    int Run(const std::vector<std::string>& words);

  private:
    /// Reads the action options into the kludge's action number and text; false when refused.
    bool ReadAction(const CommandLine& line, const RelaySettings& settings, int& action,
                    std::string& text);

    CliContext& context_;
};

}  // namespace vantel
