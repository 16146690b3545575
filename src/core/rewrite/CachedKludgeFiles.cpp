#include "core/rewrite/CachedKludgeFiles.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <system_error>
#include <utility>

namespace vantel {

bool CachedKludgeFiles::Read(const std::string& path, std::string& content) {
    try {
        return ReadCurrent(path, content);
    } catch (const std::exception&) {
        // Out of memory, or a path the system cannot take: unreadable like a missing file.
        Forget(path);
        return false;
    }
}

bool CachedKludgeFiles::ReadCurrent(const std::string& path, std::string& content) {
    namespace fs = std::filesystem;
    const fs::path file(path);
    std::error_code error;
    // The size is only given for a plain file: a directory would open, then fail on the first
    // read. Asked for on every use, so one question less counts.
    const std::uintmax_t size = fs::file_size(file, error);
    if (error) {
        Forget(path);
        return false;
    }
    const fs::file_time_type modified = fs::last_write_time(file, error);
    if (error) {
        Forget(path);
        return false;
    }

    const auto cached = std::find_if(entries_.begin(), entries_.end(),
                                     [&](const Entry& entry) { return entry.path == path; });
    if (cached != entries_.end()) {
        if (cached->modified == modified && cached->size == size) {
            entries_.splice(entries_.begin(), entries_, cached);
            content = cached->content;
            return true;
        }
        bytes_ -= cached->content.size();
        entries_.erase(cached);
    }

    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    Entry entry{path, modified, size, std::string()};
    char buffer[16 * 1024];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        entry.content.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        return false;
    }
    content = entry.content;
    Keep(std::move(entry));
    return true;
}

void CachedKludgeFiles::Forget(const std::string& path) {
    const auto cached = std::find_if(entries_.begin(), entries_.end(),
                                     [&](const Entry& entry) { return entry.path == path; });
    if (cached != entries_.end()) {
        bytes_ -= cached->content.size();
        entries_.erase(cached);
    }
}

void CachedKludgeFiles::Keep(Entry entry) {
    if (entry.content.size() > maxBytes_ || maxFiles_ == 0) {
        return;
    }
    entries_.push_front(std::move(entry));
    bytes_ += entries_.front().content.size();
    while (entries_.size() > maxFiles_ || bytes_ > maxBytes_) {
        bytes_ -= entries_.back().content.size();
        entries_.pop_back();
    }
}

}  // namespace vantel
