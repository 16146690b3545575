#include "platform/PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantel {

void MakeFilePrivate(const std::filesystem::path& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) {
        return;
    }
    // A terminal or a pipe given as the log (/dev/stderr) keeps its own permissions.
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & 077) != 0) {
        (void)fchmod(fd, S_IRUSR | S_IWUSR);
    }
    close(fd);
}

}  // namespace vantel
