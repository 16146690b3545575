#include "cli/CliApp.h"

#include <algorithm>
#include <ostream>

#include "cli/AuthCommand.h"
#include "cli/CheckCommand.h"
#include "cli/CliMessages.h"
#include "cli/KludgeCommand.h"
#include "cli/ProbeCommand.h"
#include "cli/RewriteCommand.h"
#include "cli/SchemaCommand.h"
#include "cli/ServerCommand.h"
#include "cli/SetCommand.h"
#include "cli/ShowCommand.h"
#include "cli/SpecialCommand.h"

namespace vantel {
namespace {

struct Command {
    const char* name;
    const char* help;
    int (*run)(CliContext& context, const std::vector<std::string>& words);
};

template <typename T>
int RunCommand(CliContext& context, const std::vector<std::string>& words) {
    return T(context).Run(words);
}

constexpr Command kCommands[] = {
    {"show", ShowCommand::kHelp, RunCommand<ShowCommand>},
    {"server", ServerCommand::kHelp, RunCommand<ServerCommand>},
    {"kludge", KludgeCommand::kHelp, RunCommand<KludgeCommand>},
    {"special", SpecialCommand::kHelp, RunCommand<SpecialCommand>},
    {"set", SetCommand::kHelp, RunCommand<SetCommand>},
    {"schema", SchemaCommand::kHelp, RunCommand<SchemaCommand>},
    {"check", CheckCommand::kHelp, RunCommand<CheckCommand>},
    {"rewrite", RewriteCommand::kHelp, RunCommand<RewriteCommand>},
    {"probe", ProbeCommand::kHelp, RunCommand<ProbeCommand>},
    {"auth", AuthCommand::kHelp, RunCommand<AuthCommand>},
};

}  // namespace

int CliApp::Run(CliContext& context, const std::vector<std::string>& words) {
    if (words.empty()) {
        context.err << kHelp;
        return kExitUsage;
    }
    const std::string& name = words[0];
    if (name == "--help" || name == "-h" || name == "help") {
        context.out << kHelp;
        return kExitOk;
    }
    const auto command = std::find_if(std::begin(kCommands), std::end(kCommands),
                                      [&name](const Command& c) { return name == c.name; });
    if (command == std::end(kCommands)) {
        context.err << "vantel: there is no command '" << name << "' (see vantel --help)\n";
        return kExitUsage;
    }
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    if (std::find_if(rest.begin(), rest.end(), [](const std::string& w) {
            return w == "--help" || w == "-h";
        }) != rest.end()) {
        context.out << command->help;
        return kExitOk;
    }
    // Only `check` reads a file it cannot parse: it says where the fault is. Every other
    // command stops before it could write over the user's file.
    if (!context.loadError.empty() && command->run != RunCommand<CheckCommand>) {
        return Fail(context, context.loadError + "; correct that line (the file is left as it is)");
    }
    return command->run(context, rest);
}

}  // namespace vantel
