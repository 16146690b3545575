#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

namespace vantel {

namespace {

std::string Describe(std::string_view what, const std::filesystem::path& path, int err) {
    return std::string(what) + " " + path.string() + ": " + std::strerror(err);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

/// The file a save replaces: `path`, or the file a symbolic link there points to (through a
/// chain of them), so that a link stays a link. A link to nothing names the file to create.
bool SaveTarget(const std::filesystem::path& path, std::filesystem::path& target,
                std::string& error) {
    target = path;
    // As many links as the system follows in one path.
    for (int links = 0; links < 40; ++links) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(target, ec)) {
            return true;
        }
        const std::filesystem::path next = std::filesystem::read_symlink(target, ec);
        if (ec) {
            error = "cannot read the link " + target.string() + ": " + ec.message();
            return false;
        }
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    error = Describe("cannot save", path, ELOOP);
    return false;
}

/// Creates `dir` and the folders above it that are missing, for their owner only: the
/// settings hold stored logins.
bool CreateFolders(const std::filesystem::path& dir, std::string& error) {
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path folder = dir; !folder.empty(); folder = folder.parent_path()) {
        std::error_code ec;
        if (std::filesystem::exists(folder, ec) || folder == folder.parent_path()) {
            break;
        }
        missing.push_back(folder);
    }
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
        if (::mkdir(folder->c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create directory " + folder->string() + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& requested, std::string_view bytes,
                         std::string& error) {
    std::filesystem::path path;
    if (!SaveTarget(requested, path, error)) {
        return false;
    }
    std::filesystem::path dir = path.parent_path();
    if (dir.empty()) {
        dir = ".";
    }
    if (!CreateFolders(dir, error)) {
        return false;
    }

    // mkostemp creates the file with mode 0600: settings may hold passwords.
    std::string temp = path.string() + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        error = Describe("cannot create a temporary file for", path, errno);
        return false;
    }
    const auto abandon = [&](std::string_view what, int err, bool open) {
        if (open) {
            ::close(fd);
        }
        ::unlink(temp.c_str());
        error = Describe(what, path, err);
        return false;
    };
    if (!WriteAll(fd, bytes)) {
        return abandon("cannot write", errno, true);
    }
    if (::fsync(fd) != 0) {
        return abandon("cannot flush", errno, true);
    }
    if (::close(fd) != 0) {
        return abandon("cannot write", errno, false);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        return abandon("cannot replace", errno, false);
    }

    // Makes the rename itself durable; file systems that cannot sync a directory say EINVAL.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        const bool synced = ::fsync(dirFd) == 0 || errno == EINVAL;
        const int err = errno;
        ::close(dirFd);
        if (!synced) {
            error = Describe("cannot flush the directory of", path, err);
            return false;
        }
    }
    return true;
}

}  // namespace vantel
