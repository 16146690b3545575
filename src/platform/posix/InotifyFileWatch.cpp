#include "platform/posix/InotifyFileWatch.h"

#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vantel {

namespace {

// What can happen to the file under its name. A rename over it is IN_MOVED_TO (the temporary
// file it came from has a name of its own); a write in place is IN_MODIFY up to
// IN_CLOSE_WRITE.
constexpr std::uint32_t kFileEvents =
    IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
// What ends the watch. A directory moved elsewhere would still be watched where the file no
// longer is looked for, so that ends it as well.
constexpr std::uint32_t kEndEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

std::string SystemReason(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
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
        problem = SystemReason("inotify");
        return false;
    }
    if (inotify_add_watch(fd_, directory_.c_str(),
                          kFileEvents | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR) < 0) {
        problem = SystemReason(directory_.c_str());
        Close();
        return false;
    }
    token_ = loop_.AddDescriptor(fd_, EPOLLIN, [this] { ReadEvents(); });
    if (token_ == 0) {
        problem = SystemReason("epoll");
        Close();
        return false;
    }
    return true;
}

void InotifyFileWatch::ReadEvents() {
    // Room for many events, and at least for one with the longest name; aligned as they are.
    alignas(inotify_event) char buffer[16 * 1024];
    bool changed = false;
    std::string ended;
    for (;;) {
        const ssize_t length = read(fd_, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR) {
            continue;
        }
        if (length <= 0) {
            if (length < 0 && errno != EAGAIN) {
                ended = SystemReason("inotify");
            }
            break;
        }
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                changed = true;  // events were lost; the file's may be among them
            } else if ((event->mask & kEndEvents) != 0) {
                if (ended.empty()) {
                    ended = directory_.string() + EndReason(event->mask);
                }
            } else if (event->len > 0 && name_ == event->name) {
                changed = true;
            }
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
        close(fd_);  // with the descriptor goes its watch
        fd_ = -1;
    }
}

}  // namespace vantel
