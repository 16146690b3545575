// vantel special add|edit|remove: the special kludges, with the Special Kludge dialog's rules.
#pragma once

#include <string>
#include <vector>

#include "cli/CliContext.h"

namespace vantel {

class SpecialCommand {
  public:
    static constexpr const char* kHelp =
        "Usage: vantel special add SIGNAL SEPARATOR NAME\n"
        "       vantel special edit N SIGNAL SEPARATOR NAME\n"
        "       vantel special remove N\n"
        "A special kludge acts on the header lines a kludge with --special SIGNAL hands it:\n"
        "when such a line contains SIGNAL, the value between the first two SEPARATOR\n"
        "characters after it becomes a new header line NAME (a colon is added when it has\n"
        "none). N is the special kludge's number in vantel show.\n";

    explicit SpecialCommand(CliContext& context) : context_(context) {}
    int Run(const std::vector<std::string>& words);

  private:
    CliContext& context_;
};

}  // namespace vantel
