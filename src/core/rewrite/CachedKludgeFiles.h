// Kludge files read once and served from memory while they stay unchanged: the relay takes a
// line from them for every matching header line, on the event thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <list>
#include <string>

#include "core/rewrite/KludgeFileReader.h"

namespace vantel {

class CachedKludgeFiles : public KludgeFileReader {
  public:
    static constexpr std::size_t kMaxFiles = 32;
    static constexpr std::size_t kMaxBytes = 8 * 1024 * 1024;

    /// Keeps at most `maxFiles` files and `maxBytes` of their text, dropping the least
    /// recently used first; a file bigger than `maxBytes` is read every time.
    explicit CachedKludgeFiles(std::size_t maxFiles = kMaxFiles, std::size_t maxBytes = kMaxBytes)
        : maxFiles_(maxFiles), maxBytes_(maxBytes) {}

    /// Only plain files are read. The cached text is used while the file's modification time
    /// and size are those it was read with. Never throws.
    bool Read(const std::string& path, std::string& content) override;

    std::size_t cachedFiles() const { return entries_.size(); }
    std::size_t cachedBytes() const { return bytes_; }

  private:
    struct Entry {
        std::string path;
        std::filesystem::file_time_type modified;
        std::uintmax_t size = 0;
        std::string content;
    };

    bool ReadCurrent(const std::string& path, std::string& content);
    void Forget(const std::string& path);
    void Keep(Entry entry);

    std::size_t maxFiles_;
    std::size_t maxBytes_;
    std::list<Entry> entries_;  // most recently used first
    std::size_t bytes_ = 0;
};

}  // namespace vantel
