#include "platform/RollingLogFile.h"

#include "platform/PrivateFile.h"

namespace vantel {
namespace {

/// Each system's own line end, so the log reads well in its text editor.
#ifdef _WIN32
constexpr std::string_view kLineEnd = "\r\n";
#else
constexpr std::string_view kLineEnd = "\n";
#endif

std::filesystem::path Numbered(const std::filesystem::path& path, int number) {
    std::filesystem::path numbered = path;
    numbered += "." + std::to_string(number);
    return numbered;
}

}  // namespace

RollingLogFile::RollingLogFile(std::filesystem::path path, std::uint64_t rollBytes, int keep)
    : path_(std::move(path)), rollBytes_(rollBytes), keep_(keep < 1 ? 1 : keep) {}

bool RollingLogFile::Open() {
    if (file_.is_open()) {
        return true;
    }
    std::error_code ignored;
    if (path_.has_parent_path()) {
        std::filesystem::create_directories(path_.parent_path(), ignored);
    }
    const auto size = std::filesystem::file_size(path_, ignored);
    size_ = ignored ? 0 : size;
    // Traces in it may show what the user sent: nobody else reads it.
    MakeFilePrivate(path_);
    // Binary: the line ends are written as they are meant.
    file_.open(path_, std::ios::out | std::ios::app | std::ios::binary);
    if (!file_) {
        error_ = "cannot open " + path_.string();
        return false;
    }
    return true;
}

void RollingLogFile::Roll() {
    file_.close();
    std::error_code ignored;
    std::filesystem::remove(Numbered(path_, keep_ - 1), ignored);
    for (int number = keep_ - 2; number >= 1; --number) {
        std::filesystem::rename(Numbered(path_, number), Numbered(path_, number + 1), ignored);
    }
    if (keep_ > 1) {
        std::filesystem::rename(path_, Numbered(path_, 1), ignored);
    } else {
        std::filesystem::remove(path_, ignored);
    }
    size_ = 0;
}

void RollingLogFile::WriteLine(std::string_view line) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!Open()) {
        return;
    }
    const std::uint64_t bytes = line.size() + kLineEnd.size();
    if (rollBytes_ != 0 && size_ > 0 && size_ + bytes > rollBytes_) {
        Roll();
        if (!Open()) {
            return;
        }
    }
    file_.write(line.data(), static_cast<std::streamsize>(line.size()));
    file_.write(kLineEnd.data(), static_cast<std::streamsize>(kLineEnd.size()));
    file_.flush();
    if (!file_) {
        error_ = "cannot write " + path_.string();
        file_.close();
        file_.clear();
        return;
    }
    error_.clear();
    size_ += bytes;
}

bool RollingLogFile::Ready() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return Open();
}

std::string RollingLogFile::LastError() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

}  // namespace vantel
