// Applying the user's kludges to one header line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/config/RelaySettings.h"
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

    /// Reads the kludge lists of `settings` afresh for every line, so edits apply at once.
    /// Kludge files come through `files`; `notifier` hears of those that cannot be read.
    KludgeEngine(const RelaySettings& settings, RandomSource& random, Notifier& notifier,
                 KludgeFileReader& files)
        : settings_(settings), random_(random), notifier_(notifier), files_(files) {}

    /// Appends to `output` what every kludge of `type` makes of `line` (a whole logical line
    /// with its CR LF), in list order. True when the line itself was changed, deleted or
    /// taken over, so the caller must not pass it on.
    bool ApplyHeaderKludges(std::string_view line, KludgeType type, std::string& output);

    /// Reads a Subst entry "<action> <text>" and gives the action number; `replacement`
    /// receives "  <text>\r\n" (the text alone for a special kludge, whose text is its signal
    /// string; a random line of the named file for TakeFromFile).
    int BuildReplacement(std::string_view substEntry, std::string& replacement);

    /// The line of a kludge file that the random number `r` (0 to 32767) picks; `content` has
    /// LF line ends and ends at its first NUL byte. Only lines ended by an LF can be picked,
    /// unless there is just one line.
    static std::string_view ChooseFileLine(std::string_view content, int r);

  private:
    bool ReadKludgeFile(const std::string& path, std::string& content);

    const RelaySettings& settings_;
    RandomSource& random_;
    Notifier& notifier_;
    KludgeFileReader& files_;
};

}  // namespace vantel
