#include "platform/posix/FileTokenStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/AtomicFile.h"

namespace vantel {

namespace {

std::string Reason(int err) {
    return std::strerror(err);
}

std::string Octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%03o", static_cast<unsigned>(mode & 0777));
    return text;
}

}  // namespace

FileTokenStore::FileTokenStore(std::filesystem::path directory)
    : directory_(std::move(directory)) {}

std::filesystem::path FileTokenStore::DefaultDirectory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::filesystem::path(state) / "vantel" / "tokens";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / ".local" / "state" / "vantel" / "tokens";
    }
    return {};
}

std::string FileTokenStore::DirectoryProblem() const {
    struct stat status {};
    if (::lstat(directory_.c_str(), &status) != 0) {
        return errno == ENOENT
                   ? std::string()
                   : "cannot read the directory " + directory_.string() + ": " + Reason(errno);
    }
    const std::string dir = directory_.string();
    if (!S_ISDIR(status.st_mode)) {
        return dir + " is not a directory; remove it and sign in again";
    }
    if (status.st_uid != ::geteuid()) {
        return "the directory " + dir + " belongs to another user; remove it and sign in again";
    }
    if ((status.st_mode & 077) != 0) {
        return "the directory " + dir + " may be opened by other users (mode " +
               Octal(status.st_mode) + "); run: chmod 700 " + dir;
    }
    return {};
}

TokenStore::Loaded FileTokenStore::Load(std::string_view key) {
    Loaded loaded;
    loaded.problem = KeyProblem(key);
    if (!loaded.problem.empty()) {
        return loaded;
    }
    if (directory_.empty()) {
        return loaded;  // nowhere to keep records, so none is kept
    }
    loaded.problem = DirectoryProblem();
    if (!loaded.problem.empty()) {
        return loaded;
    }
    const std::filesystem::path path = directory_ / std::string(key);
    const std::string file = path.string();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) {
            return loaded;
        }
        loaded.problem = errno == ELOOP ? file + " is a symbolic link; remove it and sign in again"
                                        : "cannot read " + file + ": " + Reason(errno);
        return loaded;
    }
    struct stat status {};
    std::string problem;
    if (::fstat(fd, &status) != 0) {
        problem = "cannot read " + file + ": " + Reason(errno);
    } else if (!S_ISREG(status.st_mode)) {
        problem = file + " is not a regular file; remove it and sign in again";
    } else if (status.st_uid != ::geteuid()) {
        problem = file + " belongs to another user; remove it and sign in again";
    } else if ((status.st_mode & 077) != 0) {
        problem = file + " may be read by other users (mode " + Octal(status.st_mode) +
                  "); run: chmod 600 " + file;
    } else if (static_cast<std::uint64_t>(status.st_size) > kMaxRecord) {
        problem = file + " is too large to be a token record; remove it and sign in again";
    }
    std::string record;
    if (problem.empty()) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                problem = "cannot read " + file + ": " + Reason(errno);
                break;
            }
            if (n == 0) {
                break;
            }
            record.append(buffer, static_cast<std::size_t>(n));
            if (record.size() > kMaxRecord) {
                problem = file + " is too large to be a token record; remove it and sign in again";
                break;
            }
        }
    }
    ::close(fd);
    if (!problem.empty()) {
        loaded.problem = std::move(problem);
        return loaded;
    }
    loaded.record = std::move(record);
    return loaded;
}

bool FileTokenStore::Save(std::string_view key, std::string_view record, std::string& error) {
    error = KeyProblem(key);
    if (!error.empty()) {
        return false;
    }
    if (directory_.empty()) {
        error = "no place for token records: neither XDG_STATE_HOME nor HOME is set";
        return false;
    }
    error = DirectoryProblem();
    if (!error.empty()) {
        return false;
    }
    // Missing folders are made owner-only, and the file is written 0600 and renamed into place.
    return WriteFileAtomically(directory_ / std::string(key), record, error);
}

bool FileTokenStore::Remove(std::string_view key, std::string& error) {
    error = KeyProblem(key);
    if (!error.empty()) {
        return false;
    }
    const std::filesystem::path path = directory_ / std::string(key);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = "cannot delete " + path.string() + ": " + Reason(errno);
        return false;
    }
    return true;
}

std::string FileTokenStore::Location() const {
    const std::string dir = directory_.string();
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        std::string prefix = home;
        if (!prefix.empty() && prefix.back() != '/') {
            prefix += '/';
        }
        if (prefix.size() > 1 && dir.compare(0, prefix.size(), prefix) == 0) {
            return "~/" + dir.substr(prefix.size());
        }
    }
    return dir;
}

std::uint64_t FileTokenStore::Generation(std::string_view key) {
    if (!ValidKey(key)) {
        return 0;
    }
    const std::filesystem::path path = directory_ / std::string(key);
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        // A missing record is a state of its own, different from every saved one.
        return errno == ENOENT ? 1 : 0;
    }
    // Every save renames a new file into place: a new inode, and a new change time.
    return GenerationOf({static_cast<std::uint64_t>(status.st_ino),
                         static_cast<std::uint64_t>(status.st_dev),
                         static_cast<std::uint64_t>(status.st_size),
                         static_cast<std::uint64_t>(status.st_mtim.tv_sec),
                         static_cast<std::uint64_t>(status.st_mtim.tv_nsec),
                         static_cast<std::uint64_t>(status.st_ctim.tv_sec),
                         static_cast<std::uint64_t>(status.st_ctim.tv_nsec)});
}

}  // namespace vantel
