#include "platform/posix/XdgBrowserLauncher.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace vantel {

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

/// What the launcher hands on: Vantel's own https:// URLs, or http:// to this computer for
/// tests; printable ASCII without blanks or quotes, which the scripts behind xdg-open could
/// split or interpret.
bool Acceptable(const std::string& url) {
    const bool https = StartsWith(url, "https://") && url.size() > 8;
    const bool loopback =
        StartsWith(url, "http://127.0.0.1:") || StartsWith(url, "http://127.0.0.1/") ||
        StartsWith(url, "http://localhost:") || StartsWith(url, "http://localhost/") ||
        StartsWith(url, "http://[::1]:") || StartsWith(url, "http://[::1]/");
    if (!https && !loopback) {
        return false;
    }
    for (char c : url) {
        if (c <= ' ' || c >= 0x7f || c == '"' || c == '\'' || c == '`' || c == '\\') {
            return false;
        }
    }
    return true;
}

}  // namespace

XdgBrowserLauncher::XdgBrowserLauncher(std::string program) : program_(std::move(program)) {}

bool XdgBrowserLauncher::Open(const std::string& url, std::string& why) {
    if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
        why = "no display to open a browser on (neither DISPLAY nor WAYLAND_DISPLAY is set)";
        return false;
    }
    if (!Acceptable(url)) {
        why = "not opening the address: it is not an https:// address Vantel made";
        return false;
    }
    std::vector<char*> argv{const_cast<char*>(program_.c_str()), const_cast<char*>(url.c_str()),
                            nullptr};
    pid_t child = 0;
    const int err = posix_spawnp(&child, program_.c_str(), nullptr, nullptr, argv.data(), environ);
    if (err != 0) {
        why = "cannot start " + program_ + ": " + std::strerror(err);
        return false;
    }
    // xdg-open may stay as long as the browser does; it is reaped when it ends.
    try {
        std::thread([child] {
            int status = 0;
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::exception&) {
        // No thread: the child stays a zombie until the program ends, which is harmless.
    }
    return true;
}

}  // namespace vantel
