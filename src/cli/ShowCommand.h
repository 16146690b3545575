// vantel show: the settings as tables, or as JSON for scripts.
#pragma once

#include <string>
#include <vector>

#include "cli/CliContext.h"

namespace vantel {

class ShowCommand {
  public:
    static constexpr const char* kHelp =
        "Usage: vantel show [--schema NAME] [--json]\n"
        "Shows the settings: the server entries (never a password), the kludges, the special\n"
        "kludges, the general values and the schemas, the current one marked with *.\n"
        "  --schema NAME  a saved schema instead of the current one\n"
        "  --json         one JSON object, for scripts\n";

    explicit ShowCommand(CliContext& context) : context_(context) {}
    int Run(const std::vector<std::string>& words);

  private:
    CliContext& context_;
};

}  // namespace vantel
