#include "cli/CliMessages.h"

#include <ostream>

#include "cli/PrintableText.h"
#include "cli/SettingsWords.h"

namespace vantel {

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
