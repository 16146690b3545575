#include "cli/SchemaCommand.h"

#include <ostream>
#include <sstream>

#include "cli/CliMessages.h"
#include "cli/CliNotifier.h"
#include "cli/CommandLine.h"
#include "cli/PrintableText.h"
#include "cli/SettingsSession.h"
#include "cli/TextTable.h"

namespace vantel {

int SchemaCommand::Run(const std::vector<std::string>& words) {
    CommandLine line;
    if (!line.Parse(words, {{"--default", false}})) {
        return UsageError(context_, "schema", line.error());
    }
    const std::vector<std::string>& operands = line.operands();
    const std::string verb = operands.empty() ? std::string() : operands[0];
    // The schema operations speak through the notifier; what they say is kept until it is
    // known whether it went to plan (standard output) or not (standard error).
    std::ostringstream said;
    CliNotifier notifier(&said);
    SettingsSession session(context_, notifier);
    session.Load();
    RelaySettings& settings = session.settings();

    if (verb == "list" && operands.size() == 1 && !line.Has("--default")) {
        context_.out << (settings.DefaultSchema == 0 ? "* " : "  ") << "(default)\n";
        for (std::size_t i = 0; i < settings.Schemes.size(); ++i) {
            context_.out << (static_cast<int>(i) + 1 == settings.DefaultSchema ? "* " : "  ")
                         << PrintableText(settings.Schemes[i]) << '\n';
        }
        return kExitOk;
    }
    bool done = false;
    if (verb == "select" && operands.size() == 1 && line.Has("--default")) {
        session.schemas().SelectSchema(0);
        if (!session.Save()) {
            return kExitFailed;
        }
        said << "The default schema is now in use\n";
        done = true;
    } else if (operands.size() == 2 && !line.Has("--default")) {
        const std::string& name = operands[1];
        if (verb == "save") {
            done = session.schemas().SaveSchemaAs(name);
        } else if (verb == "select") {
            const int index = SchemaManager::FindSchema(settings.Schemes, name);
            if (index == 0) {
                said << "Schema \"" << name << "\" not found\n";
            } else {
                // As the tray menu does: the choice is saved at once.
                session.schemas().SelectSchema(index);
                if (!session.Save()) {
                    return kExitFailed;
                }
                said << "Schema '" << settings.Schemes[static_cast<std::size_t>(index) - 1]
                     << "' is now in use\n";
                done = true;
            }
        } else if (verb == "delete") {
            done = session.schemas().DeleteSchema(name);
        } else {
            return UsageError(context_, "schema", "cannot make sense of '" + verb + "'");
        }
    } else {
        return UsageError(context_, "schema",
                          verb.empty() ? "say list, save NAME, select NAME or delete NAME"
                                       : "wrong words after '" + verb + "'");
    }
    if (done && !session.Confirm(true)) {
        return kExitFailed;
    }
    if (!done) {
        std::string message = said.str();
        while (!message.empty() && message.back() == '\n') {
            message.pop_back();
        }
        return Fail(context_, message);
    }
    context_.out << said.str();
    return kExitOk;
}

}  // namespace vantel
