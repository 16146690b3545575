// vantel rewrite: the kludges tried on a message, with no network.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/CliContext.h"
#include "core/config/RelaySettings.h"
#include "core/rewrite/KludgeTypes.h"
#include "platform/Notifier.h"

namespace vantel {

class RewriteCommand {
  public:
    static constexpr const char* kHelp =
        "Usage: vantel rewrite --smtp|--pop3 [--diff] [FILE]\n"
        "Reads a message from FILE (or standard input) and writes it as the relay would pass\n"
        "it on with the current rules: --smtp as a client sends it, --pop3 as a POP3 server\n"
        "delivers it. Nothing is sent anywhere. A file with Unix line ends is read as a\n"
        "client sends it (CR LF) and written back with Unix line ends.\n"
        "  --diff  only the header lines that change: - as they came, + as they leave\n";

    explicit RewriteCommand(CliContext& context) : context_(context) {}
    int Run(const std::vector<std::string>& words);

    /// `message` through the relay's rewriting, in the blocks the relay reads.
    static std::string Rewrite(const RelaySettings& settings, KludgeType mode,
                               const std::string& message, std::uint32_t seed, Notifier& notifier);
    /// The header lines that differ between `before` and `after`, "- " and "+ " before them.
    static std::string HeaderDiff(const std::string& before, const std::string& after);

  private:
    CliContext& context_;
};

}  // namespace vantel
