// Replacing a file so that it is always either the old or the new content, whole.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vantel {

/// Writes `bytes` to a new file beside `path` (owner-only access where the system has modes),
/// flushes it to disk and renames it over `path`, creating the parent directory if missing
/// (owner-only too). Where `path` is a symbolic link, the file it points to is replaced the
/// same way and the link stays. On failure `path` is untouched, no temporary file is left, and
/// `error` names the file and the system's reason.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string& error);

}  // namespace vantel
