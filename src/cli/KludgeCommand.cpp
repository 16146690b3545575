#include "cli/KludgeCommand.h"

#include <filesystem>
#include <fstream>
#include <ostream>

#include "cli/CliMessages.h"
#include "cli/CliNotifier.h"
#include "cli/SettingsSession.h"
#include "cli/SettingsWords.h"
#include "core/config/SettingsEdits.h"
#include "core/config/StoredKludges.h"
#include "core/rewrite/KludgeTypes.h"

namespace vantel {
namespace {

const std::initializer_list<OptionRule> kOptions = {{"--smtp", false},     {"--pop3", false},
                                                    {"--change", true},    {"--delete", false},
                                                    {"--from-file", true}, {"--special", true}};

std::string Describe(std::size_t number, const KludgeRecord& kludge) {
    std::string text = "kludge " + std::to_string(number) + ": " + DirectionWord(kludge.type) +
                       " " + kludge.headerName + " " + ActionWord(kludge.action);
    if (!kludge.text.empty()) {
        text += " " + kludge.text;
    }
    return text;
}

}  // namespace

bool KludgeCommand::ReadAction(const CommandLine& line, const RelaySettings& settings, int& action,
                               std::string& text) {
    int given = 0;
    for (const char* option : {"--change", "--delete", "--from-file", "--special"}) {
        given += line.Has(option) ? 1 : 0;
    }
    if (given > 1) {
        Fail(context_, "give one action: --change, --delete, --from-file or --special");
        return false;
    }
    if (const auto change = line.Value("--change")) {
        action = static_cast<int>(KludgeAction::ChangeToText);
        text = *change;
    } else if (line.Has("--delete")) {
        action = static_cast<int>(KludgeAction::JustDelete);
        text.clear();
    } else if (const auto file = line.Value("--from-file")) {
        if (file->empty()) {
            Fail(context_, "--from-file needs the path of a file");
            return false;
        }
        // The relay opens the file by the path stored, from wherever it was started.
        std::error_code ignored;
        const std::filesystem::path absolute = std::filesystem::absolute(*file, ignored);
        text = absolute.empty() ? *file : absolute.string();
        if (!std::ifstream(text, std::ios::binary)) {
            context_.err << "vantel: warning: " << text
                         << " cannot be read now; the kludge leaves its lines as they are "
                            "until it can\n";
        }
        action = static_cast<int>(KludgeAction::TakeFromFile);
    } else if (const auto signal = line.Value("--special")) {
        // A special kludge without its signal string would name none and never act.
        if (FindSpecialKludge(settings.SpecialKludges, *signal) < 0) {
            Fail(context_, "no special kludge has the signal string '" + *signal +
                               "': add it first with vantel special add");
            return false;
        }
        action = static_cast<int>(KludgeAction::SpecialKludge);
        text = *signal;
    }
    if (action < 0) {
        Fail(context_,
             "say what the kludge does: --change TEXT, --delete, --from-file PATH or "
             "--special SIGNAL");
        return false;
    }
    if (text.find_first_of("\r\n") != std::string::npos) {
        Fail(context_, "a kludge's text is one line");
        return false;
    }
    return true;
}

int KludgeCommand::Run(const std::vector<std::string>& words) {
    CommandLine line;
    if (!line.Parse(words, kOptions)) {
        return UsageError(context_, "kludge", line.error());
    }
    if (line.Has("--smtp") && line.Has("--pop3")) {
        return UsageError(context_, "kludge", "--smtp and --pop3 exclude each other");
    }
    const std::vector<std::string>& operands = line.operands();
    const std::string verb = operands.empty() ? std::string() : operands[0];
    CliNotifier quiet;
    SettingsSession session(context_, quiet);
    session.Load();
    RelaySettings& settings = session.settings();

    std::size_t position = settings.Kludges.size();
    std::string header;
    if (verb == "add" && operands.size() == 2) {
        header = operands[1];
        if (!line.Has("--smtp") && !line.Has("--pop3")) {
            return UsageError(context_, "kludge add", "say --smtp or --pop3");
        }
    } else if (verb == "edit" && (operands.size() == 2 || operands.size() == 3)) {
        const int index = EntryIndex(context_, "kludge", operands[1], settings.Kludges.size());
        if (index < 0) {
            return kExitFailed;
        }
        position = static_cast<std::size_t>(index);
        header = operands.size() == 3 ? operands[2] : settings.Kludges[position].headerName;
    } else if (verb == "remove" && operands.size() == 2) {
        const int index = EntryIndex(context_, "kludge", operands[1], settings.Kludges.size());
        if (index < 0) {
            return kExitFailed;
        }
        const std::string removed = Describe(static_cast<std::size_t>(index) + 1,
                                             settings.Kludges[static_cast<std::size_t>(index)]);
        SettingsEdits::RemoveKludge(settings, static_cast<std::size_t>(index));
        if (!session.Save()) {
            return kExitFailed;
        }
        context_.out << "Removed " << removed << '\n';
        return kExitOk;
    } else {
        return UsageError(context_, "kludge",
                          verb.empty() ? "say add, edit N or remove N"
                                       : "cannot make sense of the words after '" + verb + "'");
    }

    if (header.empty()) {
        return Fail(context_, "the header name is empty");
    }
    if (header.find_first_of(" \t\r\n") != std::string::npos) {
        return Fail(context_, "a header name cannot contain blanks: '" + header + "'");
    }
    if (header.find(':') == std::string::npos) {
        header += ':';
    }
    const bool adding = position == settings.Kludges.size();
    // An action left alone stays as it was.
    KludgeRecord kludge = adding ? KludgeRecord{} : settings.Kludges[position];
    kludge.headerName = header;
    if (adding) {
        kludge.type = static_cast<int>(KludgeType::SmtpKludge);
    }
    if (line.Has("--smtp")) {
        kludge.type = static_cast<int>(KludgeType::SmtpKludge);
    } else if (line.Has("--pop3")) {
        kludge.type = static_cast<int>(KludgeType::Pop3Kludge);
    }
    const bool newAction = line.Has("--change") || line.Has("--delete") ||
                           line.Has("--from-file") || line.Has("--special");
    if (adding || newAction) {
        kludge.action = -1;
        if (!ReadAction(line, settings, kludge.action, kludge.text)) {
            return kExitFailed;
        }
    }
    if (adding) {
        SettingsEdits::AddKludge(settings, kludge);
    } else {
        SettingsEdits::EditKludge(settings, position, kludge);
    }
    if (!session.Save()) {
        return kExitFailed;
    }
    context_.out << (adding ? "Added " : "Changed ") << Describe(position + 1, kludge) << '\n';
    return kExitOk;
}

}  // namespace vantel
