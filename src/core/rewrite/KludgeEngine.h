// Applying the user's kludges to one header line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/config/RelaySettings.h"
#include "core/rewrite/CompiledKludges.h"
#include "core/rewrite/KludgeFileReader.h"
#include "core/rewrite/KludgeTypes.h"
#include "core/rewrite/RandomSource.h"
#include "platform/Notifier.h"

namespace vantel {

class KludgeEngine {
  public:
    /// Longest replacement a kludge puts out after its header name, CR LF included; a file
    /// line is cut to fit.
    static constexpr std::size_t kReplacementCapacity = 1023;
    /// What the user is told of a kludge file that cannot be read; "%s" is its path. The
    /// tray program's string table holds the same text.
    static constexpr std::string_view kFileOpenErrorText = "Error opening file '%s'.";

    /// Follows the kludge lists of `settings` as they are edited (see CompiledKludges).
    /// Kludge files come through `files`; `notifier` hears of those that cannot be read.
    KludgeEngine(const RelaySettings& settings, RandomSource& random, Notifier& notifier,
                 KludgeFileReader& files)
        : settings_(settings), random_(random), notifier_(notifier), files_(files) {}

    /// Appends to `output` what every kludge of `type` makes of `line` (a whole logical line
    /// with its CR LF), in list order, the lists as they stand now. True when the line itself
    /// was changed, deleted or taken over, so the caller must not pass it on.
    bool ApplyHeaderKludges(std::string_view line, KludgeType type, std::string& output) {
        Refresh();
        return ApplyRefreshedKludges(line, type, output);
    }

    /// Takes up edits of the kludge lists, for ApplyRefreshedKludges.
    void Refresh() { compiled_.Refresh(settings_); }
    /// ApplyHeaderKludges with the lists as the last Refresh found them, for a caller that
    /// applies them to many lines at a time.
    bool ApplyRefreshedKludges(std::string_view line, KludgeType type, std::string& output);

    /// The line of a kludge file that the random number `r` (0 to 32767) picks; `content` has
    /// LF line ends and ends at its first NUL byte. Only lines ended by an LF can be picked,
    /// unless there is just one line.
    static std::string_view ChooseFileLine(std::string_view content, int r);

  private:
    /// Appends "  <a random line of the file>\r\n", or "  \r\n" and a notice when the
    /// file cannot be read.
    void AppendFileLine(const std::string& path, std::string& output);

    const RelaySettings& settings_;
    RandomSource& random_;
    Notifier& notifier_;
    KludgeFileReader& files_;
    CompiledKludges compiled_;
    std::string fileText_;  ///< kept to spare an allocation per file line
};

}  // namespace vantel
