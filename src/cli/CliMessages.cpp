#include "cli/CliMessages.h"

#include <algorithm>
#include <ostream>

#include "cli/PrintableText.h"
#include "cli/SettingsWords.h"
#include "cli/TextTable.h"

namespace vantel {
namespace {

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

int Fail(CliContext& context, std::string_view message) {
    context.err << "vantel: " << PrintableText(message) << '\n';
    return kExitFailed;
}

int UsageError(CliContext& context, std::string_view command, std::string_view problem) {
    context.err << "vantel " << command << ": "
                << (problem.empty() ? std::string("unexpected arguments") : PrintableText(problem))
                << " (see vantel " << command << " --help)\n";
    return kExitUsage;
}

int SchemaIndex(const RelaySettings& settings, std::string_view name) {
    const StringList& schemes = settings.Schemes;
    auto found = std::find(schemes.begin(), schemes.end(), name);
    if (found == schemes.end()) {
        found = std::find_if(schemes.begin(), schemes.end(), [name](const std::string& s) {
            return s.size() == name.size() &&
                   std::equal(s.begin(), s.end(), name.begin(),
                              [](char a, char b) { return FoldCase(a) == FoldCase(b); });
        });
    }
    return found == schemes.end() ? -1 : static_cast<int>(found - schemes.begin()) + 1;
}

int EntryIndex(CliContext& context, std::string_view what, std::string_view word,
               std::size_t size) {
    const std::optional<int> number = ParseNumberIn(word, 1, 1 << 30);
    if (!number || static_cast<std::size_t>(*number) > size) {
        Fail(context, "there is no " + std::string(what) + " " + std::string(word) + " (" +
                          (size == 0 ? std::string("there are none")
                                     : "the numbers go from 1 to " + std::to_string(size)) +
                          "; see vantel show)");
        return -1;
    }
    return *number - 1;
}

}  // namespace vantel
