#include "platform/posix/InotifyFileWatch.h"

#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace vantel {

namespace {

// What can happen to the file under its name. A rename over it is IN_MOVED_TO (the temporary
// file it came from has a name of its own); a write in place is IN_MODIFY up to
// IN_CLOSE_WRITE.
constexpr std::uint32_t kFileEvents =
    IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
// In a folder above a directory that is missing: the next folder on the way appearing.
constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_MOVED_TO;
// What ends the watch. A directory moved elsewhere would still be watched where the file no
// longer is looked for, so that ends it as well.
constexpr std::uint32_t kEndEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;
// Tries at finding the deepest folder while others create and remove folders on the way.
constexpr int kMaxDescents = 64;

std::string SystemReason(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

const char* EndReason(std::uint32_t mask) {
    if ((mask & IN_UNMOUNT) != 0) {
        return ": its file system was unmounted";
    }
    return (mask & IN_MOVE_SELF) != 0 ? ": moved away" : ": removed";
}

}  // namespace

InotifyFileWatch::InotifyFileWatch(EpollEventLoop& loop, std::filesystem::path file,
                                   std::function<void()> changed, EndedCallback ended)
    : loop_(loop),
      directory_(file.has_parent_path() ? file.parent_path() : std::filesystem::path(".")),
      name_(file.filename().string()),
      debouncer_(loop, kQuietMs, kMaxWaitMs, std::move(changed)),
      ended_(std::move(ended)) {}

InotifyFileWatch::~InotifyFileWatch() {
    Close();
}

bool InotifyFileWatch::Start(std::string& problem) {
    if (Watching()) {
        return true;
    }
    if (name_.empty() || name_ == "." || name_ == "..") {
        problem = (directory_ / name_).string() + ": names no file";
        return false;
    }
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        problem = SystemReason("inotify", errno);
        return false;
    }
    if (!WatchDeepest(true, problem)) {
        Close();
        return false;
    }
    token_ = loop_.AddDescriptor(fd_, EPOLLIN, [this] { ReadEvents(); });
    if (token_ == 0) {
        problem = SystemReason("epoll", errno);
        Close();
        return false;
    }
    return true;
}

bool InotifyFileWatch::WatchDeepest(bool starting, std::string& problem) {
    for (int attempt = 0; attempt < kMaxDescents; ++attempt) {
        // Up from the directory to the first path that is there (or to the one watched).
        std::filesystem::path candidate = directory_;
        std::filesystem::path below;
        std::error_code ignored;
        while (candidate != watched_ && !std::filesystem::exists(candidate, ignored)) {
            std::filesystem::path parent =
                candidate.has_relative_path() ? candidate.parent_path() : candidate;
            if (parent.empty()) {
                parent = ".";
            }
            if (parent == candidate) {
                break;
            }
            below = candidate;
            candidate = parent;
        }
        if (candidate == watched_) {
            return true;
        }
        const std::uint32_t events = candidate == directory_ ? kFileEvents : kFolderEvents;
        const int wd = inotify_add_watch(fd_, candidate.c_str(),
                                         events | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
        if (wd < 0) {
            const int error = errno;
            if (error == ENOENT) {
                continue;  // removed again since it was seen
            }
            if (!starting && error == ENOTDIR) {
                return true;  // a file under the folder's name: the folder may come yet
            }
            problem = SystemReason(candidate.c_str(), error);
            return false;
        }
        // Watched before the old watch goes, so nothing in between is missed; the old one's
        // IN_IGNORED is then told apart by its descriptor.
        if (wd_ >= 0 && wd != wd_) {
            inotify_rm_watch(fd_, wd_);
        }
        wd_ = wd;
        watched_ = candidate;
        next_ = below.filename().string();
        // Round again: the next folder may have appeared before this watch began.
    }
    problem = directory_.string() + ": its folders keep changing";
    return false;
}

void InotifyFileWatch::ReadEvents() {
    // Room for many events, and at least for one with the longest name; aligned as they are.
    alignas(inotify_event) char buffer[16 * 1024];
    bool changed = false;
    bool descend = false;
    std::string ended;
    for (;;) {
        const ssize_t length = read(fd_, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR) {
            continue;
        }
        if (length <= 0) {
            if (length < 0 && errno != EAGAIN) {
                ended = SystemReason("inotify", errno);
            }
            break;
        }
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            // Events of a folder above, given up on the way down, have another descriptor.
            const bool ours = event->wd == wd_;
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                // Events were lost; the file's, or the next folder's, may be among them.
                changed = changed || AtDirectory();
                descend = descend || !AtDirectory();
            } else if (ours && (event->mask & kEndEvents) != 0) {
                if (ended.empty()) {
                    ended = watched_.string() + EndReason(event->mask);
                }
            } else if (ours && event->len > 0) {
                const std::string_view name = event->name;
                changed = changed || (AtDirectory() && name == name_);
                descend = descend || (!AtDirectory() && name == next_);
            }
        }
    }
    if (descend && ended.empty()) {
        std::string problem;
        if (!WatchDeepest(false, problem)) {
            ended = problem;
        } else if (AtDirectory()) {
            // Saved before the directory was watched: seen by looking.
            std::error_code ignored;
            changed = changed || std::filesystem::exists(directory_ / name_, ignored);
        }
    }
    if (changed) {
        debouncer_.Poke();
    }
    if (!ended.empty()) {
        End(ended);
    }
}

void InotifyFileWatch::End(const std::string& why) {
    Close();
    // A copy: the callback may destroy this watch.
    const EndedCallback ended = ended_;
    if (ended) {
        ended(why);
    }
}

void InotifyFileWatch::Close() {
    if (token_ != 0) {
        loop_.RemoveDescriptor(token_, fd_);
        token_ = 0;
    }
    if (fd_ >= 0) {
        close(fd_);  // with the descriptor go its watches
        fd_ = -1;
    }
    watched_.clear();
    wd_ = -1;
}

}  // namespace vantel
