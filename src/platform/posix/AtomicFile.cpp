#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

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

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string& error) {
    std::filesystem::path dir = path.parent_path();
    if (dir.empty()) {
        dir = ".";
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = "cannot create directory " + dir.string() + ": " + ec.message();
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
