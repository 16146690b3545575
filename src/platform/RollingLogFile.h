// A log file that starts afresh when it grows too large, keeping a few old ones.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "platform/LogSink.h"

namespace vantel {

/// Appends lines to `path`. Once the file would pass `rollBytes`, it becomes "<path>.1" (the
/// one before that "<path>.2", and so on) and a new file starts; `keep` files are kept in
/// all, the current one included. `rollBytes` 0 never rolls. The folder is made when
/// missing; the file is its owner's alone (MakeFilePrivate). A log that cannot be written
/// loses its lines, never the program.
class RollingLogFile : public LogSink {
  public:
    static constexpr std::uint64_t kRollBytes = 1024 * 1024;
    static constexpr int kKeep = 3;

    explicit RollingLogFile(std::filesystem::path path, std::uint64_t rollBytes = kRollBytes,
                            int keep = kKeep);

    void WriteLine(std::string_view line) override;
    /// Opens the file, making its folder; false (with LastError) when it cannot be written.
    bool Ready();
    const std::filesystem::path& path() const { return path_; }
    /// Why the last line could not be written; empty when it was.
    std::string LastError() const;

  private:
    bool Open();
    void Roll();

    const std::filesystem::path path_;
    const std::uint64_t rollBytes_;
    const int keep_;
    mutable std::mutex mutex_;
    std::ofstream file_;
    std::uint64_t size_ = 0;
    std::string error_;
};

}  // namespace vantel
