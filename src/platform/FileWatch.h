// Following a file that other programs rewrite.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vantel {

/// Calls a function on the event loop when a named file in a directory changes: written in
/// place, created, removed, or replaced by a rename over it (how FileStore saves). Only that
/// name counts, not the other files of the directory. The directory is what is watched, so
/// the file may come and go; while the directory is missing, the nearest folder above it that
/// exists is watched instead, and the watch moves down as the folders appear. A burst of
/// changes (one save is several) makes one call, once the file has been quiet for kQuietMs,
/// or kMaxWaitMs after the burst began if it goes on. Used on the loop's thread only.
class FileWatch {
  public:
    /// Long enough to see a save through, short enough that a person does not wait.
    static constexpr std::uint32_t kQuietMs = 200;
    static constexpr std::uint32_t kMaxWaitMs = 1000;

    /// Told on the loop when watching ends by itself (the directory, or the folder watched
    /// while it is missing, was removed or moved away), with why; no change is reported after it.
    using EndedCallback = std::function<void(const std::string& why)>;

    virtual ~FileWatch() = default;

    /// Begins watching; false when it cannot (a file where a folder should be, the system
    /// refused), with `problem` naming what failed and the system's reason; nothing is
    /// reported then.
    virtual bool Start(std::string& problem) = 0;
    /// Whether changes are reported now: started, and not ended.
    virtual bool Watching() const = 0;
};

}  // namespace vantel
