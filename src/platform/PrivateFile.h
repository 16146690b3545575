// Files that may hold what only their owner should read: traces, logins in a log.
#pragma once

#include <filesystem>

namespace vantel {

/// Makes `path` a file only its owner may read and write: created so when missing, and an
/// existing regular file's other permissions taken away. Nothing on Windows, where such files
/// live in the user's profile. A failure is left to the opening that follows to report.
void MakeFilePrivate(const std::filesystem::path& path);

}  // namespace vantel
