// vantel schema list|save|select|delete: named sets of settings, with the Schemes dialog's
// rules and messages.
#pragma once

#include <string>
#include <vector>

#include "cli/CliContext.h"

namespace vantel {

class SchemaCommand {
  public:
    static constexpr const char* kHelp =
        "Usage: vantel schema list\n"
        "       vantel schema save NAME\n"
        "       vantel schema select NAME | --default\n"
        "       vantel schema delete NAME\n"
        "A schema is a complete set of settings under a name. save stores the settings in use\n"
        "as NAME and makes it current; select makes another one current (the settings in\n"
        "use are saved first); delete removes one (when it was current, the default schema\n"
        "takes over its settings). Names differing only in letter case are one schema.\n";

    explicit SchemaCommand(CliContext& context) : context_(context) {}
    int Run(const std::vector<std::string>& words);

  private:
    CliContext& context_;
};

}  // namespace vantel
