// How the commands end: one line on the error stream and the exit status.
#pragma once

#include <string>
#include <string_view>

#include "cli/CliContext.h"

namespace vantel {

/// Exit statuses: done, failed (or problems found), the command line was wrong.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

/// "vantel: <message>" on the error stream; returns kExitFailed.
int Fail(CliContext& context, std::string_view message);
/// "vantel <command>: <problem>" and where the help is; returns kExitUsage.
int UsageError(CliContext& context, std::string_view command, std::string_view problem);

/// The 0-based position of entry `word` (a 1-based number) in a list of `size`; -1, with the
/// message given, when it names none.
int EntryIndex(CliContext& context, std::string_view what, std::string_view word, std::size_t size);

}  // namespace vantel
