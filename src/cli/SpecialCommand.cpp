#include "cli/SpecialCommand.h"

#include <ostream>

#include "cli/CliMessages.h"
#include "cli/CliNotifier.h"
#include "cli/CommandLine.h"
#include "cli/SettingsSession.h"
#include "core/config/SettingsEdits.h"
#include "core/config/StoredKludges.h"
#include "core/rewrite/KludgeTypes.h"

namespace vantel {
namespace {

/// Kludges that hand their lines to the special kludge with `signal`, as a warning when it
/// goes: they do nothing until one has that signal string again.
void WarnOrphans(CliContext& context, const RelaySettings& settings, const std::string& signal) {
    if (FindSpecialKludge(settings.SpecialKludges, signal) >= 0) {
        return;
    }
    for (std::size_t i = 0; i < settings.Kludges.size(); ++i) {
        const KludgeRecord& kludge = settings.Kludges[i];
        if (kludge.action == static_cast<int>(KludgeAction::SpecialKludge) &&
            kludge.text == signal) {
            context.err << "vantel: warning: kludge " << i + 1 << " names the signal string '"
                        << signal << "', which no special kludge has now\n";
        }
    }
}

}  // namespace

int SpecialCommand::Run(const std::vector<std::string>& words) {
    CommandLine line;
    if (!line.Parse(words, {})) {
        return UsageError(context_, "special", line.error());
    }
    const std::vector<std::string>& operands = line.operands();
    const std::string verb = operands.empty() ? std::string() : operands[0];
    CliNotifier quiet;
    SettingsSession session(context_, quiet);
    session.Load();
    RelaySettings& settings = session.settings();

    std::size_t position = settings.SpecialKludges.size();
    std::size_t first = 1;  // where SIGNAL SEPARATOR NAME start
    if (verb == "add" && operands.size() == 4) {
    } else if ((verb == "edit" && operands.size() == 5) ||
               (verb == "remove" && operands.size() == 2)) {
        const int index =
            EntryIndex(context_, "special kludge", operands[1], settings.SpecialKludges.size());
        if (index < 0) {
            return kExitFailed;
        }
        position = static_cast<std::size_t>(index);
        first = 2;
    } else {
        return UsageError(context_, "special",
                          verb.empty() ? "say add, edit N or remove N"
                                       : "wrong number of words after '" + verb + "'");
    }
    const std::string oldSignal = position < settings.SpecialKludges.size()
                                      ? settings.SpecialKludges[position].signal
                                      : std::string();
    if (verb == "remove") {
        SettingsEdits::RemoveSpecialKludge(settings, position);
        if (!session.Save()) {
            return kExitFailed;
        }
        context_.out << "Removed special kludge " << position + 1 << " (signal '" << oldSignal
                     << "')\n";
        WarnOrphans(context_, settings, oldSignal);
        return kExitOk;
    }

    const std::string& signal = operands[first];
    const std::string& separator = operands[first + 1];
    std::string name = operands[first + 2];
    // Loading keeps one separator character and only what follows the name's final space, so
    // a longer separator or a name with blanks would not come back as given.
    if (separator.empty()) {
        return Fail(context_, "Please enter a separator character.");
    }
    if (separator.size() > 1) {
        return Fail(context_, "the separator is one character, not '" + separator + "'");
    }
    if (name.find_first_of(" \t") != std::string::npos) {
        return Fail(context_, "The kludge name cannot contain blanks.");
    }
    if (signal.find_first_of("\r\n") != std::string::npos ||
        name.find_first_of("\r\n") != std::string::npos) {
        return Fail(context_, "the signal string and the name are one line each");
    }
    if (!name.empty() && name.find(':') == std::string::npos) {
        name += ':';
    }
    const SpecialKludgeRecord special{signal, separator, name};
    const bool adding = position == settings.SpecialKludges.size();
    if (adding) {
        SettingsEdits::AddSpecialKludge(settings, special);
    } else {
        SettingsEdits::EditSpecialKludge(settings, position, special);
    }
    if (!session.Save()) {
        return kExitFailed;
    }
    context_.out << (adding ? "Added" : "Changed") << " special kludge " << position + 1
                 << ": signal '" << signal << "', separator '" << separator << "', name " << name
                 << '\n';
    if (!adding && oldSignal != signal) {
        WarnOrphans(context_, settings, oldSignal);
    }
    return kExitOk;
}

}  // namespace vantel
