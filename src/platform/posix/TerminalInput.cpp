#include "platform/TerminalInput.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vantel {

bool StandardInputIsTerminal() {
    return isatty(STDIN_FILENO) != 0;
}

bool ReadHiddenLine(std::string_view prompt, std::string& line, std::string& error) {
    termios saved{};
    if (tcgetattr(STDIN_FILENO, &saved) != 0) {
        error = "standard input is not a terminal";
        return false;
    }
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    // Echo goes off before the prompt shows: input typed after the prompt must not be
    // flushed, nor echoed.
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) {
        error = std::strerror(errno);
        return false;
    }
    // The prompt goes to standard error: standard output may be a pipe to a script.
    [[maybe_unused]] const ssize_t shown = write(STDERR_FILENO, prompt.data(), prompt.size());
    line.clear();
    bool ended = false;
    for (;;) {
        char c = 0;
        const ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        if (c == '\n') {
            ended = true;
            break;
        }
        line.push_back(c);
    }
    const int readError = errno;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!ended && line.empty()) {
        error = readError != 0 ? std::strerror(readError) : "no input";
        return false;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

}  // namespace vantel
