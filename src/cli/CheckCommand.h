// vantel check: what stands in the way of the mail, found before it flows.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/CliContext.h"
#include "core/config/RelaySettings.h"

namespace vantel {

class CheckCommand {
  public:
    static constexpr const char* kHelp =
        "Usage: vantel check\n"
        "Reads the settings and reports every problem found, each with what to do: a file\n"
        "that cannot be read, two entries of different types on one local port, a kludge\n"
        "file that is missing, a kludge naming a special kludge that does not exist, a stored\n"
        "POP3 login that cannot be read back, a listen address this computer does not have,\n"
        "a pinned fingerprint of the wrong form, and more. Exit status 0 when there is none,\n"
        "1 when there are problems.\n";

    struct Problem {
        std::string what;
        std::string todo;
    };

    explicit CheckCommand(CliContext& context) : context_(context) {}
    int Run(const std::vector<std::string>& words);

    /// The problems of `settings`. `canListen` says whether this computer can listen on an
    /// address, and why not.
    static std::vector<Problem> FindProblems(
        const RelaySettings& settings,
        const std::function<bool(const std::string& address, std::string& why)>& canListen);

  private:
    CliContext& context_;
};

}  // namespace vantel
