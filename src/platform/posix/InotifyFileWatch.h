// The file watch of Linux: inotify on the file's directory, read on the epoll loop.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/Debouncer.h"
#include "platform/FileWatch.h"
#include "platform/posix/EpollEventLoop.h"

namespace vantel {

class InotifyFileWatch : public FileWatch {
  public:
    /// Watches for changes to `file` once started; `changed` and `ended` run on `loop`.
    InotifyFileWatch(EpollEventLoop& loop, std::filesystem::path file,
                     std::function<void()> changed, EndedCallback ended);
    ~InotifyFileWatch() override;
    InotifyFileWatch(const InotifyFileWatch&) = delete;
    InotifyFileWatch& operator=(const InotifyFileWatch&) = delete;

    bool Start(std::string& problem) override;
    bool Watching() const override { return token_ != 0; }

  private:
    void ReadEvents();
    /// Watches the deepest folder on the way to the file's directory that exists now, if it
    /// is deeper than the one watched; false (with `problem`) when the system refuses it. A
    /// file where a folder should be is refused when `starting`, and waited out later.
    bool WatchDeepest(bool starting, std::string& problem);
    /// Whether the file's directory itself is watched, not a folder above it.
    bool AtDirectory() const { return watched_ == directory_; }
    void Close();
    void End(const std::string& why);

    EpollEventLoop& loop_;
    std::filesystem::path directory_;
    std::string name_;
    Debouncer debouncer_;
    EndedCallback ended_;
    int fd_ = -1;
    std::uint64_t token_ = 0;  ///< with the loop; 0 when not watching
    /// The folder watched: the file's directory, or while that is missing the nearest folder
    /// above it that exists.
    std::filesystem::path watched_;
    int wd_ = -1;
    std::string next_;  ///< while a folder above is watched: the name of the one awaited in it
};

}  // namespace vantel
