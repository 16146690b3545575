#include "cli/ProbeCommand.h"

#include "cli/CliMessages.h"

namespace vantel {

int ProbeCommand::Run(const std::vector<std::string>&) {
    return Fail(context_, "probe: not built yet");
}

bool ProbeCommand::ProbeForPin(const ServerEntry&, std::string&) {
    Fail(context_, "probe: not built yet");
    return false;
}

}  // namespace vantel
